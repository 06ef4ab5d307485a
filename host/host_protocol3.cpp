#include "host_protocol3.h"

#include <algorithm>

#include "platform/text_codec.h"

namespace zelka::host {

namespace {

struct Request2 {
  std::string command;
  std::vector<std::pair<std::string, std::string>> headers;

  std::string get(std::string_view key) const {
    for (const auto& [k, v] : headers) {
      if (k == key) return v;
    }
    return {};
  }
};

Request2 parseRequest2(std::string_view text) {
  Request2 request;
  std::size_t at = 0;
  bool first = true;
  while (at < text.size()) {
    std::size_t end = text.find("\r\n", at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 2;
    if (line.empty()) break;
    if (first) {
      first = false;
      request.command = std::string(line.substr(0, line.rfind(' ')));
      continue;
    }
    const std::size_t colon = line.find(": ");
    if (colon == std::string_view::npos) continue;
    request.headers.emplace_back(std::string(line.substr(0, colon)),
                                 std::string(line.substr(colon + 2)));
  }
  return request;
}

void addLine(std::string& out, std::string_view key, std::string_view narrowValue) {
  out.append(key);
  out.append(": ");
  appendNarrowAsUtf8(narrowValue, out);
  out.append("\r\n");
}

}  // namespace

std::optional<std::string> toShiori3Request(std::string_view request2) {
  const Request2 source = parseRequest2(request2);
  std::string method = "GET";
  std::string body;
  if (source.command == "GET Sentence") {
    const std::string event = source.get("Event");
    if (!event.empty()) {
      addLine(body, "ID", event);
      for (std::size_t n = 0; n < kMaxReferences; ++n) {
        const std::string key = "Reference" + std::to_string(n);
        const std::string value = source.get(key);
        if (!value.empty()) addLine(body, key, value);
      }
    } else {
      // No Age: the module then counts as for a 2.x sentence without one.
      addLine(body, "ID", "OnCommunicate");
      addLine(body, "Reference0", source.get("Sender"));
      addLine(body, "Reference1", source.get("Sentence"));
    }
  } else if (source.command == "GET String") {
    addLine(body, "ID", source.get("ID"));
  } else if (source.command == "NOTIFY OwnerGhostName") {
    method = "NOTIFY";
    addLine(body, "ID", "ownerghostname");
    addLine(body, "Reference0", source.get("Ghost"));
  } else {
    return std::nullopt;
  }
  return method + " SHIORI/3.0\r\nCharset: UTF-8\r\nSender: " + std::string(kHostSender) +
         "\r\nSecurityLevel: local\r\n" + body + "\r\n";
}

HostResponse fromShiori3Response(std::string_view request3, std::string_view text) {
  HostResponse response = parseResponse(text);
  const bool utf8 = response.header("Charset") == std::optional<std::string>("UTF-8");
  // Events answer talk; resource names (lower-case IDs) answer a string.
  const std::size_t id = request3.find("\r\nID: ");
  const bool resource = id != std::string_view::npos && id + 6 < request3.size() &&
                        request3[id + 6] >= 'a' && request3[id + 6] <= 'z';
  for (auto& [key, value] : response.headers) {
    if (utf8) {
      std::string narrow;
      if (appendUtf8AsNarrow(value, narrow)) value = std::move(narrow);
    }
    if (key == "Value") key = resource ? "String" : "Sentence";
    if (key == "Reference0") key = "To";
  }
  return response;
}

std::string withForeignCharacters(std::string_view utf8) {
  // Through narrow text and back: the characters without a narrow form were references
  // already and come out as themselves, everything else is unchanged.
  std::string narrow;
  if (!appendUtf8AsNarrow(utf8, narrow)) return std::string(utf8);
  std::string out;
  appendNarrowAsUtf8(narrow, out);
  return out;
}

std::vector<std::pair<std::string, std::string>> answerProblems(std::string_view text) {
  const HostResponse response = parseResponse(text);
  const bool utf8 = response.header("Charset") == std::optional<std::string>("UTF-8");
  auto split = [](const std::string& list) {
    std::vector<std::string> items;
    if (list.empty()) return items;
    std::size_t at = 0;
    for (;;) {
      const std::size_t end = list.find('\x01', at);
      items.push_back(list.substr(at, end == std::string::npos ? std::string::npos : end - at));
      if (end == std::string::npos) return items;
      at = end + 1;
    }
  };
  const std::vector<std::string> levels = split(response.header("ErrorLevel").value_or(""));
  const std::vector<std::string> descriptions =
      split(response.header("ErrorDescription").value_or(""));
  std::vector<std::pair<std::string, std::string>> problems;
  for (std::size_t n = 0; n < std::max(levels.size(), descriptions.size()); ++n) {
    std::string description = n < descriptions.size() ? descriptions[n] : std::string();
    if (!utf8) {
      std::string converted;
      appendNarrowAsUtf8(description, converted);
      description = std::move(converted);
    }
    problems.emplace_back(n < levels.size() ? levels[n] : std::string("error"),
                          std::move(description));
  }
  return problems;
}

}  // namespace zelka::host
