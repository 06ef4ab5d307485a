#include "xml/xml_document.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/text_codec.h"
#include "support/temp_dir.h"

namespace zelka {
namespace {

using testing::readBytes;
using testing::TempDir;
using testing::writeBytes;

std::string utf8(std::u16string_view text) { return utf16ToUtf8(text); }

// The keys of the parent's element children in document order, walked without the index.
std::vector<std::u16string> keysByWalk(const XmlNode& parent) {
  std::vector<std::u16string> keys;
  for (XmlNode c = parent.firstChild(); c; c = c.nextSibling()) {
    keys.push_back(c.attribute(u"name").value_or(u"<none>"));
  }
  return keys;
}

std::vector<std::u16string> keysByIndex(const XmlNode& parent) {
  std::vector<std::u16string> keys;
  for (std::size_t i = 0; i < parent.childCount(); ++i) {
    keys.push_back(parent.child(i).attribute(u"name").value_or(u"<none>"));
  }
  return keys;
}

// ----- open and save -----

TEST(XmlDocumentOpen, MissingFileIsCreatedAndSavedOnlyWithAPath) {
  TempDir dir;
  XmlDocument doc;
  EXPECT_EQ(doc.open(dir.wide("store.xml")), XmlOpenResult::Created);
  EXPECT_TRUE(doc.hasDocument());
  EXPECT_TRUE(doc.boundPath().empty());
  doc.appendDocumentElement(u"Bind").setAttribute(u"name", u"root");
  EXPECT_FALSE(doc.save());
  EXPECT_FALSE(std::filesystem::exists(dir.file("store.xml")));

  ASSERT_TRUE(doc.save(dir.wide("store.xml")));
  std::string bytes = readBytes(dir.file("store.xml"));
  EXPECT_EQ(bytes.rfind("<?xml version='1.0' encoding='Shift_JIS'?>", 0), 0u) << bytes;

  XmlDocument again;
  EXPECT_EQ(again.open(dir.wide("store.xml")), XmlOpenResult::Loaded);
  EXPECT_EQ(again.boundPath(), dir.wide("store.xml"));
  EXPECT_EQ(again.documentElement(u"Bind").attribute(u"name"), u"root");
  // A path-less save writes back to the file it came from.
  again.documentElement(u"Bind").setAttribute(u"total", u"1");
  ASSERT_TRUE(again.save());
  XmlDocument third;
  ASSERT_EQ(third.open(dir.wide("store.xml")), XmlOpenResult::Loaded);
  EXPECT_EQ(third.documentElement(u"Bind").attribute(u"total"), u"1");
}

TEST(XmlDocumentOpen, EncodingNameGoesIntoTheDeclaration) {
  TempDir dir;
  struct Case {
    std::u16string encoding;
    std::string declaration;
    bool saves;
  };
  const Case cases[] = {
      {u"UTF-8", "<?xml version='1.0' encoding='UTF-8'?>", true},
      {u"shift_jis", "<?xml version='1.0' encoding='shift_jis'?>", true},
      {u"", "<?xml version='1.0' encoding='Shift_JIS'?>", true},
      // An encoding we cannot write: the save refuses rather than write a file that lies.
      {u"EUC-JP", "", false},
  };
  for (const auto& c : cases) {
    XmlDocument doc;
    std::string name = "e" + std::to_string(&c - cases) + ".xml";
    ASSERT_EQ(doc.open(dir.wide(name), c.encoding), XmlOpenResult::Created);
    doc.appendDocumentElement(u"Root").setAttribute(u"name", u"日本");
    EXPECT_EQ(doc.save(dir.wide(name)), c.saves) << name;
    if (!c.saves) {
      EXPECT_FALSE(std::filesystem::exists(dir.file(name)));
      continue;
    }
    std::string bytes = readBytes(dir.file(name));
    EXPECT_EQ(bytes.rfind(c.declaration, 0), 0u) << bytes;
    XmlDocument back;
    ASSERT_EQ(back.open(dir.wide(name)), XmlOpenResult::Loaded);
    EXPECT_EQ(back.documentElement(u"Root").attribute(u"name"), u"日本");
  }
}

TEST(XmlDocumentOpen, DeclaredEncodingDecidesHowBytesAreRead) {
  const std::string sjisName = toNarrow(u"日本");
  const std::string utf8Name = utf8(u"日本");
  auto withDeclaration = [](const std::string& encoding, const std::string& name) {
    return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?><Root name=\"" + name + "\"/>";
  };
  struct Case {
    std::string label;
    std::string bytes;
    bool loads;
  };
  std::vector<Case> cases;
  for (std::string alias : {"Shift_JIS", "shift_jis", "SHIFT-JIS", "sjis", "x-sjis", "MS_Kanji",
                            "csShiftJIS", "Windows-31J", "cp932", "MS932"}) {
    cases.push_back({alias, withDeclaration(alias, sjisName), true});
  }
  cases.push_back({"single quotes", "<?xml version='1.0' encoding='Shift_JIS'?><Root name='" +
                                        sjisName + "'/>",
                   true});
  cases.push_back({"no declaration", "<Root name=\"" + utf8Name + "\"/>", true});
  cases.push_back({"declaration without encoding",
                   "<?xml version=\"1.0\"?><Root name=\"" + utf8Name + "\"/>", true});
  cases.push_back({"UTF-8", withDeclaration("UTF-8", utf8Name), true});
  cases.push_back({"byte-order mark", "\xEF\xBB\xBF<Root name=\"" + utf8Name + "\"/>", true});
  cases.push_back({"Shift_JIS bytes declared UTF-8", withDeclaration("UTF-8", sjisName), false});
  cases.push_back({"Shift_JIS bytes, no declaration", "<Root name=\"" + sjisName + "\"/>", false});
  cases.push_back({"unknown encoding", withDeclaration("KOI8-R", utf8Name), false});
  cases.push_back({"UTF-16 with a byte-order mark",
                   std::string("\xFF\xFE<\0R\0o\0o\0t\0 \0n\0a\0m\0e\0=\0'\0\xE5\x65\x2C\x67'\0/\0>\0", 36),
                   true});
  cases.push_back({"overlong UTF-8", "<Root name=\"\xC0\xAF\"/>", false});
  cases.push_back({"UTF-8 surrogate", "<Root name=\"\xED\xA0\x80\"/>", false});
  cases.push_back({"empty", "", false});
  cases.push_back({"only a declaration", "<?xml version='1.0' encoding='Shift_JIS'?>", false});
  cases.push_back({"unclosed", "<Root name=\"a\">", false});
  for (const auto& c : cases) {
    XmlDocument doc;
    XmlOpenResult result = doc.openFromText(c.bytes);
    EXPECT_EQ(result, c.loads ? XmlOpenResult::Loaded : XmlOpenResult::Failed) << c.label;
    if (c.loads) {
      EXPECT_EQ(doc.documentElement(u"Root").attribute(u"name"), u"日本") << c.label;
    } else {
      EXPECT_FALSE(doc.hasDocument()) << c.label;
    }
  }
}

TEST(XmlDocumentOpen, InvalidShiftJisBytesAreReadLeniently) {
  XmlDocument doc;
  // 0x81 0x20: a lead byte before a blank; 0xA0: no character; then a good character.
  std::string bytes = "<?xml version='1.0' encoding='Shift_JIS'?><Root a=\"x\x81 y\" b=\"\xA0" +
                      toNarrow(u"本") + "\" c=\"ok\"/>";
  ASSERT_EQ(doc.openFromText(bytes), XmlOpenResult::Loaded);
  XmlNode root = doc.documentElement(u"Root");
  EXPECT_EQ(root.attribute(u"a"), u"x\uFFFD y");
  EXPECT_EQ(root.attribute(u"b"), u"\uFFFD本");
  EXPECT_EQ(root.attribute(u"c"), u"ok");
}

TEST(XmlDocumentOpen, EntitiesAreNeverExpanded) {
  TempDir dir;
  writeBytes(dir.file("secret.txt"), "SECRET");
  const std::string doctype = "<?xml version='1.0'?>\n<!DOCTYPE Root [\n"
                              "  <!ENTITY inner \"expanded\">\n"
                              "  <!ENTITY outside SYSTEM \"file://" + dir.file("secret.txt") + "\">\n"
                              "  <!ENTITY a \"&inner;&inner;&inner;&inner;\">\n"
                              "]>\n";
  // A document that uses a declared entity cannot be held as it means: it is refused.
  struct Case {
    std::string root;
    std::string reason;
  };
  const Case cases[] = {
      {"<Root name=\"&inner;\"/>", "line 7, column 1: the entity \"inner\" is used; entities are never expanded"},
      {"<Root>\n <X>&outside;</X></Root>", "line 8, column 5: the entity \"outside\" is used; entities are never expanded"},
      {"<Root>&a;</Root>", "line 7, column 7: the entity \"a\" is used; entities are never expanded"},
  };
  for (const Case& c : cases) {
    XmlDocument doc;
    EXPECT_EQ(doc.openFromText(doctype + c.root), XmlOpenResult::Failed) << c.root;
    EXPECT_EQ(doc.openProblem().reason, c.reason);
  }
  // Declared but unused, or named in a comment or a section, they do no harm.
  XmlDocument doc;
  ASSERT_EQ(doc.openFromText(doctype + "<Root name=\"&amp;inner;\"><!-- &inner; -->"
                                       "<![CDATA[&a;]]></Root>"),
            XmlOpenResult::Loaded)
      << doc.openProblem().reason;
  EXPECT_EQ(doc.documentElement(u"Root").attribute(u"name"), u"&inner;");
  std::string saved = doc.serialize();
  EXPECT_EQ(saved.find("SECRET"), std::string::npos);
  EXPECT_EQ(saved.find("expanded"), std::string::npos);
}

TEST(XmlDocumentOpen, WhatIsNotWellFormedIsRefusedWithWhereAndWhat) {
  const std::string declaration = "<?xml version='1.0' encoding='Shift_JIS'?>\n";
  struct Case {
    std::string text;
    std::string reason;
  };
  const Case cases[] = {
      {declaration + "<Root/>\n<Root/>", "line 3, column 1: junk after document element"},
      {declaration + "<Root>\n  <Bind name=\"a\" name=\"b\"/></Root>",
       "line 3, column 18: duplicate attribute"},
      {declaration + "<Root>&foo;</Root>", "line 2, column 7: undefined entity"},
      {declaration + "<Root/>text", "line 2, column 8: junk after document element"},
      {declaration + "<Root><!-- a -- b --></Root>",
       "line 2, column 16: not well-formed (invalid token)"},
      {declaration + "<?xml version='1.0'?><Root/>",
       "line 2, column 1: XML or text declaration not at start of entity"},
      {"<?xml version='1.0' encoding='KOI8-R'?><Root/>",
       "line 1, column 31: the declaration names the encoding \"KOI8-R\", which Zelka does not read"},
      {"<Root>\n\xC3\x28</Root>", "line 2, column 1: byte 0xC3 does not begin a UTF-8 character here"},
      {"<?xml version='1.0' encoding='US-ASCII'?>\n<Root>\xE9</Root>",
       "line 2, column 7: byte 0xE9 is not US-ASCII"},
      {"", "line 1, column 1: no element found"},
      {std::string("<Root>\x01</Root>"), "line 1, column 7: not well-formed (invalid token)"},
      {std::string("\xFF\xFE<\0R\0/\0>\0\x00\xD8", 12),
       "line 1, column 5: an unpaired UTF-16 surrogate"},
  };
  for (const Case& c : cases) {
    XmlDocument doc;
    EXPECT_EQ(doc.openFromText(c.text), XmlOpenResult::Failed) << c.text;
    EXPECT_EQ(doc.openProblem().reason, c.reason) << c.text;
    EXPECT_FALSE(doc.hasDocument());
  }
}

TEST(XmlDocumentOpen, BrokenFileIsKeptAsideOrLeftAlone) {
  TempDir dir;
  const std::string broken = "<?xml version='1.0' encoding='Shift_JIS'?>\n<Bind name=\"root\"";
  writeBytes(dir.file("bind.xml"), broken);

  XmlDocument strict;
  EXPECT_EQ(strict.open(dir.wide("bind.xml"), u"Shift_JIS", BrokenFilePolicy::Fail),
            XmlOpenResult::Failed);
  EXPECT_EQ(strict.openProblem().reason.rfind("line 2, column ", 0), 0u)
      << strict.openProblem().reason;
  EXPECT_TRUE(strict.openProblem().keptAsidePath.empty());
  EXPECT_FALSE(strict.hasDocument());
  EXPECT_FALSE(strict.save(dir.wide("bind.xml")));
  EXPECT_EQ(readBytes(dir.file("bind.xml")), broken);

  XmlDocument store;
  EXPECT_EQ(store.open(dir.wide("bind.xml")), XmlOpenResult::Created);
  EXPECT_FALSE(std::filesystem::exists(dir.file("bind.xml")));
  std::vector<std::string> aside;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    aside.push_back(entry.path().filename().string());
  }
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(aside[0].rfind("bind.xml.broken-", 0), 0u) << aside[0];
  EXPECT_EQ(readBytes(dir.file(aside[0])), broken);
  EXPECT_EQ(store.openProblem().keptAsidePath, dir.wide(aside[0]));
  EXPECT_FALSE(store.openProblem().empty());
  EXPECT_EQ(store.open(dir.wide("bind.xml")), XmlOpenResult::Created);
  EXPECT_TRUE(store.openProblem().empty());  // nothing there to complain of any more
}

TEST(XmlDocumentOpen, UnreadablePathFailsAndIsLeftAlone) {
  TempDir dir;
  std::filesystem::create_directory(dir.file("store.xml"));
  XmlDocument doc;
  EXPECT_EQ(doc.open(dir.wide("store.xml")), XmlOpenResult::Failed);
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("store.xml")));
  EXPECT_EQ(doc.open(u""), XmlOpenResult::Failed);
  // A path the narrow form cannot hold would name another file.
  EXPECT_EQ(doc.open(dir.wide("x") + u"\U0001F600.xml"), XmlOpenResult::Failed);
}

