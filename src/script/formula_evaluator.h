// The formula evaluator: a formula text is lexed into reverse Polish order by a
// precedence-only shunting yard and evaluated on a stack of value texts. Values are untyped
// texts classified per operand (number, quoted string, variable name). It owns the variable
// table of the script language.
//
// Operators, loosest first: "&&" "||" (1), "=" (2), comparisons (3), "!" (4), "+" "-" (5),
// "*" "/" "%" "&" "|" "^" "e+" "e-" (6); operands carry 7. Every level of parentheses raises
// the precedences inside by 10. Numeric answers are "%e" texts with a three-digit exponent;
// malformed formulas are not errors, they evaluate to whatever the rules give.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "script/variable_table.h"

namespace zelka {

struct FormulaToken {
  std::string text;
  bool isOperator = false;
  int precedence = 0;
};

class FormulaEvaluator {
 public:
  FormulaEvaluator();

  // Stores the formula (when given) and resets the working state; variables are untouched.
  void setFormula(std::optional<std::string_view> formula);
  // setFormula(formula), lex into the output queue; answers m_formula_rpn.
  const std::string& buildRpn(std::optional<std::string_view> formula);
  // Evaluates the current formula; nullopt when its reverse Polish text is empty.
  std::optional<std::string> evaluate();

  const std::string& formula() const { return m_formula; }
  const std::string& formulaRpn() const { return m_formula_rpn; }
  const std::string& answer() const { return m_answer; }

  VariableTable& variables() { return variables_; }
  const VariableTable& variables() const { return variables_; }

  // The precedence of a text: its operator's, or 7 for anything that is not an operator.
  static int precedenceOf(std::string_view text);

 private:
  // Lexer and shunting yard (formula_lexer.cpp).
  void lex();
  void pushOperand(std::string& pending);
  void pushToken(FormulaToken token);
  void flush();

  // Evaluation (formula_evaluator.cpp).
  void applyOperator(std::string_view op);
  std::string_view resolve(const std::string* entry, std::string& storage,
                           ValueKind& kind) const;

  std::vector<FormulaToken> output_;     // read front to back
  std::vector<FormulaToken> operators_;  // top at the back; the bottom is the marker
  std::int64_t depth_ = 0;               // parenthesis depth
  VariableTable variables_;
  std::string m_formula;
  std::string m_formula_rpn;
  std::string m_answer;
  std::vector<std::string> values_;      // value stack of the evaluation, top at the back
};

}  // namespace zelka
