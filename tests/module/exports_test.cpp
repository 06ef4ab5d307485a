// Tests through the module's exported functions: the built zelka.so is mapped afresh for
// every test (unmapping destroys the one server object), loaded on a temporary ghost.
#include <dlfcn.h>
#include <malloc.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "module/mapped_module.h"
#include "support/ghost_fixture.h"
#include "support/temp_dir.h"
#include "support/xmllint.h"

namespace zelka {
namespace {

using testing::ConfigOptions;
using testing::CurrentDirectory;
using testing::TempGhost;
using testing::knowledgeBlock;
using testing::knowledgeFile;
using testing::makeConfig;
using testing::kModulePath;
using testing::mallocCopy;
using Module = testing::MappedModule;

class ExportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ghost = std::make_unique<TempGhost>(makeConfig());
    cwd = std::make_unique<CurrentDirectory>(ghost->dir());
    module = std::make_unique<Module>();
    ASSERT_TRUE(module->ok()) << dlerror();
  }
  void TearDown() override {
    module.reset();
    cwd.reset();
    ghost.reset();
  }
  void useConfig(const std::string& config) { ghost->write("zelkaconf.xml", config); }

  static std::string statusLine(const std::string& response) {
    return response.substr(0, response.find("\r\n"));
  }

  std::unique_ptr<TempGhost> ghost;
  std::unique_ptr<CurrentDirectory> cwd;
  std::unique_ptr<Module> module;
};

const char* const kVersionRequest = "GET Version SHIORI/2.0\r\nSender: test\r\n\r\n";
const char* const kInternalError = "SHIORI/2.6 500 Internal Server Error\r\n\r\n";

TEST(ModuleSymbolsTest, ExactlyTheFourFunctionsAreExported) {
  std::string command = "nm -D --defined-only '" + kModulePath + "'";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> symbols;
  std::array<char, 512> line{};
  while (std::fgets(line.data(), static_cast<int>(line.size()), pipe) != nullptr) {
    std::istringstream fields(line.data());
    std::string address, type, name;
    fields >> address >> type >> name;
    if (name.empty()) continue;
    // Only code and data symbols count; the linker's own markers do not.
    if (type == "T" || type == "D" || type == "B" || type == "R" || type == "W" ||
        type == "V" || type == "u" || type == "i") {
      symbols.insert(name);
    }
  }
  ASSERT_EQ(pclose(pipe), 0);
  EXPECT_EQ(symbols, (std::set<std::string>{"load", "loadu", "request", "unload"}));
}

TEST_F(ExportsTest, LoadAnswersVersionAndUnloadReturnsOne) {
  ASSERT_EQ(module->load(ghost->dir()), 1);
  EXPECT_EQ(module->send(kVersionRequest),
            "SHIORI/2.6 200 OK\r\nLocale: Japanese\r\nLanguage: Japanese\r\nCharset: Shift_JIS\r\n\r\n");
  EXPECT_EQ(module->send("GET Status SHIORI/2.0\r\n\r\n"),
            "SHIORI/2.6 200 OK\r\nStatus: 0,0,0,0,0,0\r\nCharset: Shift_JIS\r\n\r\n");
  EXPECT_EQ(module->unload(), 1);
  EXPECT_TRUE(ghost->exists("_learning/reflex.txt"));
  EXPECT_TRUE(ghost->exists("_learning/bind.xml"));
}

TEST_F(ExportsTest, LoadWithNullBlockOrEmptyLengthLeavesTheBlock) {
  EXPECT_EQ(module->loadExport(nullptr, 10), 0);
  void* block = mallocCopy(ghost->dir());
  EXPECT_EQ(module->loadExport(block, 0), 0);
  EXPECT_EQ(module->loadExport(block, -5), 0);
  std::free(block);   // still ours: a double free would be caught by the sanitizer
  EXPECT_EQ(module->unload(), 1);
}