TEST(XmlDocumentOpen, LeftoverTemporaryFilesOfThePathAreRemoved) {
  TempDir dir;
  writeBytes(dir.file("bind.xml.zelka-tmp.123.4"), "<Bind");
  writeBytes(dir.file("index.xml.zelka-tmp.123.5"), "<Index");
  XmlDocument doc;
  EXPECT_EQ(doc.open(dir.wide("bind.xml")), XmlOpenResult::Created);
  EXPECT_FALSE(std::filesystem::exists(dir.file("bind.xml.zelka-tmp.123.4")));
  EXPECT_TRUE(std::filesystem::exists(dir.file("index.xml.zelka-tmp.123.5")));
  // The configuration's policy touches nothing beside the file.
  EXPECT_EQ(doc.open(dir.wide("index.xml"), u"Shift_JIS", BrokenFilePolicy::Fail),
            XmlOpenResult::Created);
  EXPECT_TRUE(std::filesystem::exists(dir.file("index.xml.zelka-tmp.123.5")));
}

TEST(XmlDocumentSave, FailsWithoutDocumentOrWritableTarget) {
  TempDir dir;
  XmlDocument none;
  EXPECT_FALSE(none.save(dir.wide("a.xml")));
  XmlDocument doc;
  ASSERT_EQ(doc.open(dir.wide("a.xml")), XmlOpenResult::Created);
  doc.appendDocumentElement(u"Root");
  EXPECT_FALSE(doc.save(dir.wide("missing/a.xml")));
  EXPECT_TRUE(doc.boundPath().empty());
  EXPECT_THROW(doc.appendDocumentElement(u"Second"), XmlError);
}

