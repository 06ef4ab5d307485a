#include "script/formula_syntax.h"

#include "script/formula_lexer.h"

namespace zelka {
namespace {

// Follows the tokens with the one thing evaluation needs: does an operand or an operator come
// next. The first problem found is kept.
struct SyntaxSink {
  FormulaSyntax result;
  bool expectOperand = true;
  bool atGroupStart = true;  // start of the formula or right after "("
  long depth = 0;
  std::string previous;      // the last operator, for "at the end" messages

  void fail(FormulaProblem problem, std::string_view token) {
    if (result.ok()) result = FormulaSyntax{problem, std::string(token)};
  }

  void operand(std::string& text) {
    if (!expectOperand) fail(FormulaProblem::kMissingOperator, text);
    expectOperand = false;
    atGroupStart = false;
  }

  void op(const FormulaOperatorRow& row) {
    switch (row.op) {
      case FormulaOperator::OpenGroup:
        if (!expectOperand) fail(FormulaProblem::kMissingOperator, row.text);
        ++depth;
        expectOperand = true;
        atGroupStart = true;
        return;
      case FormulaOperator::CloseGroup:
        if (depth == 0) fail(FormulaProblem::kUnopenedGroup, row.text);
        if (expectOperand) fail(FormulaProblem::kMissingOperand, atGroupStart ? "()" : previous);
        --depth;
        expectOperand = false;
        atGroupStart = false;
        return;
      case FormulaOperator::Not:
        if (!expectOperand) fail(FormulaProblem::kMissingOperator, row.text);
        break;
      case FormulaOperator::Add:
      case FormulaOperator::Subtract:
        if (expectOperand && !atGroupStart) fail(FormulaProblem::kMissingOperand, row.text);
        break;
      default:
        if (expectOperand) fail(FormulaProblem::kMissingOperand, row.text);
        break;
    }
    previous = row.text;
    expectOperand = true;
    atGroupStart = false;
  }
};

}  // namespace

FormulaSyntax checkFormulaSyntax(std::string_view formula) {
  SyntaxSink sink;
  const bool openQuote = lexFormula(formula, sink);
  if (openQuote) sink.fail(FormulaProblem::kUnclosedQuote, "\"");
  if (sink.atGroupStart && sink.expectOperand && sink.depth == 0 && sink.previous.empty()) {
    // Nothing was lexed at all (or only "()" pairs, reported already).
    sink.fail(FormulaProblem::kEmpty, "");
  }
  if (sink.expectOperand) sink.fail(FormulaProblem::kMissingOperand, sink.previous);
  if (sink.depth > 0) sink.fail(FormulaProblem::kUnclosedGroup, "(");
  return sink.result;
}

std::string describeFormulaProblem(const FormulaSyntax& syntax) {
  const std::string& t = syntax.token;
  switch (syntax.problem) {
    case FormulaProblem::kNone: return "";
    case FormulaProblem::kEmpty: return "the formula is empty";
    case FormulaProblem::kUnclosedQuote: return "a double quote is never closed";
    case FormulaProblem::kUnclosedGroup: return "a \"(\" is never closed";
    case FormulaProblem::kUnopenedGroup: return "a \")\" has no \"(\" before it";
    case FormulaProblem::kMissingOperand:
      if (t == "()") return "an empty pair of parentheses";
      if (t == "-" || t == "+") {
        return "\"" + t + "\" has no left operand (a sign works only at the start or after "
               "\"(\": write (0 " + t + " 1) instead of " + t + "1)";
      }
      if (t.empty()) return "the formula ends without an operand";
      return "the operator \"" + t + "\" lacks an operand";
    case FormulaProblem::kMissingOperator:
      return "an operator is missing before \"" + t + "\"";
  }
  return "";
}

}  // namespace zelka
