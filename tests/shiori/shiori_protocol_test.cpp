#include "shiori/shiori_protocol.h"

#include <gtest/gtest.h>

#include <string>

namespace zelka {
namespace {

class ShioriProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(protocol.load(std::string_view("/ghost/"))); }

  // Sets up a response as the handlers do.
  void beginResponse() {
    auto& m = protocol.message();
    m.clear();
    m.set("sstp_command:", "response");
    m.set("sstp_type:", "SHIORI/2.6");
    m.set("Charset:", "Shift_JIS");
  }

  ShioriProtocol protocol;
};

TEST_F(ShioriProtocolTest, ParsesCommandLineAndHeaders) {
  ASSERT_TRUE(protocol.parse(std::string_view("GET Sentence SHIORI/2.0\r\nSender: User\r\n\r\n")));
  const auto& m = protocol.message();
  EXPECT_EQ(m.get("sstp_command:"), "GET Sentence");
  EXPECT_EQ(m.get("sstp_type:"), "SHIORI/2.0");
  EXPECT_EQ(m.get("Sender:"), "User");
  EXPECT_EQ(m.size(), 3u);
}

struct ParseCase {
  const char* name;
  std::string text;
  bool result;
  std::vector<std::pair<std::string, std::string>> expected;   // key, earliest value
  std::vector<std::string> absent;
};

TEST_F(ShioriProtocolTest, ParseEdgeCases) {
  const ParseCase cases[] = {
      {"no final line end keeps the last header",
       "GET Word SHIORI/2.0\r\nType: abc", true, {{"Type:", "abc"}}, {}},
      {"header without a blank after the colon is ignored",
       "GET Word SHIORI/2.0\r\nType:abc\r\n\r\n", true, {}, {"Type:"}},
      {"bytes after the blank line are ignored",
       "NOTIFY SHIORI/2.0\r\n\r\nGhost: x\r\n", true, {}, {"Ghost:"}},
      {"0x01 splits a header value",
       "NOTIFY SHIORI/2.0\r\nGhost: a\x01Sender: b\r\n", true,
       {{"Ghost:", "a"}, {"Sender:", "b"}}, {}},
      {"value may contain colon blank",
       "NOTIFY SHIORI/2.0\r\nGhost: a: b\r\n", true, {{"Ghost:", "a: b"}}, {}},
      {"command line split at its last blank",
       "A B C D\r\n", true, {{"sstp_command:", "A B C"}, {"sstp_type:", "D"}}, {}},
      {"lines without a blank before the command line are ignored",
       "junk\r\nGET Version SHIORI/2.0\r\n", true,
       {{"sstp_command:", "GET Version"}, {"sstp_type:", "SHIORI/2.0"}}, {}},
      {"no line with a blank", "GETVersion\r\nx\r\n", false, {}, {"sstp_command:"}},
      {"empty first line ends the request", "\r\nGET Version SHIORI/2.0\r\n", false, {}, {}},
      {"LF line ends are not line ends", "GET Version SHIORI/2.0\nSender: x\n", true,
       {{"sstp_command:", "GET Version SHIORI/2.0\nSender:"}, {"sstp_type:", "x\n"}}, {}},
      {"only 0x01 bytes", "\x01\x01\x01", false, {}, {}},
      {"trailing blank gives an empty version", "GET Version \r\n", true,
       {{"sstp_command:", "GET Version"}}, {"sstp_type:"}},
  };
  for (const ParseCase& c : cases) {
    EXPECT_EQ(protocol.parse(std::string_view(c.text)), c.result) << c.name;
    for (const auto& [key, value] : c.expected) {
      EXPECT_EQ(protocol.message().get(key), value) << c.name << " " << key;
    }
    for (const std::string& key : c.absent) {
      EXPECT_FALSE(protocol.message().get(key).has_value()) << c.name << " " << key;
    }
  }
}

TEST_F(ShioriProtocolTest, AbsentOrEmptyTextFailsAndClearsTheList) {
  protocol.message().set("Old:", "x");
  EXPECT_FALSE(protocol.parse(std::nullopt));
  EXPECT_EQ(protocol.message().size(), 0u);
  protocol.message().set("Old:", "x");
  EXPECT_FALSE(protocol.parse(std::string_view("")));
  EXPECT_EQ(protocol.message().size(), 0u);
}

TEST_F(ShioriProtocolTest, RepeatedHeadersGiveRepeatedEntries) {
  ASSERT_TRUE(protocol.parse(
      std::string_view("GET Sentence SHIORI/2.2\r\nSentence: a\r\nSentence: b\r\n\r\n")));
  EXPECT_EQ(protocol.message().count("Sentence:"), 2u);
  EXPECT_EQ(protocol.message().get("Sentence:"), "a");
}

