// A ghost's files move between machines: what the module writes on Linux is read by the
// Windows DLL and the other way round. Each platform's test program writes a ghost into the
// exchange directory named by ZELKA_EXCHANGE_DIR and reads the one the other platform wrote
// there (build-windows.sh runs Linux, then Windows, then Linux again). Without the variable
// these tests are skipped.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "windows/ghost_files.h"
#include "windows/module_library.h"

namespace zelka::testing {
namespace {

#if defined(_WIN32)
const std::string kPlatform = "windows";
const std::string kOther = "linux";
#else
const std::string kPlatform = "linux";
const std::string kOther = "windows";
#endif

const std::string kFood = "\x90\x48\x95\xa8";                           // food (category)
const std::string kApple = "\x82\xe8\x82\xf1\x82\xb2";                  // apple
const std::string kHello = "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd";  // hello
const std::string kShow = "\x95\x5c\x8e\xa6";  // "display": its first trail byte is 0x5C

const char* const kStores[] = {"bind.xml", "index.xml", "journal.xml", "neuron.xml"};

std::optional<std::filesystem::path> exchangeDirectory() {
  const char* value = std::getenv("ZELKA_EXCHANGE_DIR");
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::filesystem::path(value);
}

std::string header(const std::string& response, const std::string& key) {
  std::size_t at = response.find("\r\n" + key + ": ");
  if (at == std::string::npos) return "(none)";
  at += key.size() + 4;
  return response.substr(at, response.find("\r\n", at) - at);
}

std::string event(ModuleLibrary& module, const std::string& name) {
  return header(module.send("GET Sentence SHIORI/2.2\r\nSender: host\r\nEvent: " + name +
                            "\r\n\r\n"),
                "Sentence");
}

// The module directory of a ghost folder, as a host passes it.
std::string moduleDirectory(const std::filesystem::path& folder) {
  return hostText(folder) + kSeparator;
}

// Knowledge with CR LF line ends, a dictionary, and a variable file as an editor saves it
// (CR LF): the module reads all of them as if their lines ended with LF.
void layOutGhost(const std::filesystem::path& folder) {
  const char* e = "\r\n";
  writeBytes(folder / "zelkaconf.xml", ghostConfig());
  writeBytes(folder / "vender" / "talk.tlk",
             knowledgeFile(knowledgeBlock("OnZelkaReflexFirstInitialize", "\\formula[starts = 0]", e) +
                               knowledgeBlock("OnZelkaReflexInitialize",
                                          "\\formula[starts = starts + 1]", e) +
                               knowledgeBlock("OnStarts", "%reflex[starts]", e) +
                               knowledgeBlock("OnGreeting", "%reflex[greeting]", e) +
                               knowledgeBlock("OnZelkaCommunicate", "heard", e) +
                               knowledgeBlock("OnZelkaCommunicateTimeout", "late", e),
                           e));
  writeBytes(folder / "vender" / "words.mem",
             "[ZELKA DICTIONARY]\r\n[" + kFood + "]\r\n" + kApple + "\r\n");
  writeBytes(folder / "_learning" / "reflex.txt", "greeting\x01\"" + kShow + "\"\r\n");
}

TEST(FileExchange, WriteGhostForTheOtherPlatform) {
  std::optional<std::filesystem::path> exchange = exchangeDirectory();
  if (!exchange) GTEST_SKIP() << "ZELKA_EXCHANGE_DIR is not set";
  const std::filesystem::path folder = *exchange / (kPlatform + "-made");
  std::filesystem::remove_all(folder);
  layOutGhost(folder);

  ModuleLibrary module;
  ASSERT_TRUE(module.ok());
  ASSERT_EQ(module.load(moduleDirectory(folder)), 1);
  std::string heard = module.send("GET Sentence SHIORI/2.2\r\nSender: Alice\r\nSentence: " +
                                  kHello + "\r\n\r\n");
  // A short sentence is thought over within the wait; a slow machine answers a second later.
  for (int i = 0; i < 600 && header(heard, "Sentence") == "(none)"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    heard = module.send("GET Sentence SHIORI/2.2\r\nSender: Alice\r\nEvent: OnSecondChange\r\n"
                        "Reference0: 1\r\nReference1: 1\r\n\r\n");
  }
  EXPECT_EQ(header(heard, "Sentence"), "heard");
  // The same requests as the reading session makes, so that both leave the same variables.
  EXPECT_EQ(event(module, "OnGreeting"), kShow);
  EXPECT_EQ(event(module, "OnStarts"), "1");
  EXPECT_EQ(header(module.send("GET Word SHIORI/2.0\r\nType: %me[" + kFood + "]\r\n\r\n"), "Word"),
            kApple);
  EXPECT_EQ(module.unload(), 1);

  // The module writes its variable file with LF line ends on every platform.
  const std::string reflex = readBytes(folder / "_learning" / "reflex.txt");
  EXPECT_EQ(reflex.find('\r'), std::string::npos);
  EXPECT_NE(reflex.find("greeting\x01\"" + kShow + "\"\n"), std::string::npos) << reflex;
  EXPECT_TRUE(std::filesystem::exists(folder / "vender" / "learned" / "words.mem"));
}

TEST(FileExchange, ReadGhostOfTheOtherPlatform) {
  std::optional<std::filesystem::path> exchange = exchangeDirectory();
  if (!exchange) GTEST_SKIP() << "ZELKA_EXCHANGE_DIR is not set";
  const std::filesystem::path source = *exchange / (kOther + "-made");
  if (!std::filesystem::exists(source)) GTEST_SKIP() << "nothing written by " << kOther << " yet";
  // The other platform's folder stays as it was written; a copy is used.
  const std::filesystem::path folder = *exchange / (kPlatform + "-reads-" + kOther);
  std::filesystem::remove_all(folder);
  std::filesystem::copy(source, folder, std::filesystem::copy_options::recursive);

  ModuleLibrary module;
  ASSERT_TRUE(module.ok());
  ASSERT_EQ(module.load(moduleDirectory(folder)), 1);
  EXPECT_EQ(event(module, "OnGreeting"), kShow);
  EXPECT_EQ(event(module, "OnStarts"), "2");
  EXPECT_EQ(header(module.send("GET Word SHIORI/2.0\r\nType: %me[" + kFood + "]\r\n\r\n"), "Word"),
            kApple);
  EXPECT_EQ(module.unload(), 1);

  // Nothing was learned in between: each store is written back byte for byte as the other
  // platform wrote it, and the variable file differs only in the count of starts.
  for (const char* store : kStores) {
    EXPECT_EQ(readBytes(folder / "_learning" / store), readBytes(source / "_learning" / store))
        << store;
  }
  std::string expected = readBytes(source / "_learning" / "reflex.txt");
  const std::string once = std::string("starts\x01") + "1.000000e+000\n";
  ASSERT_NE(expected.find(once), std::string::npos) << expected;
  expected.replace(expected.find(once), once.size(), std::string("starts\x01") + "2.000000e+000\n");
  EXPECT_EQ(readBytes(folder / "_learning" / "reflex.txt"), expected);
}

}  // namespace
}  // namespace zelka::testing
