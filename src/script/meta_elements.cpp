// The meta element table: what each element name computes once its argument and body groups
// have been expanded (see meta_elements.h).
#include "script/meta_elements.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "config/zelka_config.h"
#include "platform/clock.h"
#include "platform/text_codec.h"
#include "script/knowledge_queries.h"
#include "script/log_sink.h"
#include "script/number_format.h"
#include "script/script_engine.h"
#include "util/number_text.h"
#include "util/text.h"

namespace zelka {
namespace {

// strtoul on a 32-bit long: a negative number wraps, anything out of range saturates.
std::uint32_t readUnsigned32(std::string_view text) {
  const long long value = parseIntegerPrefix(text);
  constexpr long long kMax = std::numeric_limits<std::uint32_t>::max();
  if (value > kMax) return std::numeric_limits<std::uint32_t>::max();
  if (value < 0) {
    if (value < -kMax) return std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(0) - static_cast<std::uint32_t>(-value);
  }
  return static_cast<std::uint32_t>(value);
}

// A double truncated towards zero into the range of long long (NaN reads 0).
long long truncateToInteger(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9.2e18) return std::numeric_limits<long long>::max();
  if (value <= -9.2e18) return std::numeric_limits<long long>::min();
  return static_cast<long long>(value);
}

std::uint32_t clampToUnsigned32(long long value) {
  if (value < 0) return 0;
  if (value > static_cast<long long>(std::numeric_limits<std::uint32_t>::max())) {
    return std::numeric_limits<std::uint32_t>::max();
  }
  return static_cast<std::uint32_t>(value);
}

std::string quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  out += text;
  out += '"';
  return out;
}

// Text from outside the scripts (a heard sentence, a reference) is output enclosed in quotes so
// that the rescan leaves it alone. A double quote inside it would end that protection early
// and let the rest run as script, so inner quotes are written as \" (the final clean-up turns
// them back into plain quotes), and a run of backslashes at its end is put after the closing
// quote, where it cannot escape it. Two-byte characters are stepped over whole.
std::string protectedQuoted(std::string_view text) {
  if (classifyValue(text) == ValueKind::Quoted && text.size() >= 2) {
    text = text.substr(1, text.size() - 2);
  }
  std::string out = "\"";
  out.reserve(text.size() + 8);
  std::size_t trailingBackslashes = out.size();  // where the final run of lone backslashes begins
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x81 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x40) {
      out += text.substr(i, 2);
      ++i;
      trailingBackslashes = out.size();
      continue;
    }
    if (c == '"') {
      // An author's escape pair stays; any other quote is escaped.
      std::size_t run = 0;
      while (run < out.size() - trailingBackslashes && out[out.size() - 1 - run] == '\\') ++run;
      if (run % 2 == 0) out += '\\';
    }
    out += static_cast<char>(c);
    if (c != '\\') trailingBackslashes = out.size();
  }
  const std::string tail = out.substr(trailingBackslashes);
  out.resize(trailingBackslashes);
  out += '"';
  out += tail;
  return out;
}

bool hasInnerQuote(std::string_view quotedText) {
  return quotedText.size() > 2 &&
         quotedText.substr(1, quotedText.size() - 2).find('"') != std::string_view::npos;
}

std::vector<std::string> itemsOf(std::string_view body) {
  std::vector<std::string> items;
  splitQuotedNarrow(body, ",", items);
  return items;
}

}  // namespace

// The host's own names: handed to the host unchanged, whichever leading character they have.
constexpr std::u16string_view kHostNames[] = {u"selfname2", u"keroname", u"screenwidth",
                                              u"screenheight", u"et", u"songname", u"j"};

VariableTable& MetaElementTable::Call::variables() { return engine.evaluator_.variables(); }