TEST_F(ShioriProtocolTest, HostileInputIsParsedInFull) {
  std::string big = "GET Sentence SHIORI/2.2\r\nSentence: " + std::string(1 << 20, 'x') + "\r\n\r\n";
  ASSERT_TRUE(protocol.parse(std::string_view(big)));
  EXPECT_EQ(protocol.message().get("Sentence:")->size(), std::size_t(1) << 20);

  std::string garbage;
  for (int i = 0; i < 65536; ++i) garbage += static_cast<char>((i * 7919 + 13) & 0xff);
  protocol.parse(std::string_view(garbage));   // whatever it finds, it ends

  // A request cut in the middle of a two-byte character keeps the lead byte.
  ASSERT_TRUE(protocol.parse(std::string_view("NOTIFY SHIORI/2.0\r\nGhost: \x82\xa0\x82")));
  EXPECT_EQ(protocol.message().get("Ghost:"), "\x82\xa0\x82");
}

TEST_F(ShioriProtocolTest, SetStatusUsesTheTableAndRefusesUnknownCodes) {
  EXPECT_FALSE(protocol.setStatus(0));
  EXPECT_FALSE(protocol.setStatus(299));
  EXPECT_FALSE(protocol.setStatus(-200));
  EXPECT_EQ(protocol.message().size(), 0u);
  EXPECT_TRUE(protocol.setStatus(204));
  EXPECT_EQ(protocol.message().get("sstp_status:"), "204 No Content");
}

TEST_F(ShioriProtocolTest, MinimalResponseRendersThreeLines) {
  beginResponse();
  protocol.setStatus(200);
  EXPECT_EQ(protocol.render(), "SHIORI/2.6 200 OK\r\nCharset: Shift_JIS\r\n\r\n");
  // The placeholders consumed their entries; the command named the template only.
  EXPECT_EQ(protocol.message().size(), 1u);
  EXPECT_EQ(protocol.message().get("sstp_command:"), "response");
}

TEST_F(ShioriProtocolTest, FullResponseKeepsTemplateOrderAndDropsUnsetLines) {
  beginResponse();
  auto& m = protocol.message();
  m.set("Sentence:", "hello");
  m.set("Sender:", "Zelka");
  m.set("Age:", "3");
  m.set("To:", "Alice");
  m.set("Word:", "");           // empty: the line is dropped
  m.set("Reference0:", "x");    // not in the template: never rendered
  m.set("Charset:", "Shift_JIS");   // a second Charset entry
  protocol.setStatus(200);
  EXPECT_EQ(protocol.render(),
            "SHIORI/2.6 200 OK\r\n"
            "Sender: Zelka\r\n"
            "To: Alice\r\n"
            "Age: 3\r\n"
            "Sentence: hello\r\n"
            "Charset: Shift_JIS\r\n"
            "\r\n");
}

TEST_F(ShioriProtocolTest, NoStatusLeavesTheStatusLineOut) {
  beginResponse();
  EXPECT_EQ(protocol.render(), "Charset: Shift_JIS\r\n\r\n");
}

TEST_F(ShioriProtocolTest, RenderWithoutResponseKeyOrTemplateGivesNothing) {
  protocol.message().set("Charset:", "Shift_JIS");
  EXPECT_FALSE(protocol.render().has_value());
  protocol.message().set("sstp_command:", "response");
  protocol.message().set("sstp_type:", "SHIORI/9.9");
  EXPECT_FALSE(protocol.render().has_value());
}

TEST_F(ShioriProtocolTest, ValueWithLineEndsIsExpandedPieceByPiece) {
  beginResponse();
  protocol.setStatus(200);
  auto& m = protocol.message();
  // A value carrying CR LF: the text after the last CR LF is not emitted; the pieces are
  // expanded again, so a placeholder in a piece takes the next entry of its header.
  m.set("Sentence:", "one\r\n%Sentence:\r\ntail");
  m.set("Sentence:", "two");
  EXPECT_EQ(protocol.render(),
            "SHIORI/2.6 200 OK\r\nSentence: one\r\ntwo\r\nCharset: Shift_JIS\r\n\r\n");
}

TEST_F(ShioriProtocolTest, PieceWithoutValueEndsTheLine) {
  beginResponse();
  protocol.setStatus(200);
  protocol.message().set("Sentence:", "a\r\n%Missing:\r\nb\r\n");
  EXPECT_EQ(protocol.render(), "SHIORI/2.6 200 OK\r\nSentence: a\r\nCharset: Shift_JIS\r\n\r\n");
}

TEST_F(ShioriProtocolTest, SelfReferringValuesStayBounded) {
  beginResponse();
  protocol.setStatus(200);
  // Every entry brings a line end and names the next one: the expansion stops at its bound.
  for (int i = 0; i < 1000; ++i) protocol.message().set("Sentence:", "%Sentence:\r\n");
  std::optional<std::string> out = protocol.render();
  ASSERT_TRUE(out.has_value());
  EXPECT_EQ(out->substr(0, 19), "SHIORI/2.6 200 OK\r\n");
  EXPECT_LT(out->size(), 4000u);
}

TEST_F(ShioriProtocolTest, InsertedValuesAreNotScannedAgainInOnePass) {
  beginResponse();
  protocol.setStatus(200);
  protocol.message().set("Sentence:", "50%Word: off");
  protocol.message().set("Word:", "w");
  EXPECT_EQ(protocol.render(),
            "SHIORI/2.6 200 OK\r\nSentence: 50%Word: off\r\nWord: w\r\nCharset: Shift_JIS\r\n\r\n");
}

}  // namespace
}  // namespace zelka
