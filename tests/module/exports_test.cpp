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
#include "shiori/ghost_fixture.h"

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

TEST(ModuleSymbolsTest, ExactlyTheThreeFunctionsAreExported) {
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
  EXPECT_EQ(symbols, (std::set<std::string>{"load", "request", "unload"}));
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

}  // namespace
}  // namespace zelka
