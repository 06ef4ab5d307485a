// A session never fails silently: what the module refused, set aside or could not save, and
// the script errors of its talk, are told through "GET Problems SHIORI/2.0" (and the log),
// while every other answer stays as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "module/mapped_module.h"
#include "support/ghost_fixture.h"

namespace zelka {
namespace {

using testing::ConfigOptions;
using testing::CurrentDirectory;
using testing::TempGhost;
using testing::knowledgeBlock;
using testing::knowledgeFile;
using testing::makeConfig;
using Module = testing::MappedModule;

const char* const kProblemsRequest = "GET Problems SHIORI/2.0\r\nSender: test\r\n\r\n";

std::string eventRequest(const std::string& event) {
  return "GET Sentence SHIORI/2.2\r\nSender: test\r\nEvent: " + event +
         "\r\nSecurityLevel: local\r\n\r\n";
}

// The String values of the problems the module holds, oldest first.
std::vector<std::string> takeProblems(Module& module) {
  std::vector<std::string> told;
  for (int n = 0; n < 1000; ++n) {
    const std::string response = module.send(kProblemsRequest);
    const std::size_t at = response.find("\r\nString: ");
    if (at == std::string::npos) break;
    const std::size_t start = at + 10;
    told.push_back(response.substr(start, response.find("\r\n", start) - start));
  }
  return told;
}

class ProblemsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cwd = std::make_unique<CurrentDirectory>(ghost.dir());
    ASSERT_TRUE(module.ok());
  }
  TempGhost ghost{makeConfig()};
  std::unique_ptr<CurrentDirectory> cwd;
  Module module;
};

TEST_F(ProblemsTest, TheAnswerHoldsOneProblemAndNoneLeftIs204) {
  ghost.write("zelkaconf.xml",
              "<?xml version='1.0' encoding='Shift_JIS'?><ZelkaConfiguration><Ghost");
  // A load that fails says why.
  EXPECT_EQ(module.load(ghost.dir()), 0);
  EXPECT_EQ(module.send(kProblemsRequest),
            "SHIORI/2.6 200 OK\r\n"
            "String: error\tzelkaconf.xml\tthe configuration cannot be read; the ghost does not "
            "start (zelka-host check tells more)\r\n"
            "Charset: Shift_JIS\r\n\r\n");
  EXPECT_EQ(module.send(kProblemsRequest),
            "SHIORI/2.6 204 No Content\r\nCharset: Shift_JIS\r\n\r\n");
  // Other versions of the request are not the extension.
  EXPECT_EQ(module.send("GET Problems SHIORI/2.2\r\n\r\n"),
            "SHIORI/2.6 501 Not Implemented\r\nCharset: Shift_JIS\r\n\r\n");
}

TEST_F(ProblemsTest, LoadTellsOfRefusedFilesAndAStoreKeptAside) {
  ghost.write("vender/wrong.tlk", "[ZELKA KNOWLEDGE 1.0]\n{\ntoken: OnBoot\nscript: a\n}\n");
  ghost.write("vender/open.tlk", knowledgeFile(knowledgeBlock("OnA", "a") + "{\ntoken: OnB\n"));
  ghost.write("vender/wrong.mem", "[ZELKA DICTIONARY] \nword\n");
  ghost.write("_learning/neuron.xml", "<?xml version='1.0' encoding='Shift_JIS'?>\n<Neuron");
  ASSERT_EQ(module.load(ghost.dir()), 1);

  std::vector<std::string> told = takeProblems(module);
  ASSERT_EQ(told.size(), 4u) << ::testing::PrintToString(told);
  // The stores load first, then the dictionaries, then the knowledge files.
  const std::string aside = "error\t_learning/neuron.xml\tcannot be read (line 2, column ";
  EXPECT_EQ(told[0].substr(0, aside.size()), aside) << told[0];
  EXPECT_NE(told[0].find("it was kept aside as _learning/neuron.xml.broken-"), std::string::npos)
      << told[0];
  EXPECT_EQ(told[1],
            "error\tvender/wrong.mem\tthe dictionary was not imported: its first line is not "
            "exactly \"[ZELKA DICTIONARY]\"; it stays where it is and is tried again at the "
            "next start");
  std::sort(told.begin() + 2, told.end());  // the directory lists the files in its own order
  EXPECT_EQ(told[2],
            "error\tvender/open.tlk:6\tthe block that begins here is not closed by the end of "
            "the file; it was dropped (a \"}\" is missing, or one inside a script is "
            "unbalanced)");
  EXPECT_EQ(told[3],
            "error\tvender/wrong.tlk:1\tthe knowledge file was not read: its first line is not "
            "exactly \"[ZELKA KNOWLEDGE 2.0]\"; none of its talk is in use");
  EXPECT_TRUE(takeProblems(module).empty());  // each is told once

  // Written to the log whatever the run level (here 0).
  const std::string log = ghost.read("zelka.log");
  EXPECT_NE(log.find(" error: vender/wrong.tlk:1: the knowledge file was not read"),
            std::string::npos)
      << log;
  EXPECT_EQ(module.unload(), 1);
}