TEST_F(ExportsTest, LoadCutsTheDirectoryAtAZeroByte) {
  std::string text = ghost->dir() + std::string("\0garbage", 8);
  EXPECT_EQ(module->loadExport(mallocCopy(text), static_cast<long>(text.size())), 1);
  EXPECT_EQ(statusLine(module->send(kVersionRequest)), "SHIORI/2.6 200 OK");
}

TEST_F(ExportsTest, RequestWithoutLengthPointerReturnsNullAndFreesNothing) {
  ASSERT_EQ(module->load(ghost->dir()), 1);
  void* block = mallocCopy(kVersionRequest);
  EXPECT_EQ(module->requestExport(block, nullptr), nullptr);
  std::free(block);
}

TEST_F(ExportsTest, RequestWithNullBlockAnswers500) {
  ASSERT_EQ(module->load(ghost->dir()), 1);
  long len = 40;
  void* response = module->requestExport(nullptr, &len);
  ASSERT_NE(response, nullptr);
  EXPECT_EQ(std::string(static_cast<char*>(response), static_cast<std::size_t>(len)),
            kInternalError);
  std::free(response);
}

TEST_F(ExportsTest, RequestIsCutAtAZeroByteBeforeItsLength) {
  ASSERT_EQ(module->load(ghost->dir()), 1);
  std::string text = std::string("GET Status SHIORI/2.0\r\n\r\n\0GET Version", 36);
  EXPECT_EQ(statusLine(module->send(text)), "SHIORI/2.6 200 OK");
  std::string cut = std::string("GET Vers\0ion SHIORI/2.0\r\n\r\n", 27);
  // What is left is the command "GET" with the version "Vers".
  EXPECT_EQ(module->send(cut), "SHIORI/2.6 501 Not Implemented\r\nCharset: Shift_JIS\r\n\r\n");
}

TEST_F(ExportsTest, BadRequestsAreAllAnswered) {
  ASSERT_EQ(module->load(ghost->dir()), 1);
  std::string garbage;
  for (int i = 0; i < 100000; ++i) garbage += static_cast<char>((i * 2654435761u >> 13) & 0xff);
  std::string bigHeader =
      "GET Version SHIORI/2.0\r\nSender: " + std::string(1 << 20, 'v') + "\r\n\r\n";
  struct Case {
    const char* name;
    std::string text;
    long length;
    std::string status;
  };
  const Case cases[] = {
      {"binary garbage", garbage, -1, ""},
      {"0x01 only", "\x01", -1, "SHIORI/2.6 500 Internal Server Error"},
      {"many 0x01", std::string(5000, '\x01'), -1, "SHIORI/2.6 500 Internal Server Error"},
      {"no CR LF", "GET Version SHIORI/2.0", -1, "SHIORI/2.6 200 OK"},
      {"LF only", "GET Version SHIORI/2.0\n\n", -1, "SHIORI/2.6 501 Not Implemented"},
      {"1 MiB header value", bigHeader, -1, "SHIORI/2.6 200 OK"},
      {"cut double-byte character", "NOTIFY SHIORI/2.0\r\nGhost: \x82", -1, "SHIORI/2.6 200 OK"},
      {"cut in the version", "GET Version SHIORI/2.\x82", -1, "SHIORI/2.6 501 Not Implemented"},
      {"empty block", "", 0, "SHIORI/2.6 500 Internal Server Error"},
      {"negative length", "GET Version SHIORI/2.0\r\n\r\n", -7,
       "SHIORI/2.6 500 Internal Server Error"},
      {"length larger than the text", "GET Version SHIORI/2.0\r\n\r\n", 100000,
       "SHIORI/2.6 200 OK"},
      {"blank line first", "\r\nGET Version SHIORI/2.0\r\n\r\n", -1,
       "SHIORI/2.6 500 Internal Server Error"},
  };
  for (const Case& c : cases) {
    long len = c.length == -1 ? static_cast<long>(c.text.size()) : c.length;
    void* response;
    if (c.length < -1) {
      // A negative length from the host: the block is still the module's to free.
      long negative = c.length;
      response = module->requestExport(mallocCopy(c.text), &negative);
      len = negative;
    } else {
      response = module->requestExport(mallocCopy(c.text), &len);
    }
    ASSERT_NE(response, nullptr) << c.name;
    std::string out(static_cast<char*>(response), static_cast<std::size_t>(len));
    std::free(response);
    EXPECT_EQ(out.substr(out.size() - 2), "\r\n") << c.name;
    if (!c.status.empty()) EXPECT_EQ(statusLine(out), c.status) << c.name;
  }
  // Still serving normally afterwards.
  EXPECT_EQ(statusLine(module->send(kVersionRequest)), "SHIORI/2.6 200 OK");
}

