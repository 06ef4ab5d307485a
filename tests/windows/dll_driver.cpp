// The module as a desktop-character host drives it: the built module (zelka.dll under
// Windows, zelka.so on POSIX) is mapped afresh for every test and spoken to through its three
// exported functions only, on a temporary ghost directory.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "windows/ghost_files.h"
#include "windows/module_library.h"

namespace zelka::testing {
namespace {

// Shift_JIS texts.
const std::string kFood = "\x90\x48\x95\xa8";                        // food (category)
const std::string kApple = "\x82\xe8\x82\xf1\x82\xb2";               // apple
const std::string kHello = "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd";  // hello
const std::string kHeard = "\x95\xb7\x82\xa2\x82\xbd";               // heard
const std::string kShow = "\x95\x5c\x8e\xa6";        // "display": its first trail byte is 0x5C
const std::string kGhost = "\x83\x53\x81\x5b\x83\x58\x83\x67";      // ghost
// The same two words in UTF-8, for names on disk.
const std::string kShowUtf8 = "\xe8\xa1\xa8\xe7\xa4\xba";
const std::string kGhostUtf8 = "\xe3\x82\xb4\xe3\x83\xbc\xe3\x82\xb9\xe3\x83\x88";

const std::string kVersionRequest = "GET Version SHIORI/2.0\r\nSender: test\r\n\r\n";
const std::string kVersionAnswer =
    "SHIORI/2.6 200 OK\r\nLocale: Japanese\r\nLanguage: Japanese\r\nCharset: Shift_JIS\r\n\r\n";

std::string statusLine(const std::string& response) {
  return response.substr(0, response.find("\r\n"));
}

// The value of one response header; "(none)" when the response has no such header.
std::string header(const std::string& response, const std::string& key) {
  std::size_t at = response.find("\r\n" + key + ": ");
  if (at == std::string::npos) return "(none)";
  at += key.size() + 4;
  return response.substr(at, response.find("\r\n", at) - at);
}

std::string getString(ModuleLibrary& module, const std::string& id) {
  return header(module.send("GET String SHIORI/2.5\r\nID: " + id + "\r\n\r\n"), "String");
}

std::string getWord(ModuleLibrary& module, const std::string& script) {
  return header(module.send("GET Word SHIORI/2.0\r\nType: " + script + "\r\n\r\n"), "Word");
}

std::string second(ModuleLibrary& module) {
  return module.send(
      "GET Sentence SHIORI/2.2\r\nSender: host\r\nEvent: OnSecondChange\r\n"
      "Reference0: 12\r\nReference1: 1\r\n\r\n");
}

// Hears a sentence and returns the talk that answers it: at once when the think pass ends
// within its wait, otherwise from the OnSecondChange that collects it (a bounded number).
std::string hearAndAnswer(ModuleLibrary& module, const std::string& sentence) {
  std::string response = module.send("GET Sentence SHIORI/2.2\r\nSender: Alice\r\nAge: 2\r\n"
                                     "Sentence: " + sentence + "\r\nSecurityLevel: local\r\n\r\n");
  for (int i = 0; i < 600 && statusLine(response) == "SHIORI/2.6 204 No Content"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    response = second(module);
  }
  return header(response, "Sentence");
}

// The knowledge every test ghost starts with; CR LF line ends, as Windows editors save it.
std::string baseKnowledge() {
  const char* e = "\r\n";
  return knowledgeFile(
      knowledgeBlock("OnZelkaReflexFirstInitialize", "\\formula[starts = 0]", e) +
          knowledgeBlock("OnZelkaReflexInitialize", "\\formula[starts = starts + 1]", e) +
          knowledgeBlock("OnZelkaGetResource", kShow + "=%reflex[starts]", e) +
          knowledgeBlock("OnZelkaCommunicate", kHeard + "=%reflex[__Think_state]", e) +
          knowledgeBlock("OnZelkaCommunicateTimeout", "late", e),
      e);
}

const std::string kDictionary =
    "[ZELKA DICTIONARY]\r\n[" + kFood + "]\r\n" + kApple + "\r\n";

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override { start(); }

