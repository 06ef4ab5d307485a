// Periodic saving through the exported functions, checked on the files written: what was
// learned reaches the disk after autosave_interval OnSecondChange events, only the files that
// changed are rewritten, a running think pass puts the save off, and a file that cannot be
// written is reported to the session's problems once.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include "platform/text_codec.h"
#include "shiori/shiori_server.h"
#include "support/ghost_fixture.h"
#include "support/host_block.h"

namespace zelka {
namespace {

namespace fs = std::filesystem;
using testing::ConfigOptions;
using testing::CurrentDirectory;
using testing::TempGhost;

constexpr char kSecond[] =
    "GET Sentence SHIORI/2.2\r\nSender: SSP\r\nEvent: OnSecondChange\r\nReference0: 1\r\n\r\n";

using testing::mallocCopy;

std::string heard(const std::string& sentence) {
  return "GET Sentence SHIORI/2.2\r\nSender: Anna\r\nSecurityLevel: local\r\nSentence: " +
         sentence + "\r\n\r\n";
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class Session {
 public:
  // autosave: the autosave_interval attribute as written, or empty for none.
  explicit Session(const std::string& autosave, const std::string& thinkWait = "5") {
    ConfigOptions options;
    options.profileExtra = autosave;
    std::string config = testing::makeConfig(options);
    config.replace(config.find("think_wait=\"5\""), std::strlen("think_wait=\"5\""),
                   "think_wait=\"" + thinkWait + "\"");
    ghost_ = std::make_unique<TempGhost>(config);
    ghost_->write("vender/talk.tlk", testing::knowledgeFile(testing::knowledgeBlock(
                                         "OnZelkaCommunicate", "heard")));
    cwd_ = std::make_unique<CurrentDirectory>(ghost_->dir());
    server_ = std::make_unique<ShioriServer>();
    loaded_ = server_->exportLoad(mallocCopy(ghost_->dir()),
                                  static_cast<long>(ghost_->dir().size())) == 1;
  }
  ~Session() {
    server_->exportUnload();
    server_.reset();
    cwd_.reset();
  }

  bool loaded() const { return loaded_; }
  ShioriServer& server() { return *server_; }
  std::string learning(const std::string& file) const { return ghost_->path("_learning/" + file); }

  std::string request(const std::string& text) {
    long length = static_cast<long>(text.size());
    void* response = server_->exportRequest(mallocCopy(text), &length);
    std::string out = response != nullptr ? static_cast<char*>(response) : "";
    std::free(response);
    return out;
  }
  // One OnSecondChange; returns once a save it started is on disk.
  void second() {
    request(kSecond);
    server_->autosave().waitForWriter();
  }
  void setVariable(const std::string& assignment) {
    request("GET Word SHIORI/2.0\r\nType: \\formula[" + assignment + "]\r\n\r\n");
  }

  // When the file was last replaced; nullopt while it does not exist.
  std::optional<fs::file_time_type> written(const std::string& file) const {
    std::error_code error;
    const fs::file_time_type time = fs::last_write_time(learning(file), error);
    if (error) return std::nullopt;
    return time;
  }

 private:
  std::unique_ptr<TempGhost> ghost_;
  std::unique_ptr<CurrentDirectory> cwd_;
  std::unique_ptr<ShioriServer> server_;
  bool loaded_ = false;
};

// After a heard sentence, the number of OnSecondChange events until bind.xml is rewritten
// (0: not within 700), and whether the value drew a warning.
TEST(Autosave, IntervalComesFromTheConfigurationInSeconds) {
  struct Case {
    const char* profile;
    int seconds;
    bool warned;
  };
  const Case cases[] = {
      {"", 600, false},                            // the default: ten minutes
      {" autosave_interval=\"3\"", 3, false},
      {" autosave_interval=\" 2 \"", 2, false},
      {" autosave_interval=\"0\"", 0, false},      // off: only unload saves
      {" autosave_interval=\"10分\"", 600, true},  // not a number: the default, and a warning
      {" autosave_interval=\"-5\"", 600, true},
  };
  for (const Case& c : cases) {
    Session session(toNarrow(utf8ToUtf16(c.profile)));
    ASSERT_TRUE(session.loaded()) << c.profile;
    session.request(heard("abc"));
    const auto before = session.written("bind.xml");
    int seconds = 0;
    for (int s = 1; s <= 700 && seconds == 0; ++s) {
      session.second();
      if (session.written("bind.xml") != before) seconds = s;
    }
    EXPECT_EQ(seconds, c.seconds) << c.profile;
    int warnings = 0;
    while (std::optional<Problem> problem = session.server().problems().take()) {
      if (problem->message.find("autosave_interval") == std::string::npos) continue;
      EXPECT_EQ(problem->severity, Problem::Severity::Warning);
      ++warnings;
    }
    EXPECT_EQ(warnings, c.warned ? 1 : 0) << c.profile;
  }
}

TEST(Autosave, WritesOnlyWhatChangedSinceTheLastSave) {
  Session session(" autosave_interval=\"2\"");
  ASSERT_TRUE(session.loaded());
  const auto index = session.written("index.xml");
  const auto journal = session.written("journal.xml");
  const auto neuron = session.written("neuron.xml");
  ASSERT_TRUE(index && journal && neuron);
  EXPECT_FALSE(session.written("reflex.txt"));

  session.request(heard("abc"));
  session.setVariable("count = 7");
  session.second();
  EXPECT_FALSE(session.written("reflex.txt"));
  session.second();
  // The heard sentence and the variable are on disk; the untouched stores were not rewritten.
  const std::string bind = readFile(session.learning("bind.xml"));
  EXPECT_NE(bind.find("name=\"a\""), std::string::npos);
  const std::string reflex = readFile(session.learning("reflex.txt"));
  EXPECT_NE(reflex.find("count\x01" "7\n"), std::string::npos);
  EXPECT_EQ(session.written("index.xml"), index);
  EXPECT_EQ(session.written("journal.xml"), journal);
  EXPECT_EQ(session.written("neuron.xml"), neuron);

  // Nothing learned, nothing changed: the next saves write nothing at all.
  const auto bindWritten = session.written("bind.xml");
  const auto reflexWritten = session.written("reflex.txt");
  for (int s = 0; s < 4; ++s) session.second();
  EXPECT_EQ(session.written("bind.xml"), bindWritten);
  EXPECT_EQ(session.written("reflex.txt"), reflexWritten);

  // A new word reaches the word index and the neuron network with the next save.
  session.request("GET Word SHIORI/2.0\r\nType: %ms[kiwi]\r\n\r\n");
  session.second();
  session.second();
  EXPECT_NE(readFile(session.learning("index.xml")).find("name=\"kiwi\""),
            std::string::npos);
  EXPECT_NE(session.written("neuron.xml"), neuron);
  EXPECT_EQ(session.written("bind.xml"), bindWritten);
}

TEST(Autosave, ARunningThinkPassPutsTheSaveOff) {
  Session session(" autosave_interval=\"1\"", "100000");
  ASSERT_TRUE(session.loaded());
  // A sentence long enough that its pass outlasts the first wait and the requests below: a
  // pass that ended would be answered with the talk at once.
  std::string kanji;
  for (char16_t c = 0x4E00; kanji.size() < 4000; ++c) {
    const std::string narrow = toNarrow(std::u16string(1, c));
    if (narrow.size() == 2) kanji += narrow;
  }
  std::string text;
  while (text.size() < 400000) text += kanji;
  const auto before = session.written("bind.xml");
  ASSERT_NE(session.request(heard(text)).find(" 204 "), std::string::npos)
      << "the pass ended within the first wait";
  session.second();
  session.second();
  EXPECT_EQ(session.written("bind.xml"), before);
  // A script accepts thinking, which stops the pass; the save that waited comes next.
  session.setVariable("__Think_accept = 1");
  session.second();
  EXPECT_NE(session.written("bind.xml"), before);
}

TEST(Autosave, AFailedSaveIsReportedOnceAndTriedAgain) {
  Session session(" autosave_interval=\"1\"");
  ASSERT_TRUE(session.loaded());
  // A directory in the file's place cannot be replaced, not even by root.
  fs::remove(session.learning("bind.xml"));
  fs::create_directory(session.learning("bind.xml"));
  session.request(heard("abc"));
  session.second();
  session.request(heard("abd"));
  session.second();   // the failure is collected here, and the save tried again
  session.second();
  ProblemList& problems = session.server().problems();
  std::optional<Problem> problem = problems.take();
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->severity, Problem::Severity::Error);
  EXPECT_EQ(problem->where, session.learning("bind.xml"));
  EXPECT_FALSE(problems.take()) << "the same failure was reported twice";

  fs::remove(session.learning("bind.xml"));
  session.second();
  const std::string bind = readFile(session.learning("bind.xml"));
  EXPECT_NE(bind.find("name=\"d\""), std::string::npos) << "the retry lost what was learned";
}

}  // namespace
}  // namespace zelka
