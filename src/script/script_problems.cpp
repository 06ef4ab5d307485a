#include "script/script_problems.h"

#include "platform/text_codec.h"

namespace zelka {
namespace {

// Elements longer than this are shown cut, so that one problem stays one readable line.
constexpr std::size_t kShownElementChars = 100;

std::string shownElement(std::u16string_view text) {
  if (text.size() <= kShownElementChars) return toNarrow(text);
  return toNarrow(text.substr(0, kShownElementChars)) + "...";
}

std::string gloss(int code, bool exhausted) {
  if (exhausted) {
    return "was not expanded: the script nests too deeply or does too much work (a variable "
           "or token that refers to itself?)";
  }
  if (code == 2) {
    return "gives the error report \"the data type cannot be determined\": a formula or "
           "variable value of no known kind";
  }
  return "gives the error report \"cannot substitute; check how it is written\": a required "
         "body is missing or empty, a list has the wrong number of items, a query found "
         "nothing, or a backslash element is not defined";
}

std::string originText(const ScriptOrigin& origin) {
  if (origin.entry != nullptr) {
    return (origin.conditional ? "the conditional of " : "") + origin.entry->token;
  }
  return origin.description;
}

}  // namespace

std::size_t elementLine(std::string_view script, std::size_t firstLine,
                        std::u16string_view elementText) {
  if (firstLine == 0) return 0;
  // A chained else part is rebuilt with a "+" the author did not write.
  if (!elementText.empty() && elementText.front() == u'+') elementText.remove_prefix(1);
  if (elementText.empty()) return firstLine;
  const std::u16string wide = toWide(script);
  std::u16string flat;
  std::vector<std::size_t> lineFeedsBefore;
  flat.reserve(wide.size());
  lineFeedsBefore.reserve(wide.size());
  std::size_t lineFeeds = 0;
  for (char16_t c : wide) {
    if (c == u'\n') {
      ++lineFeeds;
      continue;
    }
    flat += c;
    lineFeedsBefore.push_back(lineFeeds);
  }
  const std::size_t at = flat.find(elementText);
  if (at == std::u16string::npos) return firstLine;
  return firstLine + lineFeedsBefore[at];
}

void ScriptProblems::elementFailed(const ScriptOrigin& origin, const ScriptElement& element,
                                   int code, bool exhausted) {
  if (list_ == nullptr) return;
  std::string where;
  if (origin.entry != nullptr) {
    const KnowledgeEntry& entry = *origin.entry;
    const std::size_t line = origin.conditional
                                 ? entry.blockLine
                                 : elementLine(entry.script, entry.scriptLine, element.text);
    where = sourceDirectory_ + entry.source;
    if (line != 0) where += ":" + std::to_string(line);
  }
  const std::string shown = shownElement(element.text);
  std::string key = where;
  key += '\t';
  key += shown;
  key += '\t';
  key += exhausted ? 'x' : static_cast<char>('0' + code);
  if (auto it = index_.find(key); it != index_.end()) {
    ++seen_[it->second].repeats;
    return;
  }
  if (seen_.size() >= kMaxDistinct) {
    if (!overflowTold_) {
      overflowTold_ = true;
      list_->report({Problem::Severity::Error, "",
                     "more than " + std::to_string(kMaxDistinct) +
                         " different script errors in this session; the rest are not "
                         "reported"});
    }
    return;
  }
  const std::string from = originText(origin);
  std::string what = "\"" + shown + "\"";
  if (!from.empty()) what += " in " + from;
  index_.emplace(std::move(key), seen_.size());
  seen_.push_back({where, what, 0});

  std::string message = "script error";
  if (!from.empty()) message += " in " + from;
  message += ": \"" + shown + "\" " + gloss(code, exhausted);
  list_->report({Problem::Severity::Error, where, std::move(message)});
}

void ScriptProblems::reportRepeats() {
  if (list_ != nullptr) {
    for (const Seen& seen : seen_) {
      if (seen.repeats == 0) continue;
      list_->report({Problem::Severity::Warning, seen.where,
                     "the script error " + seen.what + " happened " +
                         std::to_string(seen.repeats) +
                         (seen.repeats == 1 ? " more time" : " more times") +
                         " in this session"});
    }
  }
  forget();
}

void ScriptProblems::forget() {
  index_.clear();
  seen_.clear();
  overflowTold_ = false;
}

}  // namespace zelka
