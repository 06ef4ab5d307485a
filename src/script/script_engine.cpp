// The expansion engine: runs a parsed script element by element, expands meta elements
// (the conditional chain here, every other element through the meta element table), rescans
// each result as a script, and turns failures into an error report inside the talk.
#include "script/script_engine.h"

#include "platform/clock.h"
#include "platform/text_codec.h"
#include "script/log_sink.h"
#include "util/number_text.h"
#include "util/text.h"

namespace zelka {
namespace {

// The report's message lines, in Shift_JIS (each is followed by a line-break tag).
// "cannot substitute" / "check how it is written"
constexpr std::string_view kCannotSubstitute =
    "\x92\x75\x8a\xb7\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x81\x42";
constexpr std::string_view kCheckWriting =
    "\x8b\x4c\x8f\x71\x95\xfb\x96\x40\x82\xf0\x8a\x6d\x94\x46\x82\xb5\x82\xc4\x82\xad\x82\xbe"
    "\x82\xb3\x82\xa2\x81\x42";
// "the data type cannot be determined" / "complain to tavi"
constexpr std::string_view kUnknownType =
    "\x83\x66\x81\x5b\x83\x5e\x8c\x5e\x82\xaa\x94\xbb\x95\xca\x82\xc5\x82\xab\x82\xdc\x82\xb9"
    "\x82\xf1\x81\x42";
constexpr std::string_view kComplain =
    "tavi \x82\xc9\x95\xb6\x8b\xe5\x8c\xbe\x82\xc1\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81"
    "\x42";

bool isShiftJisLead(unsigned char c) {
  return (c >= 0x81 && c <= 0x9f) || (c >= 0xe0 && c <= 0xfc);
}

// True when scanning the text as a script would give it back unchanged: plain ASCII without
// element starts, quotes or line feeds (the common result: a number, a word).
bool scanLeavesUnchanged(std::string_view text) {
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x80 || byte == '%' || byte == '\\' || byte == '"' || byte == '\n' || byte == 0) {
      return false;
    }
  }
  return true;
}

bool isChainElement(const ScriptElement& element) {
  if (element.kind == u"%") return element.name == u"if";
  if (element.kind == u"+") return element.name == u"elseif" || element.name == u"else";
  return false;
}

}  // namespace

ScriptEngine::ScriptEngine(FormulaEvaluator& evaluator, KnowledgeBase& knowledge,
                           EventContext& event, Mt19937& random, LogSink& log)
    : evaluator_(evaluator),
      knowledge_(knowledge),
      event_(event),
      random_(random),
      log_(log),
      clock_(secondsSinceEpoch) {}

std::string scriptErrorReport(const ScriptElement& element, int code, bool quoteTags) {
  const std::string_view lineBreak = quoteTags ? std::string_view("\"\\n\"") : "\\n";
  // Backslashes are doubled per character, so the trail byte of a two-byte character is
  // never mistaken for one.
  std::u16string source;
  source.reserve(element.text.size() + 8);
  for (char16_t c : element.text) {
    source += c;
    if (c == u'\\') source += c;
  }
  auto messageLine = [&](std::string_view line) {
    std::string text(line);
    text += lineBreak;
    return text;
  };
  std::string report;
  report += lineBreak;
  report += "<!-- Zelka Script Error";
  report += lineBreak;
  report += '"';
  report += toNarrow(source);
  report += '"';
  report += lineBreak;
  if (code == 2) {
    report += messageLine(kUnknownType);
    report += messageLine(kComplain);
  } else {
    report += messageLine(kCannotSubstitute);
    report += messageLine(kCheckWriting);
  }
  report += "-->";
  report += lineBreak;
  return report;
}

bool ScriptEngine::runScript(std::string_view script, std::string& out) {
  const bool outermost = entered_ == 0;
  try {
    Entry guard(*this);
    if (nesting_ > kMaxNesting) return false;
    return runScriptImpl(script, out);
  } catch (...) {
    // Nothing escapes the outermost call; a failure deeper down unwinds to it.
    if (outermost) return false;
    throw;
  }
}

bool ScriptEngine::runScript(std::string_view script, std::string& out, std::string_view origin) {
  OriginScope scope(*this, ScriptOrigin{nullptr, false, std::string(origin)});
  return runScript(script, out);
}

void ScriptEngine::elementFailed(const ScriptElement& element, int code, bool exhausted) {
  if (exhausted) {
    if (exhaustionTold_) return;
    exhaustionTold_ = true;
  }
  problems_.elementFailed(origin_, element, code, exhausted);
}

bool ScriptEngine::runScriptImpl(std::string_view script, std::string& out) {
  spend();
  spendText(script.size());
  const std::u16string wide = toWide(script);
  std::vector<ScriptElement> list;
  parseScript(wide, &list);
  std::string result;
  std::uint32_t counter = 0;
  expandList(list, result, counter);
  out += result;
  return !result.empty();
}