// Every way an edit reaches a document marks it edited until a save; reading, walking and the
// reordering a keyed lookup does on a hand-edited list do not. A failed save keeps the mark.
TEST(XmlDocumentSave, EditsAreTrackedUntilSaved) {
  TempDir dir;
  struct Case {
    const char* what;
    void (*edit)(XmlNode root);
  };
  const Case cases[] = {
      {"setAttribute", [](XmlNode r) { r.firstChild().setAttribute(u"x", u"1"); }},
      {"setAttributeNumberAscii", [](XmlNode r) { r.firstChild().setAttributeNumberAscii("n", 2); }},
      {"numberAttribute of a missing one", [](XmlNode r) { r.child(0).numberAttribute(u"n"); }},
      {"updateChildNumbers",
       [](XmlNode r) {
         r.updateChildNumbers("Item", "n", XmlNode(), [](double v, const void*) { return v; },
                              nullptr);
       }},
      {"insertSorted", [](XmlNode r) { r.insertSorted(u"Item", u"name", u"d"); }},
      {"appendChild", [](XmlNode r) { r.appendChild(u"Item"); }},
      {"prependChild", [](XmlNode r) { r.prependChild(u"Item"); }},
      {"insertChildBefore", [](XmlNode r) { r.insertChildBefore(u"Item", r.firstChild()); }},
      {"remove", [](XmlNode r) { r.firstChild().remove(); }},
  };
  for (const Case& c : cases) {
    writeBytes(dir.file("a.xml"), "<?xml version='1.0' encoding='Shift_JIS'?>\n<Root><Item "
                                  "name=\"b\" n=\"1\"/><Item name=\"a\"/><Item name=\"c\"/></Root>\n");
    XmlDocument doc;
    ASSERT_EQ(doc.open(dir.wide("a.xml")), XmlOpenResult::Loaded);
    XmlNode root = doc.documentElement(u"Root");
    root.firstChild().attribute(u"n");
    root.findChildByKey(u"name", u"c");  // sorts the hand-edited list in memory
    root.child(1).numberAttribute(u"n");  // "b", now second, carries it: read, not written
    EXPECT_FALSE(doc.hasUnsavedEdits()) << c.what;
    c.edit(root);
    EXPECT_TRUE(doc.hasUnsavedEdits()) << c.what;
    EXPECT_FALSE(doc.save(dir.wide("missing/a.xml"))) << c.what;
    EXPECT_TRUE(doc.hasUnsavedEdits()) << c.what;
    ASSERT_TRUE(doc.save()) << c.what;
    EXPECT_FALSE(doc.hasUnsavedEdits()) << c.what;
  }
  XmlDocument created;
  ASSERT_EQ(created.open(dir.wide("new.xml")), XmlOpenResult::Created);
  created.appendDocumentElement(u"Root");
  EXPECT_TRUE(created.hasUnsavedEdits());
  EXPECT_EQ(created.open(dir.wide("a.xml")), XmlOpenResult::Loaded);
  EXPECT_FALSE(created.hasUnsavedEdits());
}

