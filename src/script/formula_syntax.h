// Reading a formula without evaluating it, for author tools: the evaluator's own lexer splits
// it, and the token order is checked against what evaluation needs to give a meaningful
// answer. No variable is read and nothing is evaluated. The evaluator itself never refuses a
// formula (a malformed one evaluates to whatever the rules give); this tells why it would.
#pragma once

#include <string>
#include <string_view>

namespace zelka {

enum class FormulaProblem {
  kNone,
  kEmpty,              // nothing but blanks: evaluation gives no answer
  kUnclosedQuote,      // a double quote is never closed
  kUnclosedGroup,      // a "(" is never closed
  kUnopenedGroup,      // a ")" without its "("
  kMissingOperand,     // an operator without its operand (also "()" and "x == -1")
  kMissingOperator,    // two operands side by side, as in "(1)2"
};

struct FormulaSyntax {
  FormulaProblem problem = FormulaProblem::kNone;
  std::string token;  // the operator or operand where the problem shows ("" at the end)

  bool ok() const { return problem == FormulaProblem::kNone; }
};

// A "+" or "-" without a left operand reads as a sign only at the start of the formula or
// right after "(", where the evaluation's bottom 0 or the group supplies the left side.
FormulaSyntax checkFormulaSyntax(std::string_view formula);

// One sentence for an author: what is wrong and how to write it.
std::string describeFormulaProblem(const FormulaSyntax& syntax);

}  // namespace zelka
