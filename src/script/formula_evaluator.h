// The formula evaluator: a formula text is lexed into reverse Polish order by a
// precedence-only shunting yard and evaluated on a stack of value texts. Values are untyped
// texts classified per operand (number, quoted string, variable name). It owns the variable
// table of the script language.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>

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

  // Stores the formula (when given) and resets the working state.
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

 private:
  // (implementation members)
  std::deque<FormulaToken> output_;
  std::deque<FormulaToken> operators_;
  std::deque<FormulaToken> operatorTable_;
  int depth_ = 0;
  VariableTable variables_;
  std::string m_formula;
  std::string m_formula_rpn;
  std::string m_answer;
};

}  // namespace zelka