const MetaElementTable::Row MetaElementTable::kRows[] = {
    {u"ms", kBoth, true, &category},        {u"mz", kBoth, true, &category},
    {u"ml", kBoth, true, &category},        {u"mc", kBoth, true, &category},
    {u"mh", kBoth, true, &category},        {u"mt", kBoth, true, &category},
    {u"me", kBoth, true, &category},        {u"mp", kBoth, true, &category},
    {u"m?", kBoth, true, &category},        {u"dms", kBoth, true, &category},
    {u"unify", kPercent, true, &unify},     {u"year", kPercent, true, &date},
    {u"month", kPercent, true, &date},      {u"day", kPercent, true, &date},
    {u"hour", kPercent, true, &date},       {u"minute", kPercent, true, &date},
    {u"second", kPercent, true, &date},     {u"week", kPercent, true, &date},
    {u"exh", kPercent, false, &exh},        {u"reflex", kPercent, false, &reflex},
    {u"BYTE", kPercent, false, &bytes},     {u"rand", kPercent, true, &random},
    {u"strcmp", kPercent, true, &compare},  {u"formula", kBoth, false, &formula},
    {u"here", kPercent, true, &here},       {u"ti", kBackslash, false, &talkInterval},
    {u"token", kPercent, false, &token},    {u"commu", kPercent, false, &commu},
    {u"match", kPercent, false, &match},    {u"username", kPercent, false, &username},
    {u"0", kBackslash, false, &scope},      {u"1", kBackslash, false, &scope},
    {u" ", kPercent, false, &percent},
};

std::vector<MetaElementName> MetaElementTable::names() {
  std::vector<MetaElementName> out;
  for (const Row& row : kRows) {
    out.push_back({row.name, (row.kinds & kPercent) != 0, (row.kinds & kBackslash) != 0, false});
  }
  for (std::u16string_view name : kHostNames) out.push_back({name, true, true, true});
  return out;
}

const MetaElementTable::Row* MetaElementTable::findRow(const ScriptElement& element) {
  unsigned kind = 0;
  if (element.kind == u"%") kind = kPercent;
  if (element.kind == u"\\") kind = kBackslash;
  if (kind == 0) return nullptr;
  for (const Row& row : kRows) {
    if ((row.kinds & kind) != 0 && row.name == element.name) return &row;
  }
  return nullptr;
}

int MetaElementTable::dispatch(ScriptEngine& engine, const ScriptElement& element,
                                    const std::string& argumentText,
                                    const std::string& bodyText, std::uint32_t& counter,
                                    std::string& result) {
  std::string body = bodyText;
  stripEnclosing(body, '[', ']');
  Call call{engine, element, element.kind == u"\\", argumentText, bodyText, std::move(body),
            result};

  if (const Row* row = findRow(element)) {
    const int code = row->handler(call);
    if (code == 0 && row->numbered) call.variables().setVariableByNumber(counter++, result);
    return code;
  }
  if (element.kind == u"%" && element.name.starts_with(kReferenceElementPrefix)) {
    return reference(call);
  }

  const bool hostName = std::find(std::begin(kHostNames), std::end(kHostNames), element.name) !=
                        std::end(kHostNames);
  if (element.kind == u"%" || hostName ||
      (call.backslash && element.name.size() <= kHostTagNameLimit)) {
    return passThrough(call);
  }
  return 1;
}

int ScriptEngine::dispatchMeta(const ScriptElement& element, const std::string& argumentText,
                               const std::string& bodyText, std::uint32_t& counter,
                               std::string& result) {
  return MetaElementTable::dispatch(*this, element, argumentText, bodyText, counter,
                                         result);
}

// Category word: association for the body, or for the configured category of the name.
int MetaElementTable::category(Call& call) {
  ScriptEngine& e = call.engine;
  std::u16string categoryText = toWide(call.body);
  if (call.body.empty() && e.config_ != nullptr) {
    categoryText = e.config_->category(call.element.name);
  }
  if (e.queries_ == nullptr) return 1;
  std::u16string word;
  if (!e.queries_->associateCall(categoryText, word)) return 1;
  call.result = toNarrow(word);
  return 0;
}

