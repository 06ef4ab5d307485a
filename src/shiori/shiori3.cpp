#include "shiori/shiori3.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <initializer_list>
#include <iterator>
#include <optional>

#include "platform/text_codec.h"

namespace zelka {

namespace {

constexpr std::string_view kCommandKey = "sstp_command:";
constexpr std::string_view kTypeKey = "sstp_type:";
constexpr std::string_view kStatusKey = "sstp_status:";
constexpr std::string_view kReferencePrefix = "Reference";
constexpr std::string_view kCrLf = "\r\n";

// Request headers that only 2.x requests carry: a 3.0 request with one of them mixes the two
// protocols, and which one it means cannot be told.
constexpr std::array<std::string_view, 8> kTwoOnlyHeaders = {
    "Event:", "Sentence:", "Ghost:", "GhostEx:", "Type:", "Word:", "Surface:", "To:"};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The charset a request names; false for one this module does not read.
bool readCharset(std::string_view name, Shiori3Charset& charset) {
  static constexpr std::string_view kShiftJisNames[] = {"Shift_JIS", "SJIS", "CP932",
                                                        "Windows-31J", "MS932", "x-sjis"};
  // An absent Charset is taken for the module's own.
  if (name.empty()) {
    charset = Shiori3Charset::kShiftJis;
    return true;
  }
  if (equalsIgnoringCase(name, "UTF-8")) {
    charset = Shiori3Charset::kUtf8;
    return true;
  }
  for (std::string_view known : kShiftJisNames) {
    if (equalsIgnoringCase(name, known)) {
      charset = Shiori3Charset::kShiftJis;
      return true;
    }
  }
  return false;
}

// The number of a "Reference<digits>:" key; false for any other key.
bool referenceNumber(std::string_view key, unsigned& number) {
  if (key.size() < kReferencePrefix.size() + 2 || key.substr(0, kReferencePrefix.size()) != kReferencePrefix ||
      key.back() != ':') {
    return false;
  }
  std::string_view digits = key.substr(kReferencePrefix.size(), key.size() - kReferencePrefix.size() - 1);
  if (digits.size() > 6) return false;
  unsigned value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  number = value;
  return true;
}

// Writes "Reference<n>:" into key (whose storage is reused).
void setReferenceKey(std::string& key, unsigned number) {
  char digits[12];
  char* end = std::to_chars(digits, digits + sizeof digits, number).ptr;
  key.assign(kReferencePrefix);
  key.append(digits, end);
  key += ':';
}

// Takes every reference entry out of the list, ordered by number (the list orders keys by
// bytes, which puts Reference10 before Reference2).
void takeReferences(ShioriMessage& message, Shiori3Scratch& scratch) {
  scratch.references.clear();
  ByteMultimap& entries = message.entries();
  auto it = entries.lower_bound(kReferencePrefix);
  while (it != entries.end() && it->first.compare(0, kReferencePrefix.size(), kReferencePrefix) == 0) {
    unsigned number = 0;
    auto next = std::next(it);
    if (referenceNumber(it->first, number)) scratch.references.emplace_back(number, entries.extract(it));
    it = next;
  }
  std::stable_sort(scratch.references.begin(), scratch.references.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
}

// Puts the taken references back: those numbered below `shift` under the keys given for them
// (in order), the others renumbered `shift` lower.
void restoreReferences(ShioriMessage& message, Shiori3Scratch& scratch, unsigned shift,
                       std::initializer_list<std::string_view> leadingKeys) {
  ByteMultimap& entries = message.entries();
  for (auto& [number, node] : scratch.references) {
    if (number < shift) {
      node.key().assign(*(leadingKeys.begin() + number));
    } else {
      setReferenceKey(node.key(), number - shift);
    }
    entries.insert(std::move(node));
  }
  scratch.references.clear();
}

void eraseAll(ShioriMessage& message, std::string_view key) {
  while (message.erase(key)) {
  }
}

// Sets the request line of the 2.x request (the values keep their storage).
void setRequestLine(ShioriMessage& message, std::string_view command, std::string_view version) {
  ByteMultimap& entries = message.entries();
  if (auto it = entries.find(kCommandKey); it != entries.end()) it->second.assign(command);
  if (auto it = entries.find(kTypeKey); it != entries.end()) it->second.assign(version);
}

Shiori3Request refuse(Shiori3Request request, std::string_view reason) {
  request.refusal = 400;
  request.refusalReason = reason;
  return request;
}

bool startsWithLowerCase(std::string_view id) { return !id.empty() && id[0] >= 'a' && id[0] <= 'z'; }

// Appends a header value in the answer's charset; CR and LF are dropped so that a value can
// never end its line early.
void appendValue(std::string& out, std::string_view value, Shiori3Charset charset) {
  const std::size_t start = out.size();
  if (charset == Shiori3Charset::kUtf8) {
    appendNarrowAsUtf8(value, out);
  } else {
    out.append(value);
  }
  out.erase(std::remove_if(out.begin() + static_cast<std::ptrdiff_t>(start), out.end(),
                           [](char c) { return c == '\r' || c == '\n'; }),
            out.end());
}

void appendHeader(std::string& out, std::string_view key, std::string_view value,
                  Shiori3Charset charset) {
  out.append(key);  // with its colon
  out += ' ';
  appendValue(out, value, charset);
  out.append(kCrLf);
}

// A problem's text as one item of the ErrorDescription list: the byte 0x01 separates items.
void appendDescription(std::string& out, const Problem& problem, Shiori3Charset charset) {
  const std::size_t start = out.size();
  if (!problem.where.empty()) {
    appendValue(out, problem.where, charset);
    out += ": ";
  }
  appendValue(out, problem.message, charset);
  std::replace(out.begin() + static_cast<std::ptrdiff_t>(start), out.end(), '\x01', ' ');
}

}  // namespace

bool isShiori3Request(const ShioriMessage& message) {
  return message.view(kTypeKey) == kShiori3Version;
}

std::string_view shiori3StatusText(std::string_view status2) {
  if (status2.substr(0, 3) == "501") return "204 No Content";
  if (status2.empty()) return "500 Internal Server Error";
  return status2;
}

Shiori3Request mapShiori3Request(ShioriMessage& message, std::string_view ownerGhostName,
                                 Shiori3Scratch& scratch) {
  Shiori3Request request;
  if (!readCharset(message.view("Charset:"), request.charset)) {
    return refuse(request, "the request names a charset this module does not read");
  }
  const std::string_view method = message.view(kCommandKey);
  if (method != "GET" && method != "NOTIFY") {
    return refuse(request, "a SHIORI/3.0 request is GET or NOTIFY");
  }
  for (std::string_view key : kTwoOnlyHeaders) {
    if (message.count(key) != 0) {
      return refuse(request, "the request mixes SHIORI/2.x headers into a SHIORI/3.0 request");
    }
  }
  std::size_t references = 0;
  for (auto it = message.entries().lower_bound(kReferencePrefix);
       it != message.entries().end() &&
       it->first.compare(0, kReferencePrefix.size(), kReferencePrefix) == 0;
       ++it) {
    if (++references > kMaxShiori3References) {
      return refuse(request, "the request carries more references than any event has");
    }
  }
  if (!message.has("ID:")) return refuse(request, "the request has no ID");

  if (request.charset == Shiori3Charset::kUtf8) {
    // Keys are only checked (the module reads ASCII keys); values are converted in place.
    for (auto& [key, value] : message.entries()) {
      scratch.text.clear();
      if (!appendUtf8AsNarrow(key, scratch.text)) {
        return refuse(request, "the request is not valid UTF-8");
      }
      scratch.text.clear();
      if (!appendUtf8AsNarrow(value, scratch.text)) {
        return refuse(request, "the request is not valid UTF-8");
      }
      value.assign(scratch.text);
    }
  }

  const std::string id(message.view("ID:"));
  if (id == "version") {
    setRequestLine(message, "GET Version", "SHIORI/2.0");
    request.valueKey = "Sentence:";
  } else if (id == "ownerghostname") {
    setRequestLine(message, "NOTIFY OwnerGhostName", "SHIORI/2.3");
    message.rekey("Reference0:", "Ghost:");
  } else if (id == "otherghostname") {
    setRequestLine(message, "NOTIFY OtherGhostName", "SHIORI/2.3");
    // The 2.x handler collects the names only for a request that names the own ghost.
    message.set("Ghost:", ownerGhostName.empty() ? std::string_view("Zelka") : ownerGhostName);
    takeReferences(message, scratch);
    for (auto& entry : scratch.references) {
      entry.second.key().assign("GhostEx:");
      message.entries().insert(std::move(entry.second));
    }
    scratch.references.clear();
  } else if (method == "NOTIFY" && startsWithLowerCase(id)) {
    request.nothingToRun = true;
  } else if (id == "OnCommunicate") {
    setRequestLine(message, "GET Sentence", "SHIORI/2.3");
    // The speaker comes from the first reference, not from the host's own Sender line.
    eraseAll(message, "Sender:");
    takeReferences(message, scratch);
    restoreReferences(message, scratch, 2, {"Sender:", "Sentence:"});
  } else if (id == "OnTeach") {
    setRequestLine(message, "TEACH", "SHIORI/2.4");
    takeReferences(message, scratch);
    restoreReferences(message, scratch, 1, {"Word:"});
  } else if (id == "OnTranslate") {
    setRequestLine(message, "TRANSLATE Sentence", "SHIORI/2.6");
  } else if (startsWithLowerCase(id)) {
    setRequestLine(message, "GET String", "SHIORI/2.5");
    request.valueKey = "String:";
  } else {
    setRequestLine(message, "GET Sentence", "SHIORI/2.2");
    message.rekey("ID:", "Event:");
  }
  return request;
}

void renderShiori3Response(const ShioriMessage& response, const Shiori3Request& request,
                           std::string_view sender, ProblemList& problems, std::string& out) {
  const Shiori3Charset charset = request.charset;
  out.append(kShiori3Version);
  out += ' ';
  out.append(shiori3StatusText(response.view(kStatusKey)));
  out.append(kCrLf);

  if (std::string_view value = response.view(request.valueKey); !value.empty()) {
    appendHeader(out, "Value:", value, charset);
  }
  if (std::string_view to = response.view("To:"); !to.empty()) {
    appendHeader(out, "Reference0:", to, charset);
  }
  for (const auto& [key, value] : response.entries()) {
    if (value.empty() || key.compare(0, 5, "sstp_") == 0 || key == request.valueKey ||
        key == "To:" || key == "Charset:" || key == "Sender:") {
      continue;
    }
    unsigned number = 0;
    if (referenceNumber(key, number)) {
      // A response's own references move up by one, behind To.
      out.append(kReferencePrefix);
      out.append(std::to_string(number + 1));
      out += ':';
      out += ' ';
      appendValue(out, value, charset);
      out.append(kCrLf);
      continue;
    }
    appendHeader(out, key, value, charset);
  }
  out.append(charset == Shiori3Charset::kUtf8 ? "Charset: UTF-8\r\n" : "Charset: Shift_JIS\r\n");
  appendHeader(out, "Sender:", sender, charset);

  // Every pending problem once, oldest first: ErrorLevel lists the levels and
  // ErrorDescription the descriptions, each separated by the byte 0x01, item for item.
  std::string levels;
  std::string descriptions;
  std::size_t told = 0;
  while (std::optional<Problem> problem = problems.take()) {
    if (told++ != 0) {
      levels += '\x01';
      descriptions += '\x01';
    }
    levels += severityName(problem->severity);
    appendDescription(descriptions, *problem, charset);
  }
  if (!request.refusalReason.empty()) {
    if (told++ != 0) {
      levels += '\x01';
      descriptions += '\x01';
    }
    levels += "error";
    descriptions.append(request.refusalReason);
  }
  if (told != 0) {
    out.append("ErrorLevel: ");
    out.append(levels);
    out.append(kCrLf);
    out.append("ErrorDescription: ");
    out.append(descriptions);
    out.append(kCrLf);
  }
  out.append(kCrLf);
}

}  // namespace zelka