// ----- Shift_JIS out -----

TEST(XmlDocumentSave, CharactersWithoutShiftJisFormBecomeReferences) {
  TempDir dir;
  XmlDocument doc;
  ASSERT_EQ(doc.open(dir.wide("s.xml")), XmlOpenResult::Created);
  // 髙 and ① have only code page 932 extension forms; 😀 has none; 日本 is plain JIS X 0208.
  const std::u16string value = u"髙①日本\U0001F600<&\"'";
  XmlNode root = doc.appendDocumentElement(u"Root");
  root.setAttribute(u"name", value);
  root.appendChild(u"Child").setAttribute(u"name", u"①");
  ASSERT_TRUE(doc.save(dir.wide("s.xml")));

  std::string bytes = readBytes(dir.file("s.xml"));
  EXPECT_NE(bytes.find("&#39641;&#9312;" + toNarrow(u"日本") + "&#128512;"), std::string::npos)
      << bytes;
  // No code page 932 extension bytes (lead 0x87, 0xED..0xFC) anywhere in the file.
  for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
    auto b = static_cast<unsigned char>(bytes[i]);
    if (b >= 0x81) {
      EXPECT_FALSE(b == 0x87 || b >= 0xED) << i;
      ++i;
    }
  }
  XmlDocument back;
  ASSERT_EQ(back.open(dir.wide("s.xml")), XmlOpenResult::Loaded);
  EXPECT_EQ(back.documentElement(u"Root").attribute(u"name"), value);
  EXPECT_EQ(back.documentElement(u"Root").child(0).attribute(u"name"), u"①");
}