TEST_F(ExportsTest, RequestsBeforeLoadAndAfterFailedLoadAreAnswered) {
  // Before load there is no response template: no block comes back, the length is kept and
  // the request block is still released.
  long len = 25;
  EXPECT_EQ(module->requestExport(mallocCopy("GET Version SHIORI/2.0\r\n\r\n"), &len), nullptr);
  EXPECT_EQ(len, 25);
  EXPECT_EQ(module->send("GET Word SHIORI/2.0\r\nType: x\r\n\r\n"), "(null)");
  // A load that fails after the directory was taken has the template: everything is answered.
  EXPECT_EQ(module->load(ghost->dir() + "missing/"), 0);
  EXPECT_EQ(statusLine(module->send(kVersionRequest)), "SHIORI/2.6 200 OK");
  EXPECT_EQ(statusLine(module->send("GET Word SHIORI/2.0\r\nType: x\r\n\r\n")), "SHIORI/2.6 200 OK");
  EXPECT_EQ(statusLine(module->send("GET Sentence SHIORI/2.2\r\n\r\n")), "SHIORI/2.6 204 No Content");
  EXPECT_EQ(statusLine(module->send("GET String SHIORI/2.5\r\nID: a\r\n\r\n")),
            "SHIORI/2.6 204 No Content");
  EXPECT_EQ(module->unload(), 1);
  EXPECT_EQ(module->unload(), 1);
}

TEST_F(ExportsTest, BadConfigurationsFailTheLoad) {
  std::string big(100 * 1024, 'n');
  std::string hugeName = makeConfig();
  hugeName.replace(hugeName.find("ghost_name=\"Test\""), 17, "ghost_name=\"" + big + "\"");
  struct Case {
    const char* name;
    std::string config;
    int expected;
  };
  const Case cases[] = {
      {"missing", "", 0},
      {"empty file", "\n", 0},
      {"malformed", "<?xml version='1.0' encoding='Shift_JIS'?><ZelkaConfiguration><Ghost", 0},
      {"binary", std::string("\xff\xfe\x00\x01garbage\x82", 13), 0},
      {"wrong root only", "<?xml version='1.0' encoding='Shift_JIS'?><Other/>", 1},
      {"declared encoding that is not the content's",
       "<?xml version='1.0' encoding='Shift_JIS'?><ZelkaConfiguration>"
       "<GhostProfile ghost_name=\"\xe3\x81\x82\"/></ZelkaConfiguration>",
       -1},
      {"100 KiB attribute", hugeName, 1},
  };
  for (const Case& c : cases) {
    auto fresh = std::make_unique<TempGhost>(c.config);
    Module m;
    ASSERT_TRUE(m.ok());
    int loaded = m.load(fresh->dir());
    if (c.expected >= 0) EXPECT_EQ(loaded, c.expected) << c.name;
    // Whatever the load did, the module still answers.
    EXPECT_EQ(statusLine(m.send(kVersionRequest)), "SHIORI/2.6 200 OK") << c.name;
    EXPECT_EQ(m.unload(), 1);
  }
}

TEST_F(ExportsTest, HugeLocaleIsReportedWhole) {
  std::string big(100 * 1024, 'L');
  useConfig(makeConfig({0, big, "", ""}));
  ASSERT_EQ(module->load(ghost->dir()), 1);
  EXPECT_EQ(module->send(kVersionRequest),
            "SHIORI/2.6 200 OK\r\nLocale: " + big + "\r\nLanguage: " + big +
                "\r\nCharset: Shift_JIS\r\n\r\n");
}

