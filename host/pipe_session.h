// The pipe mode of zelka-host: raw protocol text on the input, one request per block of
// lines ended by an empty line (CR LF or LF line ends), each sent to the module with CR LF
// line ends; every response is written to the output exactly as the module returned it.
#pragma once

#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string>

namespace zelka::host {

// Reads up to the first line that is not blank (its CR removed); false at the end of the
// input without one.
bool readFirstLine(std::istream& in, std::string& line);
// A protocol request line: the command, a blank and a version such as SHIORI/2.2 ending it.
bool looksLikeRequestLine(const std::string& line);

// The input again with a line already read put back in front of the rest; the rest is read
// one character at a time, so a request is served as soon as its empty line has come.
class PrefixedInput {
 public:
  PrefixedInput(const std::string& firstLine, std::istream& rest);
  std::istream& stream() { return stream_; }

 private:
  class Buffer : public std::streambuf {
   public:
    Buffer(std::string prefix, std::streambuf* rest);

   protected:
    int_type underflow() override;

   private:
    std::string prefix_;
    std::streambuf* rest_;
    bool prefixGiven_ = false;
    char current_ = 0;
  };
  Buffer buffer_;
  std::istream stream_;
};

// Reads the next request from the input: lines up to an empty line (empty lines before the
// first line are skipped) joined with CR LF and ended with an empty line. nullopt at the end
// of the input when no line was pending.
std::optional<std::string> readRequest(std::istream& in);

using RequestSender = std::function<std::optional<std::string>(const std::string&)>;

// Sends every request of the input and writes the responses; answers the number of requests.
int runPipeSession(std::istream& in, std::ostream& out, std::ostream& err,
                   const RequestSender& send);

}  // namespace zelka::host
