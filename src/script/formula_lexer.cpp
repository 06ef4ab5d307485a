// Lexing and the precedence-only shunting yard of the formula evaluator.
//
// Operands travel through the operator stack like operators (with precedence 7 plus the
// depth bonus) and are moved to the output by the next operator of equal or lower
// precedence. The yard is iterative and the bottom marker is never popped, so formulas of
// any length or nesting (also more ")" than "(") run in linear time without recursion.
#include <algorithm>
#include <limits>

#include "script/formula_evaluator.h"
#include "script/formula_lexer.h"
#include "script/formula_operators.h"

namespace zelka {

namespace {

int withDepth(int precedence, std::int64_t depth) {
  // Depth is bounded by the formula length; the sum is clamped so that absurd nesting
  // keeps a defined order instead of wrapping around.
  const std::int64_t raised = static_cast<std::int64_t>(precedence) + kDepthStep * depth;
  return static_cast<int>(std::clamp<std::int64_t>(raised, std::numeric_limits<int>::min(),
                                                   std::numeric_limits<int>::max()));
}

}  // namespace

int FormulaEvaluator::precedenceOf(std::string_view text) {
  const FormulaOperatorRow* row = findFormulaOperator(text);
  return row ? row->precedence : kOperandPrecedence;
}

const std::string& FormulaEvaluator::buildRpn(std::optional<std::string_view> formula) {
  setFormula(formula);
  lex();
  return m_formula_rpn;
}

void FormulaEvaluator::lex() {
  struct YardSink {
    FormulaEvaluator& evaluator;
    void operand(std::string& text) { evaluator.pushOperand(text); }
    void op(const FormulaOperatorRow& row) {
      evaluator.pushToken(FormulaToken{std::string(row.text), true, row.precedence});
    }
  } sink{*this};
  lexFormula(m_formula, sink);
  flush();

  std::size_t length = 0;
  for (const FormulaToken& token : output_) length += token.text.size() + 1;
  m_formula_rpn.reserve(length);
  for (const FormulaToken& token : output_) {
    if (!m_formula_rpn.empty()) m_formula_rpn.push_back(' ');
    m_formula_rpn += token.text;
  }
}

void FormulaEvaluator::pushOperand(std::string& pending) {
  // Blanks never reach the pending text, so it is empty exactly when it trims to empty.
  if (pending.empty()) return;
  const int precedence = precedenceOf(pending);
  pushToken(FormulaToken{std::move(pending), false, precedence});
  pending.clear();
}

void FormulaEvaluator::pushToken(FormulaToken token) {
  token.precedence = withDepth(token.precedence, depth_);
  if (token.text == "(") {
    ++depth_;
    operators_.push_back(std::move(token));
    return;
  }
  // operators_.front() is the marker; it stays whatever precedence the token has.
  while (operators_.size() > 1 && operators_.back().precedence >= token.precedence) {
    if (operators_.back().text != "(") output_.push_back(std::move(operators_.back()));
    operators_.pop_back();
  }
  if (token.text == ")") {
    if (operators_.size() > 1 && operators_.back().text == "(") operators_.pop_back();
    --depth_;
    return;
  }
  operators_.push_back(std::move(token));
}

void FormulaEvaluator::flush() {
  while (operators_.size() > 1) {
    if (operators_.back().text != "(") output_.push_back(std::move(operators_.back()));
    operators_.pop_back();
  }
}

}  // namespace zelka
