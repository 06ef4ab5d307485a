// The configuration and the learned stores through the module's exports, as a conforming XML
// reader sees them: a file that is not well-formed fails the load (configuration) or is set
// aside whole and replaced (store), and files in every encoding such a reader takes are read.
// xmllint judges the files the module writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "module/mapped_module.h"
#include "platform/text_codec.h"
#include "support/ghost_fixture.h"
#include "support/temp_dir.h"
#include "support/xmllint.h"

namespace zelka {
namespace {

using testing::CurrentDirectory;
using testing::TempGhost;
using testing::makeConfig;
using testing::wellFormed;
using testing::xpath;
using Module = testing::MappedModule;

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// One fault a conforming reader refuses, made in a well-formed document whose root element is
// `root` and which holds `attribute="`.
struct Fault {
  const char* name;
  std::function<std::string(const std::string& document, const std::string& root,
                            const std::string& attribute)>
      make;
};

const std::vector<Fault>& faults() {
  static const std::vector<Fault> all = {
      {"second root element",
       [](const std::string& d, const std::string& root, const std::string&) {
         return d + "<" + root + "/>\n";
       }},
      {"duplicated attribute",
       [](const std::string& d, const std::string&, const std::string& attribute) {
         return replaced(d, attribute + "=\"", attribute + "=\"1\" " + attribute + "=\"");
       }},
      {"undefined entity",
       [](const std::string& d, const std::string&, const std::string& attribute) {
         return replaced(d, attribute + "=\"", attribute + "=\"&foo;");
       }},
      {"text after the root",
       [](const std::string& d, const std::string&, const std::string&) { return d + "text\n"; }},
      {"-- inside a comment",
       [](const std::string& d, const std::string& root, const std::string&) {
         return replaced(d, "<" + root, "<!-- a -- b -->\n<" + root);
       }},
      {"second declaration",
       [](const std::string& d, const std::string& root, const std::string&) {
         return replaced(d, "<" + root, "<?xml version='1.0'?>\n<" + root);
       }},
      {"encoding that is not supported",
       [](const std::string& d, const std::string&, const std::string&) {
         return replaced(d, "encoding='Shift_JIS'", "encoding='KOI8-R'");
       }},
  };
  return all;
}

std::set<std::string> entriesOf(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    names.insert(std::filesystem::relative(entry.path(), dir).string());
  }
  return names;
}

TEST(XmlConformance, ConfigurationThatIsNotWellFormedFailsTheLoadAndCreatesNothing) {
  for (const Fault& fault : faults()) {
    TempGhost ghost(fault.make(makeConfig(), "ZelkaConfiguration", "ghost_name"));
    TempGhost elsewhere("");
    CurrentDirectory cwd(elsewhere.dir());  // where a log would go
    const std::set<std::string> before = entriesOf(ghost.dir());
    {
      Module module;
      ASSERT_TRUE(module.ok());
      EXPECT_EQ(module.load(ghost.dir()), 0) << fault.name;
      EXPECT_EQ(module.unload(), 1);
    }
    EXPECT_EQ(entriesOf(ghost.dir()), before) << fault.name;
  }
}

const std::string kBindStore =
    "<?xml version='1.0' encoding='Shift_JIS'?>\n"
    "<Bind name=\"root\" total=\"1.000000000000000e+000\">\n"
    "\t<Bind name=\"a\" distance=\"0.000000000000000e+000\" total=\"0.000000000000000e+000\"/>\n"
    "</Bind>\n";

// The file a store was set aside to; empty when there is none.
std::string asideFile(const TempGhost& ghost, const std::string& store) {
  std::string found;
  for (const auto& entry : std::filesystem::directory_iterator(ghost.path("_learning"))) {
    std::string name = entry.path().filename().string();
    if (name.rfind(store + ".broken-", 0) == 0) found = name;
  }
  return found;
}

TEST(XmlConformance, StoreThatIsNotWellFormedIsSetAsideWholeAndReplaced) {
  for (const Fault& fault : faults()) {
    TempGhost ghost;
    CurrentDirectory cwd(ghost.dir());
    const std::string broken = fault.make(kBindStore, "Bind", "distance");
    ghost.write("_learning/bind.xml", broken);
    {
      Module module;
      ASSERT_TRUE(module.ok());
      EXPECT_EQ(module.load(ghost.dir()), 1) << fault.name;
      EXPECT_EQ(module.unload(), 1);
    }
    const std::string aside = asideFile(ghost, "bind.xml");
    ASSERT_FALSE(aside.empty()) << fault.name;
    EXPECT_EQ(ghost.read("_learning/" + aside), broken) << fault.name;
    const std::string fresh = ghost.path("_learning/bind.xml");
    EXPECT_TRUE(wellFormed(fresh)) << fault.name << "\n" << ghost.read("_learning/bind.xml");
    EXPECT_EQ(xpath(fresh, "count(/Bind[@name='root']/*)"), "0") << fault.name;
  }
}

// A document in an encoding: UTF-16 files are the UTF-8 text converted whole, with a
// byte-order mark; the others are the text with the declaration naming `name` and `value`
// standing for VALUE, given as its bytes in that encoding.
struct Encoding {
  const char* name;
  std::string value;  // bytes in the encoding, or UTF-8 for UTF-16 files
  std::string shiftJis;  // the same characters in Shift_JIS
  int utf16 = 0;         // 1: little endian, 2: big endian
};

const Encoding kEncodings[] = {
    {"UTF-8", "\xE6\x97\xA5\xE6\x9C\xAC", "\x93\xFA\x96\x7B"},        // 日本
    {"UTF-16", "\xE6\x97\xA5\xE6\x9C\xAC", "\x93\xFA\x96\x7B", 1},
    {"UTF-16", "\xE6\x97\xA5\xE6\x9C\xAC", "\x93\xFA\x96\x7B", 2},
    {"US-ASCII", "Ja", "Ja"},
    {"ISO-8859-1", "\xA7\xD7", "\x81\x98\x81\x7E"},                  // §×
    {"Shift_JIS", "\x93\xFA\x96\x7B", "\x93\xFA\x96\x7B"},
    {"EUC-JP", "\xC6\xFC\xCB\xDC\x8E\xB1", "\x93\xFA\x96\x7B\xB1"},  // 日本ｱ
};

std::string inEncoding(const Encoding& e, const std::string& document) {
  std::string text = replaced(replaced(document, "encoding='Shift_JIS'",
                                       std::string("encoding='") + e.name + "'"),
                              "VALUE", e.value);
  if (e.utf16 == 0) return text;
  std::string bytes;
  for (char16_t unit : u"\uFEFF" + utf8ToUtf16(text)) {
    char high = static_cast<char>(unit >> 8);
    char low = static_cast<char>(unit & 0xFF);
    bytes += e.utf16 == 1 ? std::string{low, high} : std::string{high, low};
  }
  return bytes;
}

std::string label(const Encoding& e) {
  return std::string(e.name) + (e.utf16 == 1 ? " LE" : e.utf16 == 2 ? " BE" : "");
}

TEST(XmlConformance, ConfigurationIsReadInEveryEncoding) {
  for (const Encoding& e : kEncodings) {
    TempGhost ghost(inEncoding(e, makeConfig({0, "VALUE", "", ""})));
    CurrentDirectory cwd(ghost.dir());
    Module module;
    ASSERT_TRUE(module.ok());
    EXPECT_EQ(module.load(ghost.dir()), 1) << label(e);
    // The locale comes back in the version response.
    std::string response = module.send("GET Version SHIORI/2.0\r\nSender: test\r\n\r\n");
    EXPECT_NE(response.find("\r\nLocale: " + e.shiftJis + "\r\n"), std::string::npos)
        << label(e) << "\n" << response;
    EXPECT_EQ(module.unload(), 1);
  }
}

TEST(XmlConformance, StoreIsReadInEveryEncodingAndWrittenBackInOneWeWrite) {
  for (const Encoding& e : kEncodings) {
    TempGhost ghost;
    CurrentDirectory cwd(ghost.dir());
    ghost.write("_learning/bind.xml", inEncoding(e, replaced(kBindStore, "\"a\"", "\"VALUE\"")));
    {
      Module module;
      ASSERT_TRUE(module.ok());
      EXPECT_EQ(module.load(ghost.dir()), 1) << label(e);
      EXPECT_EQ(module.unload(), 1);
    }
    EXPECT_EQ(asideFile(ghost, "bind.xml"), "") << label(e);
    // A UTF-8 store stays UTF-8; every other is written as Shift_JIS.
    const bool utf8 = std::string(e.name) == "UTF-8";
    const std::string written = ghost.read("_learning/bind.xml");
    EXPECT_EQ(written.rfind(utf8 ? "<?xml version='1.0' encoding='UTF-8'?>"
                                 : "<?xml version='1.0' encoding='Shift_JIS'?>",
                            0),
              0u)
        << label(e) << "\n" << written;
    EXPECT_NE(written.find("name=\"" + (utf8 ? e.value : e.shiftJis) + "\""), std::string::npos)
        << label(e) << "\n" << written;
    EXPECT_TRUE(wellFormed(ghost.path("_learning/bind.xml"))) << label(e);
  }
}

}  // namespace
}  // namespace zelka