TEST_F(ExportsTest, DirectoryThatIsNotShiftJisIsRefused) {
  // 0x82 0x20 does not form a Shift_JIS character: the directory cannot be used as given.
  std::string odd = ghost->dir() + "\x82\x20x/";
  std::filesystem::create_directories(odd);
  ghost->write("\x82\x20x/zelkaconf.xml", makeConfig());
  EXPECT_EQ(module->load(odd), 0);
  EXPECT_FALSE(ghost->exists("\x82\x20x/_learning"));
  EXPECT_FALSE(ghost->exists("_learning"));
  EXPECT_EQ(statusLine(module->send(kVersionRequest)), "SHIORI/2.6 200 OK");
  EXPECT_EQ(module->unload(), 1);
  EXPECT_FALSE(ghost->exists("reflex.txt"));
}

TEST_F(ExportsTest, ShiftJisDirectoryLoads) {
  std::string kana = ghost->dir() + "\x82\xa0/";   // a valid two-byte character
  ghost->write("\x82\xa0/zelkaconf.xml", makeConfig());
  EXPECT_EQ(module->load(kana), 1);
  EXPECT_EQ(module->unload(), 1);
  EXPECT_TRUE(ghost->exists("\x82\xa0/_learning/reflex.txt"));
}

TEST_F(ExportsTest, LoaduTakesAUtf8DirectoryAndConfiguredNamesJoinItInUtf8) {
  // J\u00fcrgen-\u8868\u793a-U+1F600 in UTF-8, and a vendor directory configured in Shift_JIS
  // (\u8a9e\u5f59) that the module must look for under its UTF-8 name.
  const std::string home = "J\xc3\xbcrgen-\xe8\xa1\xa8\xe7\xa4\xba-\xf0\x9f\x98\x80/";
  const std::string vendor = home + "\xe8\xaa\x9e\xe5\xbd\x99/";
  ConfigOptions options;
  options.vender = "\x8c\xea\x9c\x62/";
  ghost->write(home + "zelkaconf.xml", makeConfig(options));
  ghost->write(vendor + "talk.tlk", knowledgeFile(knowledgeBlock("OnName", "found")));
  ghost->write(vendor + "words.mem", "[ZELKA DICTIONARY]\n[fruit]\napple\n");
  ASSERT_EQ(module->loadu(ghost->dir() + home), 1);
  const std::string talk =
      module->send("GET Sentence SHIORI/2.2\r\nSender: host\r\nEvent: OnName\r\n\r\n");
  EXPECT_NE(talk.find("\r\nSentence: found\r\n"), std::string::npos) << talk;
  EXPECT_TRUE(ghost->exists(vendor + "learned/words.mem"));
  // A heard sentence teaches the bind network, which is written when the session ends.
  module->send("GET Sentence SHIORI/2.2\r\nSender: A\r\nSentence: \x82\xb1\x82\xf1\r\n\r\n");

  // The same mapping takes a Shift_JIS directory through load, without an unload between:
  // the UTF-8 session still saves into its own directory.
  ghost->write("\x82\xa0/zelkaconf.xml", makeConfig());
  EXPECT_EQ(module->load(ghost->dir() + "\x82\xa0/"), 1);
  EXPECT_NE(ghost->read(home + "_learning/bind.xml").find("\x82\xb1"), std::string::npos);
  for (const char* file : {"index.xml", "journal.xml", "neuron.xml", "reflex.txt"}) {
    EXPECT_TRUE(ghost->exists(home + "_learning/" + file)) << file;
  }
  EXPECT_EQ(module->unload(), 1);
  EXPECT_TRUE(ghost->exists("\x82\xa0/_learning/reflex.txt"));
}

