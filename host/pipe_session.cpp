#include "pipe_session.h"

namespace zelka::host {

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
