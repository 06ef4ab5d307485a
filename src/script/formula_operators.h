// The operator table of the formula language, in matching order: the lexer tries the rows
// top to bottom, so every two-character operator is found before its one-character prefix
// ("&&" before "&", "e+" before "+", ">=" before ">").
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace zelka {

enum class FormulaOperator : std::uint8_t {
  OpenGroup, CloseGroup, And, Or, Equal, NotEqual, GreaterEqual, LessEqual, Greater, Less,
  Not, Assign, ExponentPlus, ExponentMinus, Add, Subtract, Multiply, Divide, Remainder,
  BitAnd, BitOr, BitXor,
};

struct FormulaOperatorRow {
  std::string_view text;
  int precedence;
  FormulaOperator op;
};

inline constexpr std::array<FormulaOperatorRow, 22> kFormulaOperators = {{
    {"(", 0, FormulaOperator::OpenGroup},
    {")", 0, FormulaOperator::CloseGroup},
    {"&&", 1, FormulaOperator::And},
    {"||", 1, FormulaOperator::Or},
    {"==", 3, FormulaOperator::Equal},
    {"!=", 3, FormulaOperator::NotEqual},
    {">=", 3, FormulaOperator::GreaterEqual},
    {"<=", 3, FormulaOperator::LessEqual},
    {">", 3, FormulaOperator::Greater},
    {"<", 3, FormulaOperator::Less},
    {"!", 4, FormulaOperator::Not},
    {"=", 2, FormulaOperator::Assign},
    {"e+", 6, FormulaOperator::ExponentPlus},
    {"e-", 6, FormulaOperator::ExponentMinus},
    {"+", 5, FormulaOperator::Add},
    {"-", 5, FormulaOperator::Subtract},
    {"*", 6, FormulaOperator::Multiply},
    {"/", 6, FormulaOperator::Divide},
    {"%", 6, FormulaOperator::Remainder},
    {"&", 6, FormulaOperator::BitAnd},
    {"|", 6, FormulaOperator::BitOr},
    {"^", 6, FormulaOperator::BitXor},
}};

// The precedence of anything that is not an operator: one above the highest operator.
inline constexpr int kOperandPrecedence = 7;
// The bottom marker of the operator stack.
inline constexpr std::string_view kMarkerText = "dummy";
inline constexpr int kMarkerPrecedence = -10;
// Each level of parentheses raises the precedences inside by this much.
inline constexpr int kDepthStep = 10;

// The row whose text is exactly `text`; nullptr for anything else.
inline const FormulaOperatorRow* findFormulaOperator(std::string_view text) {
  for (const FormulaOperatorRow& row : kFormulaOperators) {
    if (row.text == text) return &row;
  }
  return nullptr;
}

// The first row (in matching order) whose text begins `text`; nullptr when none does.
inline const FormulaOperatorRow* matchFormulaOperator(std::string_view text) {
  if (text.empty()) return nullptr;
  const char first = text[0];
  // Most bytes of a formula start no operator; reject them without walking the table.
  switch (first) {
    case '(': case ')': case '&': case '|': case '=': case '!': case '>': case '<': case 'e':
    case '+': case '-': case '*': case '/': case '%': case '^':
      break;
    default:
      return nullptr;
  }
  const char second = text.size() > 1 ? text[1] : '\0';
  for (const FormulaOperatorRow& row : kFormulaOperators) {
    if (row.text[0] != first) continue;
    if (row.text.size() == 1 || row.text[1] == second) return &row;
  }
  return nullptr;
}

}  // namespace zelka