TEST_F(ExportsTest, LoaduRefusesADirectoryThatIsNotUtf8) {
  // Shift_JIS, a cut sequence, an encoded surrogate, an overlong slash: each is refused and
  // its block released (the sanitizer build reports a leak otherwise).
  for (const std::string bad : {"\x82\xa0/", "\xc3/", "\xed\xa0\x80/", "\xc0\xaf"}) {
    const std::string dir = ghost->dir() + bad;
    EXPECT_EQ(module->loaduExport(mallocCopy(dir), static_cast<long>(dir.size())), 0);
  }
  EXPECT_EQ(module->loaduExport(nullptr, 10), 0);
  EXPECT_FALSE(ghost->exists("_learning"));
  EXPECT_EQ(module->loadu(ghost->dir()), 1);
  EXPECT_EQ(module->unload(), 1);
  EXPECT_TRUE(ghost->exists("_learning/reflex.txt"));
}

TEST_F(ExportsTest, RunLevelZeroWritesNoLog) {
  ASSERT_EQ(module->load(ghost->dir()), 1);
  module->send(kVersionRequest);
  module->send("\x01");
  module->unload();
  module.reset();   // unmapping destroys the server: not even a closing entry is written
  EXPECT_FALSE(ghost->exists("zelka.log"));
}

TEST_F(ExportsTest, UnmappingDestroysTheServerAndRemappingBuildsANewOne) {
  ConfigOptions o;
  o.runlevel = 1;
  useConfig(makeConfig(o));
  ASSERT_EQ(module->load(ghost->dir()), 1);
  module->send(kVersionRequest);
  module->unload();
  module.reset();
  // The closing entry is written by the server's destruction at unmapping.
  std::string first = ghost->read("zelka.log");
  EXPECT_NE(first.find("debug_end  \r\n"), std::string::npos);

  module = std::make_unique<Module>();
  ASSERT_EQ(module->load(ghost->dir()), 1);
  module->send("GET Status SHIORI/2.0\r\n\r\n");
  module->unload();
  module.reset();
  // A new log: truncated by the new server's first write, one opening and one closing entry.
  std::string second = ghost->read("zelka.log");
  EXPECT_EQ(second.find("GET Version"), std::string::npos);
  EXPECT_NE(second.find("GET Status"), std::string::npos);
  EXPECT_EQ(second.find("debug_start"), second.rfind("debug_start"));
  EXPECT_NE(second.find("debug_end"), std::string::npos);
}

TEST_F(ExportsTest, VariablesSurviveAReloadThroughTheReflexFile) {
  ghost->write("vender/start.tlk",
               knowledgeFile(knowledgeBlock("OnZelkaReflexFirstInitialize", "\\formula[counter = 1]") +
                             knowledgeBlock("OnZelkaReflexInitialize", "\\formula[counter = counter + 1]") +
                             knowledgeBlock("OnZelkaGetResource", "%reflex[counter]")));
  for (const char* expected : {"2", "3"}) {
    Module m;
    ASSERT_EQ(m.load(ghost->dir()), 1);
    EXPECT_EQ(m.send("GET String SHIORI/2.5\r\nID: x\r\n\r\n"),
              std::string("SHIORI/2.6 200 OK\r\nString: ") + expected + "\r\nCharset: Shift_JIS\r\n\r\n");
    EXPECT_EQ(m.unload(), 1);
  }
}

TEST_F(ExportsTest, SecondLoadWithoutUnloadStartsAFreshSession) {
  ghost->write("vender/a.tlk", knowledgeFile(knowledgeBlock("OnZelkaGetResource", "only")));
  ASSERT_EQ(module->load(ghost->dir()), 1);
  ASSERT_EQ(module->load(ghost->dir()), 1);
  // The knowledge files are read again, not added twice nor skipped.
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(module->send("GET String SHIORI/2.5\r\nID: x\r\n\r\n"),
              "SHIORI/2.6 200 OK\r\nString: only\r\nCharset: Shift_JIS\r\n\r\n");
  }
  EXPECT_EQ(module->unload(), 1);
}

