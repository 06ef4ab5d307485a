#include "script/formula_evaluator.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "util/number_text.h"

namespace zelka {
namespace {

std::string sci(double value) { return formatScientific(value); }

std::optional<std::string> run(FormulaEvaluator& evaluator, std::string_view formula) {
  evaluator.setFormula(formula);
  return evaluator.evaluate();
}

struct FormulaCase {
  const char* formula;
  const char* rpn;
  std::string answer;
};

TEST(FormulaEvaluatorTest, ReversePolishOrderAndAnswers) {
  const FormulaCase cases[] = {
      {"1 + 2 * 3", "1 2 3 * +", sci(7)},
      {"(1 + 2) * 3", "1 2 + 3 *", sci(9)},
      {"-5", "5 -", sci(-5)},
      {"-4 / 2", "4 2 / -", sci(-2)},
      {"(0 - 4) / 2", "0 4 - 2 /", sci(0)},
      {"5 / 0", "5 0 /", sci(std::numeric_limits<double>::infinity())},
      {"1.5e-3 * 1000", "1.5 3 e- 1000 *", sci(1.5)},
      {"2e+2", "2 2 e+", sci(200)},
      {"!0", "0 !", sci(1)},
      // Two-character operators are found before their one-character prefixes.
      {"3 >= 3", "3 3 >=", sci(1)},
      {"3 <= 2", "3 2 <=", sci(0)},
      {"1 != 2", "1 2 !=", sci(1)},
      {"1 && 0", "1 0 &&", sci(0)},
      {"1 || 0", "1 0 ||", sci(1)},
      {"6 & 3", "6 3 &", sci(2)},
      {"6 | 3", "6 3 |", sci(7)},
      {"6 ^ 3", "6 3 ^", sci(5)},
      {"7 % 3", "7 3 %", sci(1)},
      {"2 > 10", "2 10 >", sci(0)},
      {"(1 + 2) * (3 + 4)", "1 2 + 3 4 + *", sci(21)},
      {"((2))", "2", "2"},
      {"12", "12", "12"},
      // An e followed by a sign splits any unquoted text.
      {"time+1", "tim 1 e+", sci(0)},
      // Operators between quotes are not operators; blanks vanish inside strings too.
      {"\"a+b\" == \"a+b\"", "\"a+b\" \"a+b\" ==", sci(1)},
      {"\"a b\" == \"ab\"", "\"ab\" \"ab\" ==", sci(1)},
      // Unclosed "(" is discarded at the end; a stray ")" lowers the depth.
      {"(1 + 2", "1 2 +", sci(3)},
      {"1 ) + 2", "1 2 +", sci(3)},
      {"))))))))) 1 + 2 * 3", "1 2 3 * +", sci(7)},
  };
  for (const FormulaCase& c : cases) {
    SCOPED_TRACE(c.formula);
    FormulaEvaluator evaluator;
    EXPECT_EQ(evaluator.buildRpn(c.formula), c.rpn);
    evaluator.setFormula(c.formula);
    const std::optional<std::string> answer = evaluator.evaluate();
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(*answer, c.answer);
    EXPECT_EQ(evaluator.answer(), c.answer);
    EXPECT_EQ(evaluator.formulaRpn(), c.rpn);
    EXPECT_EQ(evaluator.formula(), c.formula);
  }
}

TEST(FormulaEvaluatorTest, TextOperations) {
  const FormulaCase cases[] = {
      {"!\"\"", "\"\" !", sci(1)},
      {"!\"x\"", "\"x\" !", sci(0)},
      {"\"ab\" + \"cd\"", "\"ab\" \"cd\" +", "\"abcd\""},
      {"abc + 1", "abc 1 +", "\"abc1\""},
      {"\"b\" > \"a\"", "\"b\" \"a\" >", sci(1)},
      // Strings compare with their quotes: the closing quote of "a" sorts after "!".
      {"\"a\" < \"a!\"", "\"a\" \"a!\" <", sci(0)},
      {"\"a\" - 1", "\"a\" 1 -", sci(0)},
      {"\"a\" && 1", "\"a\" 1 &&", sci(0)},
      {"\"a\" * 2", "\"a\" 2 *", sci(0)},
      {"undefinedword", "undefinedword", ""},
      {"\"lone\"", "\"lone\"", "\"lone\""},
  };
  for (const FormulaCase& c : cases) {
    SCOPED_TRACE(c.formula);
    FormulaEvaluator evaluator;
    const std::optional<std::string> answer = run(evaluator, c.formula);
    EXPECT_EQ(evaluator.formulaRpn(), c.rpn);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(*answer, c.answer);
  }
}

TEST(FormulaEvaluatorTest, AssignmentStoresAndAnswers) {
  FormulaEvaluator evaluator;
  std::string value;

  // First assignment: x resolves to the string "x", so the text branch answers the text.
  EXPECT_EQ(run(evaluator, "x = 5"), "5");
  ASSERT_TRUE(evaluator.variables().getVariable("x", value));
  EXPECT_EQ(value, "5");
  EXPECT_EQ(evaluator.formulaRpn(), "x 5 =");

  // Now x holds a number: the number branch answers "%e" text.
  EXPECT_EQ(run(evaluator, "x = 5"), sci(5));
  EXPECT_EQ(run(evaluator, "x = x + 1"), sci(6));
  EXPECT_EQ(run(evaluator, "x * 2"), sci(12));

  EXPECT_EQ(run(evaluator, "greeting = hello"), "\"hello\"");
  ASSERT_TRUE(evaluator.variables().getVariable("greeting", value));
  EXPECT_EQ(value, "\"hello\"");
  EXPECT_EQ(run(evaluator, "greeting"), "\"hello\"");
  EXPECT_EQ(run(evaluator, "greeting + \" world\""), "\"helloworld\"");

  // "=" binds more loosely than "==" and more tightly than "&&".
  EXPECT_EQ(run(evaluator, "a = 1 && b = 2"), sci(1));
  EXPECT_EQ(evaluator.formulaRpn(), "a 1 = b 2 = &&");
  EXPECT_TRUE(evaluator.variables().getVariable("a", value));
  EXPECT_EQ(value, "1");
  EXPECT_TRUE(evaluator.variables().getVariable("b", value));
  EXPECT_EQ(value, "2");
  EXPECT_EQ(run(evaluator, "c = 1 == 1"), sci(1));
  EXPECT_EQ(evaluator.formulaRpn(), "c 1 1 == =");

  // A formula made only of "=" has no name to assign to.
  EXPECT_EQ(run(evaluator, "="), "");
}

TEST(FormulaEvaluatorTest, OperandsResolveThroughVariables) {
  FormulaEvaluator evaluator;
  VariableTable& vars = evaluator.variables();
  vars.setVariableUnsigned("n", 4);
  vars.setVariable("word", "kitten");
  vars.setVariable("empty", "");
  // A double-byte name whose second byte is "^" stays one operand.
  vars.setVariableUnsigned("\x83\x5E", 3);

  EXPECT_EQ(run(evaluator, "n * 2"), sci(8));
  EXPECT_EQ(run(evaluator, "n"), "4");
  EXPECT_EQ(run(evaluator, "word + n"), "\"kitten4\"");
  EXPECT_EQ(run(evaluator, "word == \"kitten\""), sci(1));
  EXPECT_EQ(run(evaluator, "empty + 1"), "\"empty1\"");  // an empty variable is its own name
  EXPECT_EQ(run(evaluator, "\x83\x5E + 1"), sci(4));
  EXPECT_EQ(evaluator.formulaRpn(), "\x83\x5E 1 +");
}

TEST(FormulaEvaluatorTest, ArithmeticGuards) {
  FormulaEvaluator evaluator;
  EXPECT_EQ(run(evaluator, "7 % 0"), sci(0));       // zero divisor
  EXPECT_EQ(run(evaluator, "7 % 0.5"), sci(0));     // divisor truncates to zero
  EXPECT_EQ(run(evaluator, "0 - 7 % 3"), sci(-1));  // "%" before the binary minus
  EXPECT_EQ(run(evaluator, "(0 - 7) % 3"), sci(0)); // dividend not positive
  EXPECT_EQ(run(evaluator, "0 / 0"), sci(0));
  EXPECT_EQ(run(evaluator, "2e+10 % 7"), sci(1));   // beyond 32 bits, still exact
  // Out-of-range values are clamped before they become integers.
  EXPECT_EQ(run(evaluator, "1e+300 % 7"), sci(0));  // (2^63 - 1) % 7
  EXPECT_EQ(run(evaluator, "1e+20 & 7"), sci(7));   // 2^31 - 1 and 7
  EXPECT_EQ(run(evaluator, "(0 - 1e+20) & 1"), sci(0));  // -2^31 and 1
  EXPECT_EQ(run(evaluator, "5 / 0 % 3"), sci(0));   // infinity is a text, not a number
}

TEST(FormulaEvaluatorTest, EmptyFormulaHasNoAnswer) {
  FormulaEvaluator evaluator;
  EXPECT_FALSE(run(evaluator, "").has_value());
  EXPECT_FALSE(run(evaluator, "     ").has_value());
  EXPECT_EQ(evaluator.formulaRpn(), "");
  EXPECT_EQ(evaluator.answer(), "");
  EXPECT_FALSE(FormulaEvaluator().evaluate().has_value());
}

TEST(FormulaEvaluatorTest, TextsLastUntilTheNextReset) {
  FormulaEvaluator evaluator;
  evaluator.variables().setVariableUnsigned("keep", 1);
  run(evaluator, "1 + 1");
  EXPECT_EQ(evaluator.formula(), "1 + 1");
  EXPECT_EQ(evaluator.formulaRpn(), "1 1 +");
  EXPECT_EQ(evaluator.answer(), sci(2));
  // evaluate works on the stored formula again and again.
  EXPECT_EQ(evaluator.evaluate(), sci(2));
  EXPECT_EQ(evaluator.formulaRpn(), "1 1 +");

  evaluator.setFormula(std::nullopt);
  EXPECT_EQ(evaluator.formula(), "1 + 1");
  EXPECT_EQ(evaluator.formulaRpn(), "");
  EXPECT_EQ(evaluator.answer(), "");
  EXPECT_EQ(evaluator.variables().getVariableInteger("keep"), 1);

  // Setting the formula from a view of itself.
  evaluator.setFormula(std::string_view(evaluator.formula()).substr(0, 1));
  EXPECT_EQ(evaluator.formula(), "1");
}

TEST(FormulaEvaluatorTest, OperationResultsAreCut) {
  FormulaEvaluator evaluator;
  const std::string a(600, 'a');
  const std::string b(600, 'b');
  const std::optional<std::string> joined =
      run(evaluator, "\"" + a + "\" + \"" + b + "\"");
  ASSERT_TRUE(joined.has_value());
  ASSERT_EQ(joined->size(), 1023u);
  EXPECT_EQ(joined->front(), '"');
  EXPECT_EQ(joined->back(), '"');
  EXPECT_EQ(joined->substr(1, 600), a);

  // A two-byte character straddling the limit is dropped whole.
  std::string kanji;
  for (int i = 0; i < 600; ++i) kanji += "\x8A\xBF";
  const std::optional<std::string> cut = run(evaluator, "\"ab\" + \"" + kanji + "\"");
  ASSERT_TRUE(cut.has_value());
  EXPECT_EQ(*cut, "\"ab" + kanji.substr(0, 1018) + "\"");

  // The stored text of an assignment is kept whole; only the answer is cut.
  run(evaluator, "long = \"" + a + b + "\"");
  std::string stored;
  ASSERT_TRUE(evaluator.variables().getVariable("long", stored));
  EXPECT_EQ(stored.size(), 1202u);
  EXPECT_EQ(evaluator.answer().size(), 1023u);
}

TEST(FormulaEvaluatorTest, HugeFormulasStayBounded) {
  FormulaEvaluator evaluator;
  std::string sum = "1";
  for (int i = 0; i < 10000; ++i) sum += " + 1";
  EXPECT_EQ(run(evaluator, sum), sci(10001));

  const std::string nested = std::string(100000, '(') + "1" + std::string(100000, ')');
  EXPECT_EQ(run(evaluator, nested), "1");
  EXPECT_EQ(evaluator.formulaRpn(), "1");

  // Far more ")" than "(": the marker at the bottom of the stack survives.
  const std::string closing = std::string(100000, ')') + "1 + 2 * 3" + std::string(1000, ')');
  EXPECT_EQ(run(evaluator, closing), sci(7));
  EXPECT_EQ(evaluator.formulaRpn(), "1 2 3 * +");

  std::string mebibyte;
  mebibyte.reserve(1 << 20);
  while (mebibyte.size() + 2 <= (1u << 20)) mebibyte += "1+";
  mebibyte += "1";
  EXPECT_EQ(run(evaluator, mebibyte), sci(524289));

  std::string operators(1 << 20, '!');
  EXPECT_TRUE(run(evaluator, operators).has_value());
}

struct KindCase {
  const char* text;
  ValueKind kind;
};

TEST(FormulaEvaluatorTest, ClassifyValue) {
  const KindCase cases[] = {
      {"", ValueKind::Empty},
      {"\"", ValueKind::Quoted},
      {"\"\"", ValueKind::Quoted},
      {"\"a b\"", ValueKind::Quoted},
      {"12", ValueKind::Number},
      {"-1.5E+3", ValueKind::Number},
      {"e", ValueKind::Number},
      {"12a", ValueKind::Name},
      {"\"abc", ValueKind::Name},
      {"\x82\xA0", ValueKind::Name},
      {"1\x81\x40", ValueKind::Name},
      {"1.#INF00e+000", ValueKind::Name},
  };
  for (const KindCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(classifyValue(std::string_view(c.text)), c.kind);
  }
  EXPECT_EQ(classifyValue(static_cast<const std::string*>(nullptr)), ValueKind::Null);
  const std::string text = "42";
  EXPECT_EQ(classifyValue(&text), ValueKind::Number);
}

}  // namespace
}  // namespace zelka