TEST(XmlDocumentSave, HandEditedMarkupWithoutShiftJisFormStaysReadable) {
  // A hand-edited Shift_JIS file with ① (a code page 932 extension) in a comment, a CDATA
  // section and a processing instruction.
  std::string circled = toNarrow(u"①");
  // 髙 (an IBM extension) stands in the element name, where ① is no name character.
  std::string text = "<?xml version='1.0' encoding='Shift_JIS'?>\n<Root><!-- note " + circled +
                     " --><?app " + circled + "?><Data><![CDATA[a" + circled + "b]]></Data><X" +
                     toNarrow(u"髙") + " name=\"n\"/></Root>";
  XmlDocument doc;
  ASSERT_EQ(doc.openFromText(text), XmlOpenResult::Loaded);
  std::string out = doc.serialize();
  EXPECT_NE(out.find("<!-- note ? -->"), std::string::npos) << out;
  EXPECT_NE(out.find("<?app ?"), std::string::npos) << out;
  EXPECT_NE(out.find("<![CDATA[a]]>&#9312;<![CDATA[b]]>"), std::string::npos) << out;
  EXPECT_NE(out.find("<X_ name=\"n\""), std::string::npos) << out;
  XmlDocument back;
  EXPECT_EQ(back.openFromText(out), XmlOpenResult::Loaded);
}

TEST(XmlDocumentSave, TextXmlCannotCarryIsStoredAsReplacement) {
  XmlDocument doc;
  ASSERT_EQ(doc.openFromText("<Root/>"), XmlOpenResult::Loaded);
  XmlNode root = doc.documentElement(u"Root");
  root.setAttribute(u"v", std::u16string(u"a\u0001b\tc\n") + char16_t(0xD800) + u"d\uFFFF");
  EXPECT_EQ(root.attribute(u"v"), u"a\uFFFDb\tc\n\uFFFDd\uFFFD");
  // Keys are cleaned the same way, so a key stored with such text is found with it.
  ASSERT_TRUE(root.insertSorted(u"E", u"name", u"k\u0002"));
  EXPECT_TRUE(root.findChildByKey(u"name", u"k\u0002").match);
  EXPECT_TRUE(root.findChildByKey(u"name", u"k\uFFFD").match);
}

// ----- attributes and numbers -----

TEST(XmlNodeAttributes, NumbersAreWrittenAndReadAsTheStoresExpect) {
  XmlDocument doc;
  ASSERT_EQ(doc.openFromText("<Root a=\" 2.5xyz\" b=\"abc\" c=\"inf\" d=\"nan\" e=\"1e999\"/>"),
            XmlOpenResult::Loaded);
  XmlNode root = doc.documentElement(u"Root");
  root.setAttributeNumber(u"half", 0.30102999566398120);
  EXPECT_EQ(root.attribute(u"half"), u"3.010299956639812e-001");
  root.setAttributeNumber(u"zero", 0.0);
  EXPECT_EQ(root.attribute(u"zero"), u"0.000000000000000e+000");
  root.setAttributeInteger(u"count", -42);
  EXPECT_EQ(root.attribute(u"count"), u"-42");
  EXPECT_DOUBLE_EQ(root.numberAttribute(u"half"), 0.3010299956639812);

  EXPECT_DOUBLE_EQ(root.numberAttribute(u"a"), 2.5);
  EXPECT_EQ(root.attribute(u"a"), u" 2.5xyz");  // readable: left as it is
  EXPECT_EQ(root.numberAttribute(u"b"), 0.0);
  EXPECT_EQ(root.attribute(u"b"), u"abc");
  // Missing or not finite: written back as 0 so the store holds a usable number again.
  for (std::u16string name : {u"c", u"d", u"e", u"missing"}) {
    EXPECT_EQ(root.numberAttribute(name), 0.0);
    EXPECT_EQ(root.attribute(name), u"0.000000000000000e+000");
  }
}

TEST(XmlNodeAttributes, EmptyHandleAnswersEmptyAndRefusesEdits) {
  XmlNode none;
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(none.tagName(), u"");
  EXPECT_EQ(none.attribute(u"name"), std::nullopt);
  EXPECT_EQ(none.numberAttribute(u"distance"), 0.0);
  EXPECT_EQ(none.childCount(), 0u);
  EXPECT_FALSE(none.child(0));
  EXPECT_FALSE(none.parent());
  EXPECT_FALSE(none.findChildByKey(u"name", u"a").match);
  EXPECT_EQ(none.makeUniqueKey(u"name", u"P"), u"");
  EXPECT_FALSE(none.remove());
  EXPECT_THROW(none.setAttribute(u"a", u"b"), XmlError);
  EXPECT_THROW(none.appendChild(u"E"), XmlError);
  EXPECT_THROW(none.insertSorted(u"E", u"name", u"a"), XmlError);

  XmlDocument doc;
  ASSERT_EQ(doc.openFromText("<Root><A/></Root><!-- x -->"), XmlOpenResult::Loaded);
  XmlNode root = doc.documentElement(u"Root");
  XmlNode other = doc.documentElement(u"Root").child(0);
  EXPECT_THROW(other.insertChildBefore(u"E", root), XmlError);  // root is not its child
  EXPECT_THROW(root.appendChild(u""), XmlError);
}

