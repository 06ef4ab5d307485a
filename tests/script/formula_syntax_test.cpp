// The parse-only reading of formulas: what evaluation would get wrong, found without
// evaluating (no variable is touched).
#include <gtest/gtest.h>

#include "script/formula_syntax.h"

namespace zelka {
namespace {

TEST(FormulaSyntaxTest, TellsWhatEvaluationWouldGetWrong) {
  const struct {
    const char* formula;
    FormulaProblem problem;
    const char* token;
  } cases[] = {
      {"1 + 2 * 3", FormulaProblem::kNone, ""},
      {"-5", FormulaProblem::kNone, ""},
      {"(0 - 4) / 2", FormulaProblem::kNone, ""},
      {"!x && (a == \"b c\")", FormulaProblem::kNone, ""},
      {"x = x + 1", FormulaProblem::kNone, ""},
      {"  ", FormulaProblem::kEmpty, ""},
      {"x == -1", FormulaProblem::kMissingOperand, "-"},
      {"a >=", FormulaProblem::kMissingOperand, ">="},
      {"== 1", FormulaProblem::kMissingOperand, "=="},
      {"()", FormulaProblem::kMissingOperand, "()"},
      {"(1 + 2", FormulaProblem::kUnclosedGroup, "("},
      {"1 + 2)", FormulaProblem::kUnopenedGroup, ")"},
      {"(1)2", FormulaProblem::kMissingOperator, "2"},
      {"a == \"b", FormulaProblem::kUnclosedQuote, "\""},
      // Operators between quotes are text.
      {"\"a == (\" == x", FormulaProblem::kNone, ""},
  };
  for (const auto& c : cases) {
    const FormulaSyntax syntax = checkFormulaSyntax(c.formula);
    EXPECT_EQ(syntax.problem, c.problem) << c.formula;
    EXPECT_EQ(syntax.token, c.token) << c.formula;
  }
  EXPECT_EQ(describeFormulaProblem(checkFormulaSyntax("x == -1")),
            "\"-\" has no left operand (a sign works only at the start or after \"(\": write "
            "(0 - 1) instead of -1)");
}

}  // namespace
}  // namespace zelka
