#include "pipe_session.h"

namespace zelka::host {

bool readFirstLine(std::istream& in, std::string& line) {
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") != std::string::npos) return true;
  }
  line.clear();
  return false;
}

bool looksLikeRequestLine(const std::string& line) {
  const std::size_t blank = line.rfind(' ');
  if (blank == std::string::npos || blank == 0) return false;
  const std::string_view version = std::string_view(line).substr(blank + 1);
  constexpr std::string_view kProtocol = "SHIORI/";
  if (!version.starts_with(kProtocol) || version.size() == kProtocol.size()) return false;
  return version.substr(kProtocol.size()).find_first_not_of("0123456789.") ==
         std::string_view::npos;
}

PrefixedInput::Buffer::Buffer(std::string prefix, std::streambuf* rest)
    : prefix_(std::move(prefix)), rest_(rest) {}

PrefixedInput::Buffer::int_type PrefixedInput::Buffer::underflow() {
  if (!prefixGiven_) {
    prefixGiven_ = true;
    if (!prefix_.empty()) {
      setg(prefix_.data(), prefix_.data(), prefix_.data() + prefix_.size());
      return traits_type::to_int_type(prefix_[0]);
    }
  }
  const int_type next = rest_->sbumpc();
  if (traits_type::eq_int_type(next, traits_type::eof())) return traits_type::eof();
  current_ = traits_type::to_char_type(next);
  setg(&current_, &current_, &current_ + 1);
  return next;
}

PrefixedInput::PrefixedInput(const std::string& firstLine, std::istream& rest)
    : buffer_(firstLine.empty() ? std::string() : firstLine + "\n", rest.rdbuf()),
      stream_(&buffer_) {}

std::optional<std::string> readRequest(std::istream& in) {
  std::string request;
  bool pending = false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) {
      if (pending) break;
      continue;
    }
    request += line;
    request += "\r\n";
    pending = true;
  }
  if (!pending) return std::nullopt;
  request += "\r\n";
  return request;
}

int runPipeSession(std::istream& in, std::ostream& out, std::ostream& err,
                   const RequestSender& send) {
  int count = 0;
  while (std::optional<std::string> request = readRequest(in)) {
    ++count;
    std::optional<std::string> response = send(*request);
    if (response) {
      out << *response;
    } else {
      err << "zelka-host: no response to request " << count << "\n";
    }
    out.flush();
  }
  return count;
}

}  // namespace zelka::host