// ----- keys -----

TEST(XmlKeys, OrderIsUtf16CodeUnits) {
  struct Case {
    std::u16string a, b;
    int order;
  };
  const Case cases[] = {
      {u"ab", u"abc", -1},                  // a prefix sorts first
      {u"", u"a", -1},
      {u"B", u"a", -1},                     // upper case before lower case
      {u"a", u"a", 0},
      {u"\uFF5E", u"\U00020BB7", 1},        // above U+FFFF sorts as surrogates, below U+E000
      {u"\uE000", u"\U0001F600", 1},
      {u"\uD7FF", u"\U00010000", -1},
      {u"\U00020BB7", u"\U0001F600", 1},
      {u"日", u"本", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(compareKeys(c.a, c.b), c.order) << utf8(c.a) << " " << utf8(c.b);
    EXPECT_EQ(compareKeys(c.b, c.a), -c.order);
    // The document keeps the same order.
    XmlDocument doc;
    ASSERT_EQ(doc.openFromText("<Root/>"), XmlOpenResult::Loaded);
    XmlNode root = doc.documentElement(u"Root");
    if (c.order == 0) continue;
    ASSERT_TRUE(root.insertSorted(u"E", u"name", c.b));
    ASSERT_TRUE(root.insertSorted(u"E", u"name", c.a));
    auto expected = c.order < 0 ? std::vector<std::u16string>{c.a, c.b}
                                : std::vector<std::u16string>{c.b, c.a};
    EXPECT_EQ(keysByWalk(root), expected);
  }
}

TEST(XmlKeys, EmptyParentHasNoMatchAndNoNeighbour) {
  XmlDocument doc;
  ASSERT_EQ(doc.openFromText("<Root><!-- only a comment -->text</Root>"), XmlOpenResult::Loaded);
  XmlNode root = doc.documentElement(u"Root");
  auto found = root.findChildByKey(u"name", u"a");
  EXPECT_FALSE(found.match);
  EXPECT_FALSE(found.neighbour);
  XmlNode added = root.insertSorted(u"Bind", u"name", u"a");
  ASSERT_TRUE(added);
  EXPECT_EQ(added.tagName(), u"Bind");
  EXPECT_EQ(root.childCount(), 1u);
  EXPECT_EQ(root.findChildByKey(u"name", u"a").match, added);
  // A second insert of the same key changes nothing.
  EXPECT_FALSE(root.insertSorted(u"Bind", u"name", u"a"));
  EXPECT_EQ(root.childCount(), 1u);
}

TEST(XmlKeys, KeysWithQuotesAndMarkupAreFound) {
  TempDir dir;
  XmlDocument doc;
  ASSERT_EQ(doc.open(dir.wide("q.xml")), XmlOpenResult::Created);
  XmlNode root = doc.appendDocumentElement(u"Root");
  const std::u16string keys[] = {u"say \"hi\"", u"it's", u"a]b", u"<&>", u"\"]/..//*[@x=\""};
  for (const auto& key : keys) ASSERT_TRUE(root.insertSorted(u"E", u"name", key));
  ASSERT_TRUE(doc.save(dir.wide("q.xml")));
  XmlDocument back;
  ASSERT_EQ(back.open(dir.wide("q.xml")), XmlOpenResult::Loaded);
  XmlNode r = back.documentElement(u"Root");
  for (const auto& key : keys) {
    XmlNode match = r.findChildByKey(u"name", key).match;
    ASSERT_TRUE(match) << utf8(key);
    EXPECT_EQ(match.attribute(u"name"), key);
    EXPECT_EQ(r.findChildWithAttribute(u"E", u"name", key), match);
  }
  EXPECT_FALSE(r.findChildByKey(u"name", u"say ").match);
}

// Random edits through every wrapper operation, checked against a plain sorted model: the
// index must always agree with the document, and every key must be found.
TEST(XmlKeys, IndexFollowsEveryEdit) {
  const std::u16string alphabet[] = {u"a", u"B", u"b", u"日", u"\uFF5E", u"\uE000",
                                     u"\U00020BB7", u"\U0001F600", u"\"", u"0"};
  std::mt19937 random(12345);
  std::u16string stem;  // the last round's keys share a long stem
  auto randomKey = [&] {
    std::u16string key = stem;
    int length = 1 + static_cast<int>(random() % 3);
    for (int i = 0; i < length; ++i) key += alphabet[random() % std::size(alphabet)];
    return key;
  };
  for (int round = 0; round < 4; ++round) {
    if (round == 3) stem = u"共通の接頭辞";
    XmlDocument doc;
    ASSERT_EQ(doc.openFromText("<Root/>"), XmlOpenResult::Loaded);
    XmlNode root = doc.documentElement(u"Root");
    std::vector<std::u16string> model;
    // Small lists are searched without an index, long ones through a summary.
    const int steps = round < 2 ? 40 : 2000;
    for (int step = 0; step < steps; ++step) {
      std::u16string key = randomKey();
      bool present = std::find(model.begin(), model.end(), key) != model.end();
      switch (random() % 5) {
        case 0:
        case 1: {
          XmlNode added = root.insertSorted(u"E", u"name", key);
          EXPECT_EQ(static_cast<bool>(added), !present);
          if (!present) model.push_back(key);
          break;
        }
        case 2: {  // remove a random child (with a subtree)
          if (model.empty()) break;
          XmlNode victim = root.child(random() % root.childCount());
          victim.appendChild(u"Sub").appendChild(u"Leaf");
          victim.child(0).childCount();  // give the subtree an index of its own
          std::u16string name = *victim.attribute(u"name");
          ASSERT_TRUE(victim.remove());
          EXPECT_TRUE(victim.empty());
          model.erase(std::find(model.begin(), model.end(), name));
          break;
        }
        case 3: {  // append or insert anywhere, then key it: out of order on purpose
          if (present) break;
          XmlNode e = (random() % 2 || model.empty())
                             ? root.appendChild(u"E")
                             : root.insertChildBefore(u"E", root.child(random() % root.childCount()));
          EXPECT_TRUE(e.childCount() == 0 && e.parent() == root);
          e.setAttribute(u"name", key);
          model.push_back(key);
          break;
        }
        default: {
          auto found = root.findChildByKey(u"name", key);
          EXPECT_EQ(static_cast<bool>(found.match), present);
          break;
        }
      }
      std::sort(model.begin(), model.end(),
                [](const auto& a, const auto& b) { return compareKeys(a, b) < 0; });
      ASSERT_EQ(keysByIndex(root), keysByWalk(root));
      ASSERT_EQ(root.childCount(), model.size());
    }
    // After a keyed lookup the list is in key order and every key is found.
    for (const auto& key : model) {
      auto found = root.findChildByKey(u"name", key);
      ASSERT_TRUE(found.match) << utf8(key);
      EXPECT_EQ(found.match.attribute(u"name"), key);
    }
    EXPECT_EQ(keysByWalk(root), model);
    // A missing key's neighbour is the first larger key.
    for (int probe = 0; probe < 50; ++probe) {
      std::u16string key = randomKey();
      if (std::find(model.begin(), model.end(), key) != model.end()) continue;
      auto found = root.findChildByKey(u"name", key);
      auto larger = std::find_if(model.begin(), model.end(),
                                 [&](const auto& k) { return compareKeys(key, k) < 0; });
      if (larger == model.end()) {
        EXPECT_FALSE(found.neighbour);
      } else {
        ASSERT_TRUE(found.neighbour);
        EXPECT_EQ(found.neighbour.attribute(u"name"), *larger);
      }
    }
  }
}

class HandEditedList : public ::testing::TestWithParam<int> {};

// Unsorted keys, duplicates, key-less elements, comments and text between the children.
TEST_P(HandEditedList, IsSortedOnceAndNothingIsLost) {
  int extra = GetParam();  // 0: a small list; otherwise a list large enough to be indexed
  std::string text = "<Root>\n  <!-- hand edit -->\n  <E name=\"m\" n=\"1\"/>text\n"
                     "  <E n=\"keyless-1\"/>\n  <E name=\"c\"/>\n  <E name=\"m\" n=\"2\"/>\n"
                     "  <E name=\"\"/>\n  <Other name=\"a\"/>\n  <E n=\"keyless-2\"/>\n";
  for (int i = extra; i > 0; --i) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "  <E name=\"z%03d\"/>\n", i);
    text += buffer;
  }
  text += "</Root>";
  XmlDocument doc;
  ASSERT_EQ(doc.openFromText(text), XmlOpenResult::Loaded);
  XmlNode root = doc.documentElement(u"Root");
  const std::size_t total = 7 + static_cast<std::size_t>(extra);
  ASSERT_EQ(keysByWalk(root).size(), total);

  // The first of two equal keys is the one found; key-less elements are never matched.
  XmlNode m = root.findChildByKey(u"name", u"m").match;
  ASSERT_TRUE(m);
  EXPECT_EQ(m.attribute(u"n"), u"1");
  EXPECT_EQ(root.findChildByKey(u"name", u"").match.attribute(u"name"), u"");
  EXPECT_EQ(root.findChildByKey(u"name", u"a").match.tagName(), u"Other");
  for (int i = 1; i <= extra; ++i) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "z%03d", i);
    std::u16string key(buffer, buffer + 4);
    EXPECT_TRUE(root.findChildByKey(u"name", key).match) << buffer;
  }
  EXPECT_FALSE(root.insertSorted(u"E", u"name", u"m"));
  XmlNode d = root.insertSorted(u"E", u"name", u"d");
  ASSERT_TRUE(d);
  EXPECT_EQ(root.childCount(), total + 1);

  std::vector<std::u16string> keys = keysByWalk(root);
  EXPECT_EQ(keys, keysByIndex(root));
  std::vector<std::u16string> expected = {u"", u"a", u"c", u"d", u"m", u"m"};
  for (int i = 1; i <= extra; ++i) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "z%03d", i);
    expected.emplace_back(buffer, buffer + 4);
  }
  expected.push_back(u"<none>");
  expected.push_back(u"<none>");
  EXPECT_EQ(keys, expected);
  // Duplicates keep their document order; key-less ones keep theirs.
  EXPECT_EQ(root.child(4).attribute(u"n"), u"1");
  EXPECT_EQ(root.child(5).attribute(u"n"), u"2");
  EXPECT_EQ(root.child(total - 1).attribute(u"n"), u"keyless-1");
  EXPECT_EQ(root.child(total).attribute(u"n"), u"keyless-2");
  // The comment and the text survive a save.
  std::string out = doc.serialize();
  EXPECT_NE(out.find("<!-- hand edit -->"), std::string::npos);
  EXPECT_NE(out.find("text"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Sizes, HandEditedList, ::testing::Values(0, 20, 700));

TEST(XmlKeys, LargeListsFindEveryKeyAndNeighbour) {
  XmlDocument doc;
  ASSERT_EQ(doc.openFromText("<Root/>"), XmlOpenResult::Loaded);
  XmlNode root = doc.documentElement(u"Root");
  // Insert even numbers in a scrambled order, then probe all numbers.
  std::vector<int> values;
  for (int i = 0; i < 2000; i += 2) values.push_back(i);
  std::shuffle(values.begin(), values.end(), std::mt19937(7));
  auto keyOf = [](int i) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%05d", i);
    return std::u16string(buffer, buffer + 5);
  };
  for (std::size_t n = 0; n < values.size(); ++n) {
    ASSERT_TRUE(root.insertSorted(u"E", u"name", keyOf(values[n])));
    // Every lookup right after an insert sees the new key and the old ones.
    ASSERT_TRUE(root.findChildByKey(u"name", keyOf(values[n])).match);
    ASSERT_TRUE(root.findChildByKey(u"name", keyOf(values[n / 2])).match);
    EXPECT_FALSE(root.findChildByKey(u"name", keyOf(values[n] + 1)).match);
  }
  for (int i = 0; i < 2001; ++i) {
    auto found = root.findChildByKey(u"name", keyOf(i));
    if (i % 2 == 0 && i < 2000) {
      ASSERT_TRUE(found.match) << i;
      EXPECT_EQ(found.match.attribute(u"name"), keyOf(i));
      EXPECT_EQ(root.child(static_cast<std::size_t>(i / 2)), found.match);
    } else {
      EXPECT_FALSE(found.match);
      if (i + 1 < 2000) {
        EXPECT_EQ(found.neighbour.attribute(u"name"), keyOf(i + 1)) << i;
      } else {
        EXPECT_FALSE(found.neighbour);
      }
    }
  }
}