int ScriptEngine::expandList(const std::vector<ScriptElement>& list, std::string& out,
                             std::uint32_t& counter) {
  if (list.empty()) {
    out.clear();
    return 0;
  }
  int enableSub = 1;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const ScriptElement& element = list[i];
    std::string text;
    if (element.isMeta()) {
      if (runLevel_.logsSelection()) {
        log_.newline();
        log_.write("lexical analysis: ");
        log_.writeWide(element.text);
        log_.newline();
        log_.write("ps_enable_sub: ");
        log_.write(std::to_string(enableSub));
        log_.newline();
      }
      std::string result;
      const int code = expandElementImpl(element, result, enableSub, counter);
      if (i + 1 < list.size() && list[i + 1].kind != u"+") enableSub = 1;
      if (code == 0 && exhausted()) elementFailed(element, 1, true);
      if (code != 0 || exhausted()) {
        // A report is not scanned again: its tags are quoted as a scan would leave them, which
        // also keeps a line-break tag from running into the word after it ("\ntavi").
        text = scriptErrorReport(element, code != 0 ? code : 1, true);
      } else if (!runLevel_.logsSelection() && scanLeavesUnchanged(result)) {
        // Skipping such a scan changes nothing but the diagnostic lines it would write.
        text = std::move(result);
      } else {
        Nesting nesting(*this);
        runScriptImpl(result, text);
      }
    } else {
      text = toNarrow(element.text);
    }
    spendText(text.size());
    out += text;
    if (runLevel_.logsSelection()) {
      log_.write("lexical analysis result: ");
      log_.write(text);
      log_.newline();
    }
  }
  return 1;
}

bool ScriptEngine::expandElement(const ScriptElement& element, std::string& out, int& enableSub,
                                 std::uint32_t& counter) {
  return expandElementImpl(element, out, enableSub, counter) == 0;
}

int ScriptEngine::expandElementImpl(const ScriptElement& element, std::string& out,
                                    int& enableSub, std::uint32_t& counter) {
  // Too deep or out of work: the element reports instead of expanding.
  if (exhausted()) {
    elementFailed(element, 1, true);
    out = scriptErrorReport(element, 1);
    return 1;
  }
  Nesting nesting(*this);
  spend();
  if (isChainElement(element)) return expandChain(element, out, enableSub, counter);

  std::string argumentText;
  expandList(element.arguments, argumentText, counter);
  std::string bodyText;
  for (const auto& body : element.bodies) {
    std::string expanded;
    expandList(body, expanded, counter);
    bodyText += expanded;
  }

  std::string result;
  const int code = dispatchMeta(element, argumentText, bodyText, counter, result);
  if (code != 0) {
    elementFailed(element, code, false);
    out = scriptErrorReport(element, code);
    return code;
  }
  // An empty result stays visible to the rescan as an empty quoted text.
  if (result.empty()) result = "\"\"";
  out = std::move(result);
  return 0;
}

int ScriptEngine::expandChain(const ScriptElement& element, std::string& out, int& enableSub,
                              std::uint32_t& counter) {
  auto outputFirstBody = [&]() {
    if (element.bodies.empty()) return;
    std::string body;
    expandList(element.bodies.front(), body, counter);
    stripEnclosing(body, '{', '}');
    out += body;
  };

  if (element.name == u"else") {
    enableSub = enableSub == 0 ? 1 : 0;
    if (enableSub == 1) outputFirstBody();
    return 0;
  }
  // An elseif after a branch that already ran stays silent.
  if (element.name == u"elseif" && enableSub != 0) return 0;

  std::string formula;
  expandList(element.arguments, formula, counter);
  const std::optional<std::string> answer = evaluateFormula(formula, true);
  bool truth = false;
  if (answer) {
    if (classifyValue(*answer) == ValueKind::Number) {
      truth = parseDoublePrefix(*answer) != 0.0;
    } else {
      std::string unquoted = *answer;
      stripEnclosing(unquoted, '"', '"');
      truth = !unquoted.empty();
    }
  }
  enableSub = truth ? 1 : 0;
  if (truth) outputFirstBody();
  return 0;
}

std::optional<std::string> ScriptEngine::evaluateFormula(std::string_view formula, bool logIt) {
  evaluator_.setFormula(formula);
  std::optional<std::string> answer = evaluator_.evaluate();
  if (logIt && runLevel_.logsFormulas()) logFormula();
  return answer;
}

void ScriptEngine::logFormula() {
  log_.newline();
  log_.write("rpn m_formula: ");
  log_.write(evaluator_.formula());
  log_.newline();
  log_.write("rpn m_formula_rpn: ");
  log_.write(evaluator_.formulaRpn());
  log_.newline();
  log_.write("rpn m_answer: ");
  log_.write(evaluator_.answer());
  log_.newline();
}

std::string ScriptEngine::stripScriptQuotes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    // A two-byte character is copied whole: its trail byte may be 0x5C and must not act
    // as a backslash before a quote.
    if (isShiftJisLead(c) && i + 1 < text.size()) {
      out += text[i];
      out += text[++i];
      continue;
    }
    // A doubled backslash is the host's literal backslash and passes whole, so that its
    // second half never turns a following quote into a shown one.
    if (c == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
      out += text[i];
      out += text[++i];
      continue;
    }
    if (c == '\\' && i + 1 < text.size() && text[i + 1] == '"') {
      out += '"';
      ++i;
      continue;
    }
    if (c == '"') continue;
    out += text[i];
  }
  return out;
}

// The free talk interval, read and written where the event handling and the \ti element
// find it: the variable "__TalkInterval".
long ScriptEngine::talkInterval() const {
  std::string value;
  if (!evaluator_.variables().getVariable("__TalkInterval", value)) return 0;
  return static_cast<long>(parseInt32Prefix(value));
}

void ScriptEngine::setTalkInterval(std::uint32_t seconds) {
  evaluator_.variables().setVariable("__TalkInterval", std::to_string(seconds));
}

void ScriptEngine::setTalkIntervalText(std::string_view text) {
  evaluator_.variables().setVariable("__TalkInterval", text);
}

}  // namespace zelka
