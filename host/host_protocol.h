// The requests zelka-host sends (built as Shift_JIS protocol text with CR LF line ends) and
// the reading of the module's responses.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zelka::host {

// The name the host signs its own requests (events, words, strings) with; the module does
// not address its answers to it.
inline constexpr std::string_view kHostSender = "SSP";

// A sentence heard from another character: GET Sentence SHIORI/2.2 with Sender, Sentence and
// SecurityLevel.
std::string sentenceRequest(std::string_view sender, std::string_view sentence);
// An event: GET Sentence SHIORI/2.2 with Event and Reference0.. (at most eight references).
std::string eventRequest(std::string_view event, const std::vector<std::string>& references);
// GET Word SHIORI/2.0 with Type: the script to run.
std::string wordRequest(std::string_view script);
// GET String SHIORI/2.5 with ID.
std::string stringRequest(std::string_view id);
// NOTIFY OwnerGhostName SHIORI/2.3 with Ghost.
std::string ownerGhostNameRequest(std::string_view ghost);
// GET Think SHIORI/2.0, the module's own request: is a think pass running?
std::string thinkStateRequest();

inline constexpr std::size_t kMaxReferences = 8;

struct HostResponse {
  std::string version;     // "SHIORI/2.6"
  int code = 0;            // 200, 204, ...; 0 when the status line has none
  std::string statusText;  // "200 OK"
  std::vector<std::pair<std::string, std::string>> headers;  // key without the colon

  // The first header with the key; nullopt when absent.
  std::optional<std::string> header(std::string_view key) const;
};

// Reads a response: the status line, then "Key: value" lines up to the empty line.
HostResponse parseResponse(std::string_view text);

}  // namespace zelka::host
