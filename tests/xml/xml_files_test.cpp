// Files written by the wrapper, read back by the independent reader xmllint, and saves that are
// killed half-way.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/text_codec.h"
#include "xml/xml_document.h"
#include "support/temp_dir.h"
#include "support/xmllint.h"

namespace zelka {
namespace {

using testing::readBytes;
using testing::TempDir;
using testing::wellFormed;
using testing::xpath;

TEST(XmlFiles, XmllintReadsWhatWeWrite) {
  TempDir dir;
  const std::string path = dir.file("bind.xml");
  XmlDocument doc;
  ASSERT_EQ(doc.open(dir.wide("bind.xml")), XmlOpenResult::Created);
  XmlNode root = doc.appendDocumentElement(u"Bind");
  root.setAttribute(u"name", u"root");
  root.setAttributeNumber(u"total", 3.0);
  const std::u16string names[] = {u"髙", u"①", u"日", u"say \"hi\"", u"<&>", u"\U00020BB7",
                                  u"a\u0001b", u"～", u"ｱ"};
  for (const auto& name : names) {
    XmlNode child = root.insertSorted(u"Bind", u"name", name);
    ASSERT_TRUE(child);
    child.setAttributeNumber(u"distance", 0.30102999566398120);
  }
  ASSERT_TRUE(doc.save(dir.wide("bind.xml")));
  ASSERT_TRUE(wellFormed(path)) << readBytes(path);

  auto query = [&](const std::u16string& name) {
    // xmllint answers in UTF-8; a name with both quote kinds is not needed here.
    std::string literal = utf16ToUtf8(name);
    std::string q = literal.find('"') == std::string::npos ? "\"" : "'";
    return xpath(path, "string(/Bind/Bind[@name=" + q + literal + q + "]/@distance)");
  };
  EXPECT_EQ(xpath(path, "string(/Bind/@total)"), "3.000000000000000e+000");
  EXPECT_EQ(xpath(path, "count(/Bind/Bind)"), std::to_string(std::size(names)));
  for (const auto& name : names) {
    if (name == u"a\u0001b" || name == u"～") continue;
    EXPECT_EQ(query(name), "3.010299956639812e-001") << utf16ToUtf8(name);
  }
  // The control character is stored as U+FFFD, which XML can carry.
  EXPECT_EQ(query(u"a\uFFFDb"), "3.010299956639812e-001");
  // The references of characters outside JIS X 0208 come back as the characters.
  EXPECT_EQ(xpath(path, "string(/Bind/Bind[@name=\"髙\"]/@name)"), "髙");
  EXPECT_EQ(xpath(path, "string(/Bind/Bind[@name=\"①\"]/@name)"), "①");
}

TEST(XmlFiles, XmllintAcceptsSavedHandEditedFile) {
  TempDir dir;
  const std::string path = dir.file("index.xml");
  std::string circled = toNarrow(u"①");
  std::string text = "<?xml version='1.0' encoding='Shift_JIS'?>\n<!DOCTYPE WordIndexes [\n"
                     "<!ENTITY e \"x\">]>\n<WordIndexes><!-- " + circled + " -->"
                     "<Index name=\"b\"/>text<Index/><Index name=\"a\">&amp;<![CDATA[" +
                     circled + "]]></Index><?pi " + circled + "?></WordIndexes>";
  testing::writeBytes(path, text);
  XmlDocument doc;
  ASSERT_EQ(doc.open(dir.wide("index.xml")), XmlOpenResult::Loaded);
  XmlNode root = doc.documentElement(u"WordIndexes");
  ASSERT_TRUE(root.insertSorted(u"Index", u"name", u"c"));
  ASSERT_TRUE(doc.save());
  ASSERT_TRUE(wellFormed(path)) << readBytes(path);
  EXPECT_EQ(xpath(path, "string(/WordIndexes/Index[@name=\"a\"])"), "&①");
  EXPECT_EQ(xpath(path, "count(/WordIndexes/Index)"), "4");
}

TEST(XmlFiles, Utf8DocumentStaysUtf8) {
  TempDir dir;
  const std::string path = dir.file("u.xml");
  testing::writeBytes(path, "<Root name=\"" + utf16ToUtf8(u"髙①") + "\"/>");
  XmlDocument doc;
  ASSERT_EQ(doc.open(dir.wide("u.xml")), XmlOpenResult::Loaded);
  doc.documentElement(u"Root").setAttribute(u"more", u"\U0001F600");
  ASSERT_TRUE(doc.save());
  std::string bytes = readBytes(path);
  EXPECT_NE(bytes.find(utf16ToUtf8(u"髙①")), std::string::npos) << bytes;
  ASSERT_TRUE(wellFormed(path));
  EXPECT_EQ(xpath(path, "string(/Root/@more)"), utf16ToUtf8(u"\U0001F600"));
}

// Builds a document whose root says how many children it holds, so a file cut short or mixed
// from two saves is recognised.
void fill(XmlDocument& doc, int generation, int children) {
  XmlNode root = doc.documentElement(u"Bind");
  while (root.firstChild()) root.firstChild().remove();
  std::string g = std::to_string(generation);
  root.setAttribute(u"generation", std::u16string(g.begin(), g.end()));
  root.setAttributeInteger(u"count", children);
  for (int i = 0; i < children; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "%07d", i);
    XmlNode child = root.appendChild(u"Bind");
    child.setAttribute(u"name", std::u16string(key, key + 7) + u"日本");
    child.setAttributeNumber(u"distance", i * 0.001);
    child.setAttribute(u"generation", std::u16string(g.begin(), g.end()));
  }
}

TEST(XmlFiles, KilledSaveLeavesOldOrNewFile) {
  TempDir dir;
  const std::string path = dir.file("bind.xml");
  const int children = 20000;  // about 1.5 MB per save
  {
    XmlDocument doc;
    ASSERT_EQ(doc.open(dir.wide("bind.xml")), XmlOpenResult::Created);
    doc.appendDocumentElement(u"Bind").setAttribute(u"name", u"root");
    fill(doc, 0, children);
    ASSERT_TRUE(doc.save(dir.wide("bind.xml")));
  }
  for (int round = 0; round < 6; ++round) {
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      XmlDocument doc;
      if (doc.open(std::u16string(path.begin(), path.end())) != XmlOpenResult::Loaded) _exit(3);
      for (int generation = 1;; ++generation) {
        fill(doc, generation, children);
        if (!doc.save()) _exit(4);
      }
    }
    // Kill at a different moment each round.
    std::this_thread::sleep_for(std::chrono::milliseconds(150 + 97 * round));
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "child ended with " << WEXITSTATUS(status);

    XmlDocument doc;
    ASSERT_EQ(doc.open(std::u16string(path.begin(), path.end())), XmlOpenResult::Loaded)
        << "round " << round;
    XmlNode root = doc.documentElement(u"Bind");
    ASSERT_EQ(root.childCount(), static_cast<std::size_t>(children));
    std::u16string generation = *root.attribute(u"generation");
    for (XmlNode c = root.firstChild(); c; c = c.nextSibling()) {
      ASSERT_EQ(c.attribute(u"generation"), generation);
    }
    EXPECT_TRUE(wellFormed(path));
    // The open removed whatever temporary file the killed save left.
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      EXPECT_EQ(entry.path().filename().string(), "bind.xml");
    }
  }
}

}  // namespace
}  // namespace zelka