TEST_F(ExportsTest, FailedStartNeverOverwritesTheReflexFile) {
  // Without a configuration the learning directory is the module directory itself; the
  // variables were never restored, so unload must not write them over the file there.
  auto bare = std::make_unique<TempGhost>("");
  bare->write("reflex.txt", "kept\x01" "1\n");
  EXPECT_EQ(module->load(bare->dir()), 0);
  EXPECT_EQ(module->unload(), 1);
  EXPECT_EQ(bare->read("reflex.txt"), "kept\x01" "1\n");
}

// A hand-edited distance beyond the finite range is a link never followed: the heard text is
// cut after it, passing it counts nothing, and it is written back as a finite distance.
TEST_F(ExportsTest, BindLinkBeyondTheFiniteRangeIsNeverFollowed) {
  ConfigOptions options;
  options.runlevel = 3;   // the segments go to the log
  useConfig(makeConfig(options));
  ghost->write("_learning/bind.xml",
               "<?xml version='1.0' encoding='Shift_JIS'?>\n<Bind name=\"root\" total=\"2\">"
               "<Bind name=\"x\" distance=\"1e999\" total=\"0\"/>"
               "<Bind name=\"y\" distance=\"0\" total=\"0\"/></Bind>\n");
  ASSERT_EQ(module->load(ghost->dir()), 1);
  module->send("GET Sentence SHIORI/2.2\r\nSender: Anna\r\nSentence: xy\r\n"
               "SecurityLevel: local\r\n\r\n");
  EXPECT_EQ(module->unload(), 1);

  const std::string log = ghost->read("zelka.log");
  const std::size_t result = log.find("expression automatic segmentation result: ");
  ASSERT_NE(result, std::string::npos) << log;
  EXPECT_EQ(log.substr(log.find_first_not_of("\r\n", log.find('\n', result)), 4), "x y ") << log;
  const std::filesystem::path bind = ghost->path("_learning/bind.xml");
  EXPECT_EQ(testing::xpath(bind, "string(/Bind/@total)"), "3.000000000000000e+000");
  EXPECT_EQ(testing::xpath(bind, "string(/Bind/Bind[@name=\"x\"]/@distance)"),
            "1.000000000000000e+300");
  EXPECT_EQ(testing::xpath(bind, "string(/Bind/Bind[@name=\"y\"]/@distance)"),
            "0.000000000000000e+000");
  EXPECT_EQ(testing::xpath(bind, "count(//Bind[@name=\"x\"]/Bind)"), "0");
}

// A store that cannot be written (here neuron.xml is a directory) keeps a dictionary in the
// vendor directory. The starts that find it again must not count its words once more in the
// stores that saved them; once the store is back, the dictionary goes into it once and moves.
TEST_F(ExportsTest, DictionaryIsCountedOnceWhileAStoreCannotSaveIt) {
  module.reset();   // every start below maps the module afresh, as a new host process would
  const std::string dictionary = "[ZELKA DICTIONARY]\n[fruit]\napple pear\n";
  ghost->write("vender/fruit.mem", dictionary);
  std::filesystem::create_directories(ghost->path("_learning/neuron.xml"));
  const auto file = [&](const char* name) { return std::filesystem::path(ghost->path(name)); };

  std::string firstImport;
  for (int start = 1; start <= 3; ++start) {
    Module m;
    ASSERT_TRUE(m.ok());
    EXPECT_EQ(m.load(ghost->dir()), 0);   // a store that does not load fails the load
    EXPECT_EQ(m.unload(), 1);
    if (start == 1) firstImport = ghost->read("_learning/bind.xml");
    EXPECT_EQ(ghost->read("_learning/bind.xml"), firstImport) << "start " << start;
    EXPECT_EQ(ghost->read("vender/fruit.mem"), dictionary);
  }
  // One passage from the root for each of fruit, apple and pear.
  EXPECT_EQ(testing::xpath(file("_learning/bind.xml"), "string(/Bind/@total)"),
            "3.000000000000000e+000");
  const std::string pending = ghost->read("_learning/pending_dictionaries.txt");
  EXPECT_NE(pending.find(" 38 bind,index,journal fruit.mem\n"), std::string::npos) << pending;

  std::filesystem::remove(ghost->path("_learning/neuron.xml"));
  for (int start = 4; start <= 5; ++start) {
    Module m;
    ASSERT_TRUE(m.ok());
    EXPECT_EQ(m.load(ghost->dir()), 1);
    EXPECT_EQ(m.unload(), 1);
    EXPECT_EQ(ghost->read("_learning/bind.xml"), firstImport) << "start " << start;
    EXPECT_EQ(testing::xpath(file("_learning/neuron.xml"),
                             "count(//Expression[@name=\"apple\"])"), "1");
    EXPECT_EQ(testing::xpath(file("_learning/index.xml"),
                             "count(/WordIndexes/Index[@name=\"pear\"])"), "1");
    EXPECT_FALSE(ghost->exists("vender/fruit.mem"));
    EXPECT_EQ(ghost->read("vender/learned/fruit.mem"), dictionary);
    EXPECT_FALSE(ghost->exists("_learning/pending_dictionaries.txt"));
  }
}

