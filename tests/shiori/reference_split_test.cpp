#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "shiori/reference_split.h"
#include "util/mt19937.h"

namespace zelka {
namespace {

using Pieces = std::vector<std::string>;

Pieces split(std::string_view text, std::string_view expression) {
  Pieces pieces;
  const std::size_t added = splitBySeparation(text, expression, pieces);
  EXPECT_EQ(added, pieces.size());
  return pieces;
}

struct SplitCase {
  const char* what;
  std::string expression;
  std::string text;
  Pieces pieces;
};

TEST(ReferenceSplitTest, PiecesByExpression) {
  const SplitCase cases[] = {
      {"comma list", "*,", "a,b,c", {"a", "b", "c"}},
      {"empty piece between separators", "*,", "a,,b", {"a", "", "b"}},
      {"final separator adds no piece", "*,", "a,b,", {"a", "b"}},
      {"lone separator", "*,", ",", {""}},
      {"no separator in the text", "*,", "abc", {"abc"}},
      {"empty text", "*,", "", {}},
      {"longer suffix is consumed whole", "*, ", "a, b, c", {"a", "b", "c"}},
      {"prefix and suffix", "<*>", "<a><b>", {"a", "b"}},
      {"bytes before a prefix belong to no piece", "<*>", "x<a>", {"a"}},
      {"a suffix closes a piece without prefix", "<*>", "a>b", {"a", "b"}},
      {"a second prefix inside a piece is text", "<*>", "<a<b>", {"a<b"}},
      {"prefix at the very end", "<*>", "a><", {"a"}},
      {"escaped star is literal", "\\*=*;", "*=a;*=b;", {"a", "b"}},
      {"escaped star without wildcard: first character stands for it", "x\\*", "a*b",
       {"a", "b"}},
      {"no wildcard: the rest is the suffix", ";,", "a,b", {"a", "b"}},
      {"no wildcard, one byte: every byte separates", ",", "ab", {"", ""}},
      {"only a wildcard: every byte separates", "*", "ab", {"", ""}},
      {"only a wildcard, two-byte text stays whole", "*", "\x82\xa0\x82\xa2", {"\x82\xa0\x82\xa2"}},
      {"empty expression keeps the whole value", "", "a,b", {"a,b"}},
      // 0x95 0x5C is one character whose second byte is a backslash.
      {"second byte of a character is never a suffix", "*\\", "\x95\x5C" "a\\b",
       {"\x95\x5C" "a", "b"}},
      {"full-width space is not an at sign", "*@", "a\x81\x40" "b@c", {"a\x81\x40" "b", "c"}},
      {"two-byte prefix never matches", "\x81\x40*,", "\x81\x40" "a,\x81\x40" "b,",
       {"\x81\x40" "a", "\x81\x40" "b"}},
      {"lead byte at the end of the text", "*,", "a,\x81", {"a", "\x81"}},
      {"one-byte katakana counts as a lead byte", "*,", "\xb1,a", {"\xb1,a"}},
      {"star behind a lead byte in the expression is no wildcard", "\x81*,", "a*b,c",
       {"a*b", "c"}},
  };
  for (const SplitCase& c : cases) {
    EXPECT_EQ(split(c.text, c.expression), c.pieces) << c.what;
  }
}

TEST(ReferenceSplitTest, ExpressionParts) {
  struct Row {
    std::string expression, prefix, suffix;
  };
  const Row rows[] = {
      {"*,", "", ","},   {"<*>", "<", ">"},   {"\\**", "*", ""},   {"a\\*b*c", "a*b", "c"},
      {"*", "", ""},     {",", "", ""},       {"ab", "", "b"},     {"\x81\x40x", "", "x"},
      {"", "", ""},      {"*\\*", "", "\\*"}, {"\\", "", ""},
  };
  for (const Row& row : rows) {
    const SeparationExpression parts = parseSeparationExpression(row.expression);
    EXPECT_EQ(parts.prefix, row.prefix) << row.expression;
    EXPECT_EQ(parts.suffix, row.suffix) << row.expression;
  }
}

TEST(ReferenceSplitTest, AppendsAfterExistingPieces) {
  Pieces pieces{"kept"};
  EXPECT_EQ(splitBySeparation("x,y", "*,", pieces), 2u);
  EXPECT_EQ(pieces, (Pieces{"kept", "x", "y"}));
}

TEST(ReferenceSplitTest, LargeReferenceSplitsCompletely) {
  std::string text;
  for (int i = 0; i < 100 * 1024 / 4; ++i) text += "abc,";
  const Pieces pieces = split(text, "*,");
  ASSERT_EQ(pieces.size(), 100u * 1024 / 4);
  for (const std::string& piece : pieces) ASSERT_EQ(piece, "abc");

  // One huge piece, and one separator per byte.
  EXPECT_EQ(split(std::string(100 * 1024, 'x'), "*,"), Pieces{std::string(100 * 1024, 'x')});
  EXPECT_EQ(split(std::string(100 * 1024, 'x'), "*").size(), 100u * 1024);
}

// Random texts and expressions over a small alphabet that mixes separators, escapes and
// two-byte characters: the walk always ends, and every piece is a stretch of the text taken
// in order without overlap.
TEST(ReferenceSplitTest, RandomInputsGivePiecesOfTheText) {
  const char alphabet[] = {'a', ',', '<', '>', '*', '\\', '\x81', '\x40', '\x95', '\x5C', '\xb1'};
  Mt19937 random;
  random.seed(20261208);
  auto pick = [&](std::size_t maxLength) {
    std::string s;
    const std::size_t length = random.next() % (maxLength + 1);
    for (std::size_t i = 0; i < length; ++i) s += alphabet[random.next() % sizeof(alphabet)];
    return s;
  };
  for (int round = 0; round < 20000; ++round) {
    const std::string text = pick(40);
    const std::string expression = pick(6);
    const Pieces pieces = split(text, expression);
    std::size_t from = 0;
    for (const std::string& piece : pieces) {
      const std::size_t at = text.find(piece, from);
      ASSERT_NE(at, std::string::npos) << "text " << text << " expression " << expression;
      from = at + piece.size();
    }
    ASSERT_LE(from, text.size());
  }
}

// With a one-byte suffix and no two-byte text, the pieces joined by the suffix give the text
// back (less a final suffix).
TEST(ReferenceSplitTest, SingleByteSuffixLosesNothing) {
  Mt19937 random;
  random.seed(7);
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const std::size_t length = random.next() % 30;
    for (std::size_t i = 0; i < length; ++i) text += "ab;"[random.next() % 3];
    const Pieces pieces = split(text, "*;");
    std::string joined;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      if (i > 0) joined += ';';
      joined += pieces[i];
    }
    if (!text.empty() && text.back() == ';') joined += ';';
    ASSERT_EQ(joined, text);
  }
}

}  // namespace
}  // namespace zelka
