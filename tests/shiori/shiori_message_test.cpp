#include "shiori/shiori_message.h"

#include <gtest/gtest.h>

namespace zelka {
namespace {

TEST(ShioriMessageTest, EqualKeysKeepInsertionOrderAndEraseTakesTheEarliest) {
  ShioriMessage m;
  EXPECT_TRUE(m.set("Sentence:", "first"));
  EXPECT_TRUE(m.set("Age:", "1"));
  EXPECT_TRUE(m.set("Sentence:", "second"));
  EXPECT_TRUE(m.set("Sentence:", "third"));
  EXPECT_EQ(m.count("Sentence:"), 3u);
  EXPECT_EQ(m.get("Sentence:"), "first");
  EXPECT_TRUE(m.erase("Sentence:"));
  EXPECT_EQ(m.get("Sentence:"), "second");
  EXPECT_TRUE(m.erase("Sentence:"));
  EXPECT_TRUE(m.erase("Sentence:"));
  EXPECT_FALSE(m.erase("Sentence:"));
  EXPECT_EQ(m.get("Age:"), "1");
}

TEST(ShioriMessageTest, EmptyValueReadsAsAbsentAndHidesLaterEntries) {
  ShioriMessage m;
  EXPECT_TRUE(m.set("Word:", ""));
  EXPECT_TRUE(m.set("Word:", "later"));
  EXPECT_FALSE(m.get("Word:").has_value());
  EXPECT_FALSE(m.has("Word:"));
  m.erase("Word:");
  EXPECT_EQ(m.get("Word:"), "later");
}

TEST(ShioriMessageTest, AbsentKeyOrValueIsRefused) {
  ShioriMessage m;
  EXPECT_FALSE(m.set(std::nullopt, "v"));
  EXPECT_FALSE(m.set("K:", std::nullopt));
  EXPECT_EQ(m.size(), 0u);
}

TEST(ShioriMessageTest, KeysCompareBytewiseWithHighBytesAndZeros) {
  ShioriMessage m;
  std::string withZero("a\0b:", 4);
  m.set(withZero, "zero");
  m.set("a:", "plain");
  m.set("\x82\xa0:", "kana");
  EXPECT_EQ(m.get(withZero), "zero");
  EXPECT_EQ(m.get("a:"), "plain");
  EXPECT_EQ(m.get("\x82\xa0:"), "kana");
  EXPECT_FALSE(m.get("a").has_value());    // the colon is part of the key
  EXPECT_FALSE(m.get("A:").has_value());   // case-sensitive
}

TEST(TemplateTableTest, FillsSixteenEntriesWithThe199ByteTemplate) {
  TemplateTable table;
  table.fill();
  EXPECT_EQ(table.size(), 16u);
  EXPECT_EQ(TemplateTable::kResponseTemplate.size(), 199u);
  ShioriMessage none;
  const std::pair<int, const char*> statuses[] = {
      {200, "200 OK"},
      {204, "204 No Content"},
      {210, "210 Break"},
      {310, "310 Communicate"},
      {311, "311 Not Enough"},
      {312, "312 Advice"},
      {400, "400 Bad Request"},
      {408, "408 Request Timeout"},
      {409, "409 Conflict"},
      {420, "420 Refuse"},
      {500, "500 Internal Server Error"},
      {501, "501 Not Implemented"},
      {503, "503 Service Unavailable"},
      {510, "510 Not Local IP"},
      {511, "511 In Black List"},
  };
  for (const auto& [code, text] : statuses) {
    EXPECT_EQ(table.select("sstp_status" + std::to_string(code), none), text) << code;
  }
  EXPECT_FALSE(table.select("sstp_status201", none).has_value());
}

TEST(TemplateTableTest, SelectionPrefersPlainTextThenMostFilledPlaceholders) {
  ShioriMessage headers;
  headers.set("A:", "a");
  headers.set("B:", "b");

  TemplateTable table;
  table.add("k", "%A: %Z:");        // one filled
  table.add("k", "%A: %B:");        // two filled
  table.add("k", "%B: %A: %Y:");    // two filled, later: loses the tie
  EXPECT_EQ(table.select("k", headers), "%A: %B:");

  table.add("k", "plain");          // no placeholder: chosen as soon as it is reached
  EXPECT_EQ(table.select("k", headers), "plain");

  TemplateTable plainFirst;
  plainFirst.add("k", "%A:");
  plainFirst.add("k", "plain");
  plainFirst.add("k", "%A: %B:");
  EXPECT_EQ(plainFirst.select("k", headers), "plain");

  TemplateTable unfilled;
  unfilled.add("k", "%X: %Y:");
  EXPECT_EQ(unfilled.select("k", headers), "");   // present but nothing to fill
  EXPECT_FALSE(unfilled.select("missing", headers).has_value());
}

TEST(TemplateTableTest, PercentWithoutColonEndsThePlaceholderScan) {
  ShioriMessage headers;
  headers.set("A:", "a");
  TemplateTable table;
  table.add("k", "100% %A:");   // "% %A:" names the header " %A:", which is not set
  table.add("k", "%A:");
  EXPECT_EQ(table.select("k", headers), "%A:");
  TemplateTable trailing;
  trailing.add("k", "text %");  // a lone percent: no placeholder at all
  EXPECT_EQ(trailing.select("k", headers), "text %");
}

}  // namespace
}  // namespace zelka
