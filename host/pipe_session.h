// The pipe mode of zelka-host: raw protocol text on the input, one request per block of
// lines ended by an empty line (CR LF or LF line ends), each sent to the module with CR LF
// line ends; every response is written to the output exactly as the module returned it.
#pragma once

#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>

namespace zelka::host {

// Reads the next request from the input: lines up to an empty line (empty lines before the
// first line are skipped) joined with CR LF and ended with an empty line. nullopt at the end
// of the input when no line was pending.
std::optional<std::string> readRequest(std::istream& in);

using RequestSender = std::function<std::optional<std::string>(const std::string&)>;

// Sends every request of the input and writes the responses; answers the number of requests.
int runPipeSession(std::istream& in, std::ostream& out, std::ostream& err,
                   const RequestSender& send);

}  // namespace zelka::host