int MetaElementTable::unify(Call& call) {
  ScriptEngine& e = call.engine;
  if (e.queries_ == nullptr) return 1;
  std::u16string word;
  if (!e.queries_->unifyCall(toWide(call.body), word, false)) return 1;
  call.result = toNarrow(word);
  return 0;
}

int MetaElementTable::date(Call& call) {
  ScriptEngine& e = call.engine;
  const std::int64_t now = e.clock_ ? e.clock_() : secondsSinceEpoch();
  const std::optional<std::tm> local = localTime(now);
  if (!local) return 1;
  auto twoDigits = [](int v) {
    std::string s = std::to_string(v);
    if (s.size() < 2) s.insert(s.begin(), '0');
    return s;
  };
  const std::u16string& name = call.element.name;
  std::string item;
  if (name == u"year") {
    item = std::to_string(local->tm_year + 1900);
  } else if (name == u"month") {
    item = twoDigits(local->tm_mon + 1);
  } else if (name == u"day") {
    item = twoDigits(local->tm_mday);
  } else if (name == u"hour") {
    item = twoDigits(local->tm_hour);
  } else if (name == u"minute") {
    item = twoDigits(local->tm_min);
  } else if (name == u"second") {
    item = twoDigits(local->tm_sec);
  } else {
    item = std::to_string(local->tm_wday);
  }
  if (call.body.empty()) {
    call.result = item;
    return 0;
  }
  if (e.queries_ == nullptr) return 1;
  std::u16string word;
  std::string argument = item;
  argument += ',';
  argument += call.body;
  if (!e.queries_->unifyCall(toWide(argument), word, true)) return 1;
  call.result = toNarrow(word);
  return 0;
}

int MetaElementTable::exh(Call& call) {
  call.result = std::to_string(call.engine.event_.exhValue);
  return 0;
}

int MetaElementTable::reflex(Call& call) {
  if (call.body.empty()) return 1;
  if (call.body == "week") {
    call.result = std::string("%week");
    return 0;
  }
  std::string value;
  if (!call.variables().getVariable(call.body, value)) {
    call.result.clear();
    return 0;
  }
  const ValueKind kind = classifyValue(value);
  if (kind == ValueKind::Number) {
    call.result = formatWithCast(parseDoublePrefix(value), castOfArguments(call.argumentText));
  } else if (kind == ValueKind::Quoted && hasInnerQuote(value)) {
    call.result = protectedQuoted(value);  // a stored outside text never runs as script
  } else {
    call.result = value;
  }
  return 0;
}

int MetaElementTable::bytes(Call& call) {
  if (call.body.empty()) return 1;
  std::uint32_t value = static_cast<std::uint32_t>(parseInt32Prefix(call.body));
  call.result.clear();
  for (int i = 0; i < 4 && (value & 0xffu) != 0; ++i, value >>= 8) {
    call.result += static_cast<char>(value & 0xffu);
  }
  return 0;
}

int MetaElementTable::reference(Call& call) {
  const auto& references = call.engine.event_.references;
  const std::string suffix = toNarrow(std::u16string_view(call.element.name).substr(3));
  // Indices read as the unsigned numbers they were in 32 bits: a negative one is past the end.
  const std::uint64_t n = static_cast<std::uint32_t>(parseInt32Prefix(suffix));
  const std::uint64_t k = static_cast<std::uint32_t>(parseInt32Prefix(call.body));
  call.result.clear();
  if (n < references.size()) {
    const auto& pieces = references[static_cast<std::size_t>(n)];
    if (!pieces.empty()) {
      call.result = k < pieces.size() ? pieces[static_cast<std::size_t>(k)] : pieces.back();
    }
  }
  const ValueKind kind = classifyValue(call.result);
  if (kind == ValueKind::Name || kind == ValueKind::Empty ||
      (kind == ValueKind::Quoted && hasInnerQuote(call.result))) {
    call.result = protectedQuoted(call.result);
  }
  return 0;
}