  void start(std::string_view ghostName = {}, const std::string& config = ghostConfig(),
             DirectoryForm form = DirectoryForm::kSystemCodePage) {
    module.reset();
    ghost = std::make_unique<TempGhost>(ghostName, form);
    if (ghost->dir().empty()) return;  // the name has no form in the system's code page
    ASSERT_TRUE(ghost->write("zelkaconf.xml", config));
    ASSERT_TRUE(ghost->write("vender/talk.tlk", baseKnowledge()));
    module = std::make_unique<ModuleLibrary>();
    ASSERT_TRUE(module->ok()) << modulePath();
  }
  // Unloads and maps the module afresh on the same ghost.
  void restart() {
    if (module) {
      EXPECT_EQ(module->unload(), 1);
    }
    module = std::make_unique<ModuleLibrary>();
    ASSERT_TRUE(module->ok());
    const bool utf8 = ghost->form() == DirectoryForm::kUtf8;
    ASSERT_EQ(utf8 ? module->loadu(ghost->dir()) : module->load(ghost->dir()), 1);
  }
  void TearDown() override {
    module.reset();
    ghost.reset();
  }

  std::unique_ptr<TempGhost> ghost;
  std::unique_ptr<ModuleLibrary> module;
};

TEST_F(ModuleTest, ProtocolIsAnsweredThroughTheExports) {
  ASSERT_EQ(module->load(ghost->dir()), 1);
  struct Case {
    std::string request;
    std::string response;
  };
  const Case cases[] = {
      {kVersionRequest, kVersionAnswer},
      {"GET Status SHIORI/2.0\r\n\r\n",
       "SHIORI/2.6 200 OK\r\nStatus: 0,0,0,0,0,0\r\nCharset: Shift_JIS\r\n\r\n"},
      {"NOTIFY SHIORI/2.0\r\nGhost: Emily\r\n\r\n", "SHIORI/2.6 200 OK\r\nCharset: Shift_JIS\r\n\r\n"},
      {"NOTIFY OwnerGhostName SHIORI/2.3\r\n\r\n",
       "SHIORI/2.6 400 Bad Request\r\nCharset: Shift_JIS\r\n\r\n"},
      {"GET Version SHIORI/2.6\r\n\r\n", "SHIORI/2.6 501 Not Implemented\r\nCharset: Shift_JIS\r\n\r\n"},
      {"NOTIFY OwnerGhostName SHIORI/2.0\r\nGhost: A\r\n\r\n",
       "SHIORI/2.6 501 Not Implemented\r\nCharset: Shift_JIS\r\n\r\n"},
      // A 2.x command in a SHIORI/3.0 request is refused in 3.0 form, with the reason.
      {"GET Sentence SHIORI/3.0\r\n\r\n",
       "SHIORI/3.0 400 Bad Request\r\nCharset: Shift_JIS\r\nSender: Emily\r\nErrorLevel: "
       "error\r\nErrorDescription: a SHIORI/3.0 request is GET or NOTIFY\r\n\r\n"},
      {"\x01", "SHIORI/2.6 500 Internal Server Error\r\n\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(module->send(c.request), c.response) << c.request;
  // The owner name given by NOTIFY answers heard sentences.
  std::string response = module->send("GET Sentence SHIORI/2.2\r\nSender: Alice\r\nSentence: " +
                                      kHello + "\r\n\r\n");
  for (int i = 0; i < 600 && statusLine(response) == "SHIORI/2.6 204 No Content"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    response = second(*module);
  }
  EXPECT_EQ(header(response, "Sender"), "Emily") << response;
  EXPECT_EQ(module->unload(), 1);
}

TEST_F(ModuleTest, BlocksAreTakenAndGivenAsAHostExpects) {
  // Refused directories leave the block with the host.
  EXPECT_EQ(module->rawLoad()(nullptr, 10), 0);
  ExportBlock kept = hostBlock(ghost->dir());
  EXPECT_EQ(module->rawLoad()(kept, 0), 0);
  releaseBlock(kept);
  ASSERT_EQ(module->load(ghost->dir()), 1);

  // No length pointer: nothing is answered and nothing freed.
  ExportBlock request = hostBlock(kVersionRequest);
  EXPECT_EQ(module->rawRequest()(request, nullptr), nullptr);
  releaseBlock(request);

  // No block: the failure response.
  long len = 40;
  ExportBlock response = module->rawRequest()(nullptr, &len);
  ASSERT_NE(response, nullptr);
  EXPECT_EQ(len, 40);  // "SHIORI/2.6 500 Internal Server Error\r\n\r\n"
  releaseBlock(response);

  // A zero byte before the length ends the request.
  EXPECT_EQ(module->send(std::string("GET Status SHIORI/2.0\r\n\r\n\0GET Version", 36)),
            "SHIORI/2.6 200 OK\r\nStatus: 0,0,0,0,0,0\r\nCharset: Shift_JIS\r\n\r\n");
#if defined(_WIN32)
  // A length beyond the block: only the block is read (it holds no terminating zero here).
  const std::string text = "GET Version SHIORI/2.0";
  HGLOBAL bare = GlobalAlloc(GMEM_FIXED, text.size());
  std::memcpy(static_cast<void*>(bare), text.data(), text.size());
  long longer = 4096;
  ExportBlock answer = module->rawRequest()(bare, &longer);
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(std::string(static_cast<const char*>(GlobalLock(answer)), static_cast<std::size_t>(longer)),
            kVersionAnswer);
  GlobalUnlock(answer);
  // The response is a fixed block: its handle is its address, and GlobalFree releases it.
  EXPECT_EQ(GlobalFlags(answer) & GMEM_LOCKCOUNT, 0u);
  EXPECT_EQ(GlobalFree(answer), nullptr);
#endif
  EXPECT_EQ(module->unload(), 1);
}

TEST_F(ModuleTest, KnowledgeFilesWithEitherLineEndAreReadAlike) {
  // The same knowledge twice, once with LF and once with CR LF line ends.
  ASSERT_TRUE(ghost->write("vender/lf.tlk", knowledgeFile(knowledgeBlock("OnLf", kShow + " lf"))));
  ASSERT_TRUE(ghost->write("vender/crlf.tlk",
                           knowledgeFile(knowledgeBlock("OnCrLf", kShow + " lf", "\r\n"), "\r\n")));
  ASSERT_EQ(module->load(ghost->dir()), 1);
  for (const char* event : {"OnLf", "OnCrLf"}) {
    std::string response = module->send("GET Sentence SHIORI/2.2\r\nSender: host\r\nEvent: " +
                                         std::string(event) + "\r\n\r\n");
    EXPECT_EQ(header(response, "Sentence"), kShow + " lf") << event;
  }
  EXPECT_EQ(getString(*module, "x"), kShow + "=1");
  EXPECT_EQ(module->unload(), 1);
}

TEST_F(ModuleTest, DictionaryIsImportedAndMovedAside) {
  ASSERT_TRUE(ghost->write("vender/words.mem", kDictionary));
  ASSERT_EQ(module->load(ghost->dir()), 1);
  EXPECT_FALSE(ghost->exists("vender/words.mem"));
  EXPECT_EQ(ghost->read("vender/learned/words.mem"), kDictionary);
  EXPECT_EQ(getWord(*module, "%me[" + kFood + "]"), kApple);
  EXPECT_EQ(module->unload(), 1);
  EXPECT_NE(ghost->read("_learning/index.xml").find(kApple), std::string::npos);
}

TEST_F(ModuleTest, HeardSentenceIsAnsweredThroughTheThinkThread) {
  ASSERT_EQ(module->load(ghost->dir()), 1);
  EXPECT_EQ(hearAndAnswer(*module, kHello), kHeard + "=1");
  EXPECT_EQ(module->unload(), 1);
  // What the pass walked is in the bind network's file.
  EXPECT_NE(ghost->read("_learning/bind.xml").find("\x82\xb1"), std::string::npos);
}

TEST_F(ModuleTest, StoresAndVariablesSurviveUnloadAndReload) {
  ASSERT_TRUE(ghost->write("vender/words.mem", kDictionary));
  ASSERT_EQ(module->load(ghost->dir()), 1);
  EXPECT_EQ(hearAndAnswer(*module, kHello), kHeard + "=1");
  EXPECT_EQ(getWord(*module, "%me[" + kFood + "]"), kApple);
  EXPECT_EQ(getString(*module, "x"), kShow + "=1");
  restart();
  const char* stores[] = {"_learning/bind.xml", "_learning/index.xml", "_learning/journal.xml",
                          "_learning/neuron.xml"};
  std::string saved[4];
  for (int i = 0; i < 4; ++i) saved[i] = ghost->read(stores[i]);
  EXPECT_EQ(getWord(*module, "%me[" + kFood + "]"), kApple);
  EXPECT_EQ(getString(*module, "x"), kShow + "=2");
  restart();
  // A session that learned nothing writes its stores back unchanged.
  for (int i = 0; i < 4; ++i) EXPECT_EQ(ghost->read(stores[i]), saved[i]) << stores[i];
  EXPECT_EQ(getString(*module, "x"), kShow + "=3");
  EXPECT_EQ(module->unload(), 1);
  const std::string reflex = ghost->read("_learning/reflex.txt");
  EXPECT_NE(reflex.find(std::string("starts\x01") + "3.000000e+000\n"), std::string::npos) << reflex;
}

TEST_F(ModuleTest, GhostInADirectoryWithANonAsciiName) {
#if defined(_WIN32)
  // build-windows.sh runs Wine once with a Japanese and once with a Western locale.
  if (const char* expected = std::getenv("ZELKA_ANSI_CODE_PAGE")) {
    ASSERT_EQ(GetACP(), std::strtoul(expected, nullptr, 10));
  }
#endif
  // UTF-8 names: one whose Shift_JIS form has a 0x5C trail byte, a Western one, and one that
  // only UTF-8 can carry. Through load a name must have a form in the system's code page
  // (Shift_JIS on POSIX); through loadu every name goes.
  const std::string names[] = {kGhostUtf8 + kShowUtf8, "J\xc3\xbcrgen",
                               "J\xc3\xbcrgen-" + kShowUtf8 + "-\xf0\x9f\x98\x80"};
  int loadedThroughLoad = 0;
  for (const DirectoryForm form : {DirectoryForm::kSystemCodePage, DirectoryForm::kUtf8}) {
    for (const std::string& name : names) {
      start(name, ghostConfig(), form);
      const bool utf8 = form == DirectoryForm::kUtf8;
      if (ghost->dir().empty()) continue;  // the name has no form in the system's code page
      SCOPED_TRACE(ghost->dir());
      ASSERT_TRUE(ghost->write("vender/words.mem", kDictionary));
      ASSERT_TRUE(ghost->write("vender/" + kShowUtf8 + ".tlk",
                               knowledgeFile(knowledgeBlock("OnName", kGhost))));
      ASSERT_EQ(utf8 ? module->loadu(ghost->dir()) : module->load(ghost->dir()), 1);
      if (!utf8) ++loadedThroughLoad;
      EXPECT_EQ(header(module->send(
                           "GET Sentence SHIORI/2.2\r\nSender: host\r\nEvent: OnName\r\n\r\n"),
                       "Sentence"),
                kGhost);
      EXPECT_EQ(getWord(*module, "%me[" + kFood + "]"), kApple);
      EXPECT_EQ(module->unload(), 1);
      EXPECT_TRUE(ghost->exists("vender/learned/words.mem"));
      for (const char* file :
           {"bind.xml", "index.xml", "journal.xml", "neuron.xml", "reflex.txt"}) {
        EXPECT_TRUE(ghost->exists(std::string("_learning/") + file)) << file;
      }
      restart();
      EXPECT_EQ(getString(*module, "x"), kShow + "=2");
      EXPECT_EQ(module->unload(), 1);
    }
  }
  // Japanese, Western and POSIX systems each take one of the names through load.
  EXPECT_GE(loadedThroughLoad, 1);
}

TEST_F(ModuleTest, LoaduRefusesADirectoryThatIsNotUtf8) {
  for (const std::string& bad : {std::string("\x82\xa0\\"), std::string("\xc3\\")}) {
    const std::string dir = ghost->dir() + bad;
    EXPECT_EQ(module->rawLoadu()(hostBlock(dir), static_cast<long>(dir.size())), 0);
  }
  EXPECT_EQ(module->rawLoadu()(nullptr, 10), 0);
  EXPECT_FALSE(ghost->exists("_learning"));
  ASSERT_EQ(module->loadu(ghost->dir()), 1);
  EXPECT_EQ(module->unload(), 1);
}

TEST_F(ModuleTest, LogLinesEndWithCrLfOnEveryPlatform) {
  start({}, ghostConfig({}, {}, 1));
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(ghost->path(""));
  ASSERT_EQ(module->load(ghost->dir()), 1);
  module->send(kVersionRequest);
  EXPECT_EQ(module->unload(), 1);
  module.reset();  // unmapping writes the closing entry
  std::filesystem::current_path(previous);
  const std::string log = ghost->read("zelka.log");
  ASSERT_NE(log.find("debug_end"), std::string::npos) << log;
  // Every line feed of the text is written as CR LF, also one that follows a carriage return,
  // exactly as the Windows C runtime's text mode does.
  EXPECT_NE(log.find("GET Version SHIORI/2.0\r\r\nSender: test\r\r\n"), std::string::npos);
  for (std::size_t at = log.find('\n'); at != std::string::npos; at = log.find('\n', at + 1)) {
    ASSERT_TRUE(at > 0 && log[at - 1] == '\r') << "bare line feed at " << at;
  }
}

}  // namespace
}  // namespace zelka::testing