TEST(XmlKeys, UniqueKeyIsPrefixAndSixteenHexDigitsAndAvoidsTakenKeys) {
  XmlDocument doc;
  ASSERT_EQ(doc.openFromText("<Root/>"), XmlOpenResult::Loaded);
  XmlNode root = doc.documentElement(u"Root");
  auto isUpperHex = [](char16_t c) { return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'); };
  std::u16string key = root.makeUniqueKey(u"name", u"NEUR");
  ASSERT_EQ(key.size(), 20u);
  EXPECT_EQ(key.substr(0, 4), u"NEUR");
  EXPECT_TRUE(std::all_of(key.begin() + 4, key.end(), isUpperHex));

  // Take every key the next 300 ticks could give for this second and the next; the answer
  // must then step to a later second.
  auto hex8 = [](std::uint32_t v) {
    char buffer[9];
    std::snprintf(buffer, sizeof buffer, "%08X", v);
    return std::u16string(buffer, buffer + 8);
  };
  std::uint32_t tick = tickCountMs();
  auto second = static_cast<std::uint32_t>(secondsSinceEpoch());
  for (std::uint32_t t = tick; t < tick + 300; ++t) {
    for (std::uint32_t s = second; s < second + 2; ++s) {
      ASSERT_TRUE(root.insertSorted(u"N", u"name", u"P" + hex8(t) + hex8(s)));
    }
  }
  std::u16string unique = root.makeUniqueKey(u"name", u"P");
  EXPECT_FALSE(root.findChildByKey(u"name", unique).match);
  ASSERT_EQ(unique.size(), 17u);
  std::string tickText = utf8(unique.substr(1, 8));
  std::uint32_t usedTick = static_cast<std::uint32_t>(std::stoul(tickText, nullptr, 16));
  if (usedTick - tick < 300) {
    EXPECT_EQ(unique.substr(9), hex8(second + 2));
  }
}

TEST(XmlDocumentTree, DeepHandEditedNestingIsHandledWithoutRecursion) {
  const int depth = 200000;
  std::string text;
  text.reserve(depth * 8);
  for (int i = 0; i < depth; ++i) text += "<E n='1'>";
  for (int i = 0; i < depth; ++i) text += "</E>";
  XmlDocument doc;
  ASSERT_EQ(doc.openFromText(text), XmlOpenResult::Loaded);
  XmlNode top = doc.documentElement(u"E");
  XmlNode e = top;
  for (int i = 0; i < 1000; ++i) {
    e.childCount();  // index a few levels
    e = e.firstChild();
  }
  ASSERT_TRUE(e);
  XmlNode first = top.firstChild();
  EXPECT_TRUE(first.remove());
  EXPECT_EQ(top.childCount(), 0u);
}

}  // namespace
}  // namespace zelka