int MetaElementTable::random(Call& call) {
  if (call.body.empty()) return 1;
  const std::vector<std::string> items = itemsOf(call.body);
  std::string first = items.empty() ? std::string() : items.front();
  trim(first);
  // N + 1 is taken in 64 bits, so N = 4294967295 draws the whole range instead of a
  // remainder by zero.
  const std::uint64_t range = static_cast<std::uint64_t>(readUnsigned32(first)) + 1;
  const std::uint64_t drawn = call.engine.random_.next() % range;
  const std::string r = std::to_string(drawn);
  call.result = items.size() >= 2 ? addDecimalTexts(items[1], r) : r;
  return 0;
}

int MetaElementTable::compare(Call& call) {
  std::vector<std::string> items = itemsOf(call.body);
  if (items.size() != 2) return 1;
  for (std::string& item : items) {
    const ValueKind kind = classifyValue(item);
    if (kind == ValueKind::Name || kind == ValueKind::Empty) item = quoted(item);
  }
  const int order = items[0].compare(items[1]);
  call.result = order < 0 ? "-1" : (order > 0 ? "1" : "0");
  return 0;
}

int MetaElementTable::formula(Call& call) {
  ScriptEngine& e = call.engine;
  if (call.body.empty()) return 1;
  const std::vector<std::string> items = itemsOf(call.body);
  const std::string formulaText = items.empty() ? std::string() : items.front();
  std::string cast = castOfArguments(call.argumentText);
  if (cast.empty() && items.size() >= 2) {
    cast = items[1];
    trim(cast);
    trim(cast, '"');
  }
  const std::optional<std::string> answer = e.evaluateFormula(formulaText, true);
  if (e.queries_ != nullptr) {
    const long long level = call.variables().getVariableInteger("__Think_accept");
    e.queries_->acceptThinking(static_cast<int>(std::clamp<long long>(
        level, std::numeric_limits<int>::min(), std::numeric_limits<int>::max())));
  }
  if (!answer) return 2;
  if (classifyValue(*answer) == ValueKind::Number) {
    call.result = formatWithCast(parseDoublePrefix(*answer), cast);
  } else {
    call.result = *answer;
  }
  // Written with a backslash the element only computes (an assignment, say).
  if (call.backslash) call.result.clear();
  return 0;
}

int MetaElementTable::here(Call& call) {
  if (call.body.empty()) return 1;
  std::string value;
  call.variables().getVariable("__Here", value);
  call.result = std::string(value.find(call.body) != std::string::npos ? "1" : "0");
  return 0;
}

int MetaElementTable::talkInterval(Call& call) {
  ScriptEngine& e = call.engine;
  if (call.body.empty()) return 1;
  const long current = e.talkInterval();
  const std::uint32_t bits = static_cast<std::uint32_t>(current);
  std::uint32_t next = 0;
  auto evaluated = [&]() {
    const std::optional<std::string> answer = e.evaluateFormula(call.body, false);
    return answer ? truncateToInteger(parseDoublePrefix(*answer)) : 0LL;
  };
  if (call.body == "+") {
    next = (bits & (1u << 30)) != 0 ? 0 : bits * 2u;
  } else if (call.body == "-") {
    next = static_cast<std::uint32_t>(current / 2);
  } else if (call.body[0] == '+' || call.body[0] == '-') {
    const long long delta = evaluated();
    const long long sum = (delta > 0 && static_cast<long long>(current) >
                                            std::numeric_limits<long long>::max() - delta)
                              ? std::numeric_limits<long long>::max()
                              : static_cast<long long>(current) + delta;
    next = clampToUnsigned32(sum);
  } else {
    next = clampToUnsigned32(evaluated());
  }
  e.setTalkInterval(next);
  call.result.clear();
  return 0;
}

