// The formula lexer, shared by the evaluator and the parse-only check: splits a formula into
// operand texts and operators. Blanks vanish everywhere (between quotes too), a double-byte
// character is never an operator, and operators between double quotes are not recognised.
#pragma once

#include <string>
#include <string_view>

#include "script/formula_operators.h"

namespace zelka {

// Calls sink.operand(std::string&) for each non-empty operand text (the sink may take it)
// and sink.op(const FormulaOperatorRow&) for each operator, in formula order. Answers
// whether a double quote was left open at the end.
template <typename Sink>
bool lexFormula(std::string_view formula, Sink& sink) {
  std::string pending;
  bool inString = false;
  auto flushOperand = [&]() {
    if (pending.empty()) return;
    sink.operand(pending);
    pending.clear();
  };
  std::size_t i = 0;
  while (i < formula.size()) {
    const unsigned char byte = static_cast<unsigned char>(formula[i]);
    if (byte > 0x80 && i + 1 < formula.size() &&
        static_cast<unsigned char>(formula[i + 1]) >= 0x40) {
      pending.append(formula.substr(i, 2));
      i += 2;
      continue;
    }
    if (byte == '"') {
      pending.push_back('"');
      inString = !inString;
      ++i;
      continue;
    }
    if (byte == ' ') {
      ++i;
      continue;
    }
    if (!inString) {
      if (const FormulaOperatorRow* row = matchFormulaOperator(formula.substr(i))) {
        flushOperand();
        sink.op(*row);
        i += row->text.size();
        continue;
      }
    }
    pending.push_back(static_cast<char>(byte));
    ++i;
  }
  flushOperand();
  return inString;
}

}  // namespace zelka
