#include "host_protocol.h"

#include <cstdlib>

namespace zelka::host {

namespace {

std::string line(std::string_view key, std::string_view value) {
  return std::string(key) + ": " + std::string(value) + "\r\n";
}

std::string finish(std::string request) {
  request += line("Charset", "Shift_JIS");
  request += "\r\n";
  return request;
}

}  // namespace

std::string sentenceRequest(std::string_view sender, std::string_view sentence) {
  return finish("GET Sentence SHIORI/2.2\r\n" + line("Sender", sender) +
                line("Sentence", sentence) + line("SecurityLevel", "local"));
}

std::string eventRequest(std::string_view event, const std::vector<std::string>& references) {
  std::string request = "GET Sentence SHIORI/2.2\r\n" + line("Sender", kHostSender) +
                        line("Event", event);
  for (std::size_t n = 0; n < references.size() && n < kMaxReferences; ++n) {
    request += line("Reference" + std::to_string(n), references[n]);
  }
  request += line("SecurityLevel", "local");
  return finish(std::move(request));
}

std::string thinkStateRequest() {
  return finish("GET Think SHIORI/2.0\r\n" + line("Sender", kHostSender));
}

std::string wordRequest(std::string_view script) {
  return finish("GET Word SHIORI/2.0\r\n" + line("Sender", kHostSender) + line("Type", script));
}

std::string stringRequest(std::string_view id) {
  return finish("GET String SHIORI/2.5\r\n" + line("Sender", kHostSender) + line("ID", id));
}

std::string ownerGhostNameRequest(std::string_view ghost) {
  return finish("NOTIFY OwnerGhostName SHIORI/2.3\r\n" + line("Sender", kHostSender) +
                line("Ghost", ghost));
}

std::optional<std::string> HostResponse::header(std::string_view key) const {
  for (const auto& [k, v] : headers) {
    if (k == key) return v;
  }
  return std::nullopt;
}

HostResponse parseResponse(std::string_view text) {
  HostResponse response;
  bool first = true;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view current = text.substr(at, end - at);
    at = end + 1;
    if (!current.empty() && current.back() == '\r') current.remove_suffix(1);
    if (first) {
      first = false;
      const std::size_t space = current.find(' ');
      response.version = std::string(current.substr(0, space));
      if (space != std::string_view::npos) {
        response.statusText = std::string(current.substr(space + 1));
        response.code = std::atoi(response.statusText.c_str());
      }
      continue;
    }
    if (current.empty()) break;
    const std::size_t colon = current.find(": ");
    if (colon == std::string_view::npos) continue;
    response.headers.emplace_back(std::string(current.substr(0, colon)),
                                  std::string(current.substr(colon + 2)));
  }
  return response;
}

}  // namespace zelka::host