int MetaElementTable::token(Call& call) {
  if (call.body.empty()) return 1;
  std::string talk;
  const std::optional<std::string> result = call.engine.runTalk(call.body, talk, true);
  call.result = result ? *result : std::string();
  return 0;
}

int MetaElementTable::commu(Call& call) {
  ScriptEngine& e = call.engine;
  if (call.body.empty()) return 1;
  if (e.queries_ == nullptr) return 1;
  const std::deque<std::u16string>& stored = e.event_.segments;
  if (stored.empty()) {
    call.result.assign(1, '0');
    return 0;
  }
  std::string security;
  call.variables().getVariable("__Security_level", security);
  stripEnclosing(security, '"', '"');
  security = undoubleBackslashes(security);   // published with doubled backslashes
  std::deque<std::u16string> fresh;
  e.queries_->thinkNow(std::u16string(kKernelSender), toWide(security), toWide(call.body), fresh);
  const int phase = e.queries_->acceptThinking(kThinkReady);
  call.variables().setVariableUnsigned("__Think_accept", static_cast<std::uint32_t>(phase));
  call.variables().setVariableUnsigned("__Think_state",
                                       static_cast<std::uint32_t>(e.queries_->thinkResult()));

  std::u16string storedJoined;
  for (const std::u16string& segment : stored) storedJoined += segment + u" ";
  std::u16string freshJoined;
  std::size_t found = 0;
  for (const std::u16string& segment : fresh) {
    freshJoined += segment + u" ";
    if (storedJoined.find(segment) != std::u16string::npos) ++found;
  }
  call.result = fresh.empty() ? "0" : std::to_string(found * 100 / fresh.size());

  if (e.runLevel_.logsFormulas()) {
    LogSink& log = e.log_;
    std::string accept;
    std::string state;
    call.variables().getVariable("__Think_accept", accept);
    call.variables().getVariable("__Think_state", state);
    log.newline();
    log.write("expression automatic segmentation result: ");
    log.newline();
    log.writeWide(freshJoined);
    log.newline();
    log.newline();
    log.write("__Think_accept: ");
    log.write(accept);
    log.newline();
    log.write("__Think_state: ");
    log.write(state);
    log.newline();
    log.newline();
    log.write("%commu checking: ");
    log.writeWide(storedJoined);
    log.write("/ ");
    log.writeWide(freshJoined);
    log.write("= ");
    log.write(call.result);
    log.write("%");
    log.newline();
    log.newline();
  }
  return 0;
}

int MetaElementTable::match(Call& call) {
  if (call.body.empty()) return 1;
  std::string value;
  call.variables().getVariable("__Sentence", value);
  call.result = std::string(value.find(call.body) != std::string::npos ? "1" : "0");
  return 0;
}

int MetaElementTable::username(Call& call) {
  std::string value;
  if (call.variables().getVariable("__Username", value)) {
    call.result = value;
  } else {
    // Unknown here: handed on for the host to replace.
    call.result = quoted(toNarrow(call.element.text));
  }
  call.result += call.argumentText;
  return 0;
}

// Scope and surface: the scope tag only when the scope changes within the talk.
int MetaElementTable::scope(Call& call) {
  std::string& remembered = call.engine.event_.rememberedScope;
  const std::string name = toNarrow(call.element.name);
  std::string tag;
  if (call.body.empty() || name != remembered) {
    tag += '\\';
    tag += name;
  }
  if (!call.body.empty()) {
    tag += "\\s[";
    tag += call.body;
    tag += ']';
  }
  remembered = name;
  call.result = quoted(tag);
  return 0;
}

int MetaElementTable::percent(Call& call) {
  call.result.assign(1, '%');
  call.result += call.argumentText;
  call.result += call.bodyText;
  return 0;
}

int MetaElementTable::passThrough(Call& call) {
  call.result = quoted(toNarrow(call.element.kind + call.element.name) + call.argumentText +
                       call.bodyText);
  return 0;
}

}  // namespace zelka