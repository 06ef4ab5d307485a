// Evaluation of the reverse Polish output on a stack of value texts.
//
// The stack starts with one "0", which is the left operand of a leading unary "-" or "+".
// Each operator resolves its two top entries (right on top), computes a result text of at
// most kOperationTextLimit bytes and replaces them by it; "!" and "=" consume only their
// right operand ("=" leaves the variable name under its result).
#include "script/formula_evaluator.h"

#include <cmath>
#include <cstdint>
#include <functional>

#include "script/formula_operators.h"
#include "script/formula_support.h"
#include "util/number_text.h"
#include "util/text.h"

namespace zelka {

namespace {

const std::string& formattedBoolean(bool value) {
  static const std::string kOne = formatScientific(1.0);
  static const std::string kZero = formatScientific(0.0);
  return value ? kOne : kZero;
}

double numberOperation(FormulaOperator op, double left, double right) {
  switch (op) {
    case FormulaOperator::Equal: return left == right;
    case FormulaOperator::NotEqual: return left != right;
    case FormulaOperator::Greater: return left > right;
    case FormulaOperator::Less: return left < right;
    case FormulaOperator::GreaterEqual: return left >= right;
    case FormulaOperator::LessEqual: return left <= right;
    case FormulaOperator::And: return left != 0 && right != 0;
    case FormulaOperator::Or: return left != 0 || right != 0;
    case FormulaOperator::Add: return left + right;
    case FormulaOperator::Subtract: return left - right;
    case FormulaOperator::Multiply: return left * right;
    case FormulaOperator::ExponentPlus: return left * std::pow(10.0, right);
    case FormulaOperator::ExponentMinus: return left * std::pow(10.0, -right);
    case FormulaOperator::Divide: return left > 0 ? left / right : 0.0;
    case FormulaOperator::Remainder: {
      if (!(left > 0)) return 0.0;
      const long long dividend = truncateToInteger(left);
      const long long divisor = truncateToInteger(right);
      // A zero divisor answers 0 like the guard on the dividend; the dividend is positive,
      // so the one overflowing case (minimum % -1) cannot occur.
      if (divisor == 0) return 0.0;
      return static_cast<double>(dividend % divisor);
    }
    case FormulaOperator::BitAnd: return truncateToInt32(left) & truncateToInt32(right);
    case FormulaOperator::BitOr: return truncateToInt32(left) | truncateToInt32(right);
    case FormulaOperator::BitXor: return truncateToInt32(left) ^ truncateToInt32(right);
    case FormulaOperator::Not: return right == 0;
    case FormulaOperator::OpenGroup:
    case FormulaOperator::CloseGroup:
    case FormulaOperator::Assign:  // handled by the caller
      return 0.0;
  }
  return 0.0;
}

std::string withoutQuotes(std::string_view text, ValueKind kind) {
  std::string out(text);
  if (kind == ValueKind::Quoted) stripEnclosing(out, '"', '"');
  return out;
}

}  // namespace

FormulaEvaluator::FormulaEvaluator() { setFormula(std::string_view("")); }

void FormulaEvaluator::setFormula(std::optional<std::string_view> formula) {
  if (formula) {
    // A view into the current formula must be copied before the formula is overwritten.
    const std::less_equal<const char*> notAfter;
    const bool overlaps = notAfter(m_formula.data(), formula->data()) &&
                          notAfter(formula->data(), m_formula.data() + m_formula.size());
    if (overlaps) {
      m_formula = std::string(*formula);
    } else {
      m_formula.assign(*formula);
    }
  }
  m_formula_rpn.clear();
  m_answer.clear();
  output_.clear();
  operators_.clear();
  depth_ = 0;
  // The operator table is the constant kFormulaOperators; only the marker needs placing.
  operators_.push_back(FormulaToken{std::string(kMarkerText), false, kMarkerPrecedence});
}

std::optional<std::string> FormulaEvaluator::evaluate() {
  buildRpn(std::nullopt);
  if (m_formula_rpn.empty()) return std::nullopt;

  values_.clear();
  values_.emplace_back("0");
  for (const FormulaToken& token : output_) {
    if (token.isOperator) {
      applyOperator(token.text);
    } else {
      values_.push_back(token.text);
    }
  }

  // A word standing as the answer is a variable: its value answers (nothing when it is
  // undefined). An operation's result answers as computed, so that the text of an infinite
  // quotient is not taken for a variable name.
  const std::string& top = values_.back();
  const bool computed = output_.back().isOperator;
  if (!computed && classifyValue(top) == ValueKind::Name) {
    if (!variables_.getVariable(top, m_answer)) m_answer.clear();
  } else {
    m_answer = top;
  }
  return m_answer;
}

std::string_view FormulaEvaluator::resolve(const std::string* entry, std::string& storage,
                                           ValueKind& kind) const {
  kind = classifyValue(entry);
  if (kind == ValueKind::Number || kind == ValueKind::Quoted) return *entry;
  if (kind == ValueKind::Name) {
    const auto& vars = variables_.entries();
    auto it = vars.find(*entry);
    if (it != vars.end() && !it->second.empty()) {
      const ValueKind valueKind = classifyValue(it->second);
      if (valueKind == ValueKind::Number || valueKind == ValueKind::Quoted) {
        kind = valueKind;
        return it->second;
      }
      storage = '"' + it->second + '"';
    } else {
      storage = '"' + *entry + '"';  // an undefined word is a string of itself
    }
    kind = ValueKind::Quoted;
    return storage;
  }
  kind = ValueKind::Quoted;
  storage = "\"\"";
  return storage;
}

void FormulaEvaluator::applyOperator(std::string_view text) {
  const FormulaOperatorRow* row = findFormulaOperator(text);
  const FormulaOperator op = row ? row->op : FormulaOperator::OpenGroup;

  const std::string* rightEntry = &values_.back();
  const std::string* leftEntry = values_.size() >= 2 ? &values_[values_.size() - 2] : nullptr;
  std::string rightStorage;
  std::string leftStorage;
  ValueKind rightKind;
  ValueKind leftKind;
  const std::string_view right = resolve(rightEntry, rightStorage, rightKind);
  const std::string_view left = resolve(leftEntry, leftStorage, leftKind);
  const bool numbers = leftKind == ValueKind::Number && rightKind == ValueKind::Number;

  std::string result;
  if (op == FormulaOperator::Assign) {
    // The name is the entry's own text, never its value.
    std::string stored;
    bool found = false;
    if (leftEntry) {
      const std::string name = *leftEntry;
      variables_.setVariable(name, right);
      found = variables_.getVariable(name, stored);
    }
    if (numbers) {
      result = formatScientific(found ? parseDoublePrefix(stored) : 0.0);
    } else {
      result = std::move(stored);
    }
  } else if (numbers) {
    const double value = numberOperation(op, parseDoublePrefix(left), parseDoublePrefix(right));
    result = formatScientific(value);
  } else {
    switch (op) {
      case FormulaOperator::Equal: result = formattedBoolean(left == right); break;
      case FormulaOperator::NotEqual: result = formattedBoolean(left != right); break;
      case FormulaOperator::Greater: result = formattedBoolean(left > right); break;
      case FormulaOperator::Less: result = formattedBoolean(left < right); break;
      case FormulaOperator::GreaterEqual: result = formattedBoolean(left >= right); break;
      case FormulaOperator::LessEqual: result = formattedBoolean(left <= right); break;
      case FormulaOperator::Add: {
        const std::string joined = withoutQuotes(left, leftKind) + withoutQuotes(right, rightKind);
        result.reserve(joined.size() + 2);
        result.push_back('"');
        result += joined;
        result.push_back('"');
        break;
      }
      case FormulaOperator::Not: {
        std::string operand(right);
        stripEnclosing(operand, '"', '"');
        result = formattedBoolean(operand.empty());
        break;
      }
      default: result = formattedBoolean(false); break;
    }
  }
  cutToLimit(result, kOperationTextLimit);

  if (op == FormulaOperator::Not || op == FormulaOperator::Assign) values_.emplace_back("0");
  if (values_.size() <= 2) values_.emplace_back("0");
  values_.pop_back();
  values_.pop_back();
  values_.push_back(std::move(result));
}

}  // namespace zelka