// Files as editors save them: a dictionary ending in the byte 0x1A old editors append, files
// saved as UTF-8, and one holding a character Shift_JIS cannot write.
TEST_F(ExportsTest, AuthorsFilesAreReadAsTheirEditorsMeantThem) {
  const std::string hari = "\xe3\x83\x8f\xe3\x83\xaa";  // ハリ in UTF-8
  ghost->write("vender/eof.mem", "[ZELKA DICTIONARY]\n[c]\nw\n\x1a");
  ghost->write("vender/utf8.mem", "[ZELKA DICTIONARY]\n[c]\n" + hari + "\n");
  const std::string emoji = "[ZELKA DICTIONARY]\n[c]\nok \xf0\x9f\x98\x80\n";
  ghost->write("vender/emoji.mem", emoji);
  ghost->write("vender/talk.tlk", knowledgeFile(knowledgeBlock("OnZelkaGetResource", hari)));

  ASSERT_EQ(module->load(ghost->dir()), 1);
  EXPECT_EQ(module->send("GET String SHIORI/2.5\r\nID: x\r\n\r\n"),
            "SHIORI/2.6 200 OK\r\nString: \x83\x6e\x83\x8a\r\nCharset: Shift_JIS\r\n\r\n");
  EXPECT_EQ(module->unload(), 1);

  const std::filesystem::path index = ghost->path("_learning/index.xml");
  // The default category, c, w and ハリ: no word made of the end byte, none garbled.
  EXPECT_EQ(testing::xpath(index, "count(/WordIndexes/Index)"), "4");
  EXPECT_EQ(testing::xpath(index, "count(/WordIndexes/Index[@name=\"ハリ\"])"), "1");
  EXPECT_EQ(testing::xpath(index, "count(/WordIndexes/Index[@name=\"ok\"])"), "0");
  EXPECT_TRUE(ghost->exists("vender/learned/eof.mem"));
  EXPECT_TRUE(ghost->exists("vender/learned/utf8.mem"));
  EXPECT_EQ(ghost->read("vender/emoji.mem"), emoji);

  // Told whatever the run level (the log goes to the current directory).
  const std::string log = ghost->read("zelka.log");
  EXPECT_NE(log.find("warning: " + ghost->path("vender/utf8.mem") + ": saved as UTF-8;"),
            std::string::npos) << log;
  EXPECT_NE(log.find("warning: " + ghost->path("vender/talk.tlk") + ": saved as UTF-8;"),
            std::string::npos) << log;
  EXPECT_NE(log.find("error: " + ghost->path("vender/emoji.mem") +
                     ":3: saved as UTF-8, and the character U+1F600 (column 4) has no "
                     "Shift_JIS form: the dictionary was not imported"),
            std::string::npos) << log;
}

}  // namespace
}  // namespace zelka