TEST_F(ProblemsTest, AScriptErrorIsToldOnceWithItsFileAndLine) {
  ConfigOptions options;
  options.runlevel = 1;
  ghost.write("zelkaconf.xml", makeConfig(options));
  ghost.write("vender/talk.tlk", knowledgeFile("{\ntoken: OnTest\nscript: a\n%reflex[] b\n}\n"
                                               "{\ntoken: OnTypo\nscript: %iff(1){x}\n}\n"));
  ASSERT_EQ(module.load(ghost.dir()), 1);
  const std::string talk = module.send(eventRequest("OnTest"));
  EXPECT_NE(talk.find("Sentence: a\\n<!-- Zelka Script Error\\n%reflex[]\\n"), std::string::npos)
      << talk;
  EXPECT_EQ(takeProblems(module),
            std::vector<std::string>{
                "error\tvender/talk.tlk:5\tscript error in OnTest: \"%reflex[]\" gives the error "
                "report \"cannot substitute; check how it is written\": a required body is "
                "missing or empty, a list has the wrong number of items, a query found "
                "nothing, or a backslash element is not defined"});
  EXPECT_EQ(module.send(eventRequest("OnTest")), talk);
  EXPECT_TRUE(takeProblems(module).empty());
  // A misspelt name is text, not an error.
  EXPECT_NE(module.send(eventRequest("OnTypo")).find("Sentence: %iff(1){x}\r\n"),
            std::string::npos);
  EXPECT_TRUE(takeProblems(module).empty());

  EXPECT_NE(module.send("GET Think SHIORI/2.0\r\nSender: Host\r\n\r\n").find("Status: "),
            std::string::npos);

  // The repeat is summed up at unload, and can be asked for after it.
  EXPECT_EQ(module.unload(), 1);
  EXPECT_EQ(takeProblems(module),
            std::vector<std::string>{"warning\tvender/talk.tlk:5\tthe script error "
                                     "\"%reflex[]\" in OnTest happened 1 more time in this "
                                     "session"});
  // The log has the problems, but not the exchanges that fetched them, nor those that asked
  // whether a think pass runs (a host asks that every few milliseconds).
  const std::string log = ghost.read("zelka.log");
  EXPECT_NE(log.find(" error: vender/talk.tlk:5: script error in OnTest"), std::string::npos);
  EXPECT_EQ(log.find("GET Problems"), std::string::npos) << log;
  EXPECT_EQ(log.find("GET Think"), std::string::npos) << log;
  EXPECT_NE(log.find("Event: OnTest"), std::string::npos);
}

TEST_F(ProblemsTest, SavesThatFailAtUnloadAreCritical) {
  ASSERT_EQ(module.load(ghost.dir()), 1);
  EXPECT_TRUE(takeProblems(module).empty());
  // Files that cannot be replaced, whoever runs the test: directories in their place.
  namespace fs = std::filesystem;
  for (const char* name : {"_learning/bind.xml", "_learning/reflex.txt"}) {
    fs::remove(ghost.path(name));
    fs::create_directories(ghost.path(name) + "/kept");
  }
  EXPECT_EQ(module.unload(), 1);
  EXPECT_EQ(takeProblems(module),
            (std::vector<std::string>{
                "critical\t_learning/bind.xml\tcannot be written (is the learning directory "
                "writable, the disk not full?); what the ghost learned in it this session is "
                "lost, the file keeps what it held before",
                "critical\t_learning/reflex.txt\tcannot be written (is the learning directory "
                "writable, the disk not full?); the variables of this session are lost, the "
                "file keeps what it held before"}));
  EXPECT_TRUE(fs::is_directory(ghost.path("_learning/bind.xml/kept")));
  // The next load starts with a clean list.
  fs::remove_all(ghost.path("_learning/bind.xml"));
  fs::remove_all(ghost.path("_learning/reflex.txt"));
  ASSERT_EQ(module.load(ghost.dir()), 1);
  EXPECT_TRUE(takeProblems(module).empty());
  EXPECT_EQ(module.unload(), 1);
}

TEST_F(ProblemsTest, AReflexFileThatCannotBeReadIsNotOverwritten) {
  // There but unreadable, whoever runs the test: a directory in its place.
  std::filesystem::create_directories(ghost.path("_learning/reflex.txt/kept"));
  ASSERT_EQ(module.load(ghost.dir()), 1);
  EXPECT_EQ(takeProblems(module),
            std::vector<std::string>{"error\t_learning/reflex.txt\tthe saved variables cannot be "
                                     "read; they were not restored, and the file is not "
                                     "overwritten at unload"});
  EXPECT_EQ(module.unload(), 1);
  EXPECT_EQ(takeProblems(module),
            std::vector<std::string>{"critical\t_learning/reflex.txt\tthe variables of this "
                                     "session were not saved: the file could not be read at "
                                     "load and is kept as it is"});
  EXPECT_TRUE(std::filesystem::is_directory(ghost.path("_learning/reflex.txt/kept")));
}

}  // namespace
}  // namespace zelka
