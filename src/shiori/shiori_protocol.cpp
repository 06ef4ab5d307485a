#include "shiori/shiori_protocol.h"

#include <string>

namespace zelka {

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kCommandKey = "sstp_command:";
constexpr std::string_view kTypeKey = "sstp_type:";
constexpr std::string_view kStatusKey = "sstp_status:";

// A value that brings line ends is expanded again; each such round consumes a header entry,
// so the depth is bounded by the header list, and this bound holds even for a hostile list.
constexpr int kMaxExpansionDepth = 32;

}  // namespace

std::string ShioriProtocol::expandSoh(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '\x01') {
      out += kCrLf;
    } else {
      out += c;
    }
  }
  return out;
}

std::vector<std::string_view> ShioriProtocol::splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find(kCrLf, pos);
    if (end == std::string_view::npos || end == pos) break;
    lines.push_back(text.substr(pos, end - pos));
    pos = end + kCrLf.size();
  }
  return lines;
}

bool ShioriProtocol::parse(std::optional<std::string_view> text) {
  message_.clear();
  if (!text) return false;
  if (text->empty()) return false;
  std::string copy = expandSoh(*text);
  copy += "\r\n\r\n";

  bool commandSeen = false;
  for (std::string_view line : splitLines(copy)) {
    if (!commandSeen) {
      std::size_t space = line.rfind(' ');
      if (space != std::string_view::npos) {
        message_.set(kCommandKey, line.substr(0, space));
        message_.set(kTypeKey, line.substr(space + 1));
        commandSeen = true;
        continue;
      }
    }
    std::size_t separator = line.find(": ");
    if (separator == std::string_view::npos) continue;
    message_.set(line.substr(0, separator + 1), line.substr(separator + 2));
  }
  return commandSeen;
}

bool ShioriProtocol::load(std::optional<std::string_view> directory) {
  if (!directory) return false;
  directory_ = std::string(*directory);
  templates_.fill();
  return true;
}

bool ShioriProtocol::setStatus(int code) {
  if (code == 0) return false;
  std::string key = "sstp_status" + std::to_string(code);
  std::optional<std::string> text = templates_.select(key, message_);
  if (!text) return false;
  return message_.set(kStatusKey, *text);
}

std::optional<std::string> ShioriProtocol::responseKey() const {
  std::string_view command = message_.view(kCommandKey);
  std::string_view type = message_.view(kTypeKey);
  if (command.empty() || type.empty()) return std::nullopt;
  std::string key;
  key.reserve(command.size() + 1 + type.size());
  key += command;
  key += ' ';
  key += type;
  return key;
}

std::optional<std::string> ShioriProtocol::expandLine(std::string_view line, int depth) {
  if (line.empty()) return std::nullopt;
  std::string text(line);
  std::size_t pos = 0;
  while (true) {
    std::size_t percent = text.find('%', pos);
    if (percent == std::string::npos) break;
    std::size_t colon = text.find(':', percent);
    if (colon == std::string::npos || colon == percent + 1) break;
    std::string name = text.substr(percent + 1, colon - percent);
    std::optional<std::string> value = message_.get(name);
    if (!value) return std::nullopt;
    text.replace(percent, colon - percent + 1, *value);
    message_.erase(name);
    pos = percent + value->size();
  }

  std::vector<std::string_view> pieces = splitLines(text);
  if (!pieces.empty() && depth < kMaxExpansionDepth) {
    std::string result;
    for (std::string_view piece : pieces) {
      std::optional<std::string> expanded = expandLine(piece, depth + 1);
      if (!expanded) break;
      result += *expanded;
    }
    if (result.empty()) return std::nullopt;
    return result;
  }
  if (!pieces.empty()) {
    // Past the depth bound the pieces are emitted as they stand.
    std::string result;
    for (std::string_view piece : pieces) {
      result += piece;
      result += kCrLf;
    }
    return result;
  }
  text += kCrLf;
  return text;
}

std::optional<std::string> ShioriProtocol::render() {
  std::optional<std::string> key = responseKey();
  if (!key) return std::nullopt;
  std::optional<std::string> selected = templates_.select(*key, message_);
  if (!selected || selected->empty()) return std::nullopt;
  std::string source = expandSoh(*selected);

  std::string result;
  for (std::string_view line : splitLines(source)) {
    if (std::optional<std::string> expanded = expandLine(line)) result += *expanded;
  }
  if (result.empty()) return std::nullopt;
  result += kCrLf;
  return result;
}

}  // namespace zelka
