// zelka-host speaking SHIORI/3.0: the 2.x requests the session builds (host_protocol.h)
// restated as the 3.0 requests a 3.0 host sends, in UTF-8, and the module's 3.0 answers read
// back into the 2.x shape the session shows (talk under Sentence, a string under String, the
// recipient under To, texts in Shift_JIS with the module's character references).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host_protocol.h"

namespace zelka::host {

// The 3.0 request for a 2.x request built by host_protocol.h: events and heard sentences
// (OnCommunicate), resource strings and the owner ghost name. Requests with no 3.0 form
// (GET Word) are answered nullopt and go as they are.
std::optional<std::string> toShiori3Request(std::string_view request2);

// Reads a 3.0 answer to the request `request3` as the session reads a 2.x answer.
HostResponse fromShiori3Response(std::string_view request3, std::string_view text);

// Display text (UTF-8) with the references of characters that have no Shift_JIS form turned
// back into the characters, as a 3.0 host shows them; text that is not UTF-8 stays as it is.
std::string withForeignCharacters(std::string_view utf8);

// The problems an answer reports (ErrorLevel / ErrorDescription, item by item), as UTF-8.
std::vector<std::pair<std::string, std::string>> answerProblems(std::string_view text);

}  // namespace zelka::host
