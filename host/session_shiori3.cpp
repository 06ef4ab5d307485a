// The session speaking SHIORI/3.0 (--protocol 3.0): requests go out in UTF-8 as a 3.0 host
// sends them, answers are read back for display, and the problems an answer reports in its
// ErrorLevel / ErrorDescription headers are shown after it.
#include "host_protocol3.h"
#include "platform/text_codec.h"
#include "session.h"
#include "terminal_text.h"

namespace zelka::host {

std::optional<HostResponse> Session::exchange3(const std::string& request) {
  // Requests without a 3.0 form (GET Word) go as they are.
  const std::string request3 = toShiori3Request(request).value_or(request);
  std::optional<std::string> text = send_(request3);
  if (!text) {
    note("(the module returned no response)");
    return std::nullopt;
  }
  if (options_.raw) out_ << *text << std::flush;
  showAnswerProblems(*text);
  return fromShiori3Response(request3, *text);
}

void Session::showAnswerProblems(const std::string& answer) {
  if (options_.raw) return;
  for (const auto& [level, description] : answerProblems(answer)) {
    note("(" + level + ": " + utf8ForDisplay(description) + ")");
  }
}

bool Session::toNarrowForShiori3(const std::string& utf8, std::string& narrow) {
  for (unsigned char c : utf8) {
    if ((c < 0x20 && c != '\t') || c == 0x7F) return false;
  }
  narrow.clear();
  return appendUtf8AsNarrow(utf8, narrow);
}

}  // namespace zelka::host
