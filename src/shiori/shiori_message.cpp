#include "shiori/shiori_message.h"

namespace zelka {

std::optional<std::string> ShioriMessage::get(std::string_view key) const {
  std::string_view value = view(key);
  if (value.empty()) return std::nullopt;
  return std::string(value);
}

std::string_view ShioriMessage::view(std::string_view key) const {
  auto it = entries_.lower_bound(key);
  if (it == entries_.end() || it->first != key) return {};
  return it->second;
}

bool ShioriMessage::set(std::optional<std::string_view> key,
                        std::optional<std::string_view> value) {
  if (!key || !value) return false;
  // A multimap insert places the new entry after the existing entries of an equal key.
  entries_.emplace(std::string(*key), std::string(*value));
  return true;
}

bool ShioriMessage::erase(std::string_view key) {
  auto it = entries_.lower_bound(key);
  if (it == entries_.end() || it->first != key) return false;
  entries_.erase(it);
  return true;
}

bool ShioriMessage::rekey(std::string_view from, std::string_view to) {
  auto it = entries_.lower_bound(from);
  if (it == entries_.end() || it->first != from) return false;
  ByteMultimap::node_type node = entries_.extract(it);
  node.key().assign(to);
  // A node goes in after the entries of an equal key, as set() places a new entry.
  entries_.insert(std::move(node));
  return true;
}

const std::string_view TemplateTable::kResponseTemplate =
    "%sstp_type: %sstp_status:\r\n"
    "Locale: %Locale:\r\n"
    "Language: %Language:\r\n"
    "String: %String:\r\n"
    "Sender: %Sender:\r\n"
    "To: %To:\r\n"
    "Age: %Age:\r\n"
    "Sentence: %Sentence:\r\n"
    "Word: %Word:\r\n"
    "Status: %Status:\r\n"
    "Charset: %Charset:\r\n";

void TemplateTable::fill() {
  static constexpr std::pair<std::string_view, std::string_view> kStatusTexts[] = {
      {"sstp_status200", "200 OK"},
      {"sstp_status204", "204 No Content"},
      {"sstp_status210", "210 Break"},
      {"sstp_status310", "310 Communicate"},
      {"sstp_status311", "311 Not Enough"},
      {"sstp_status312", "312 Advice"},
      {"sstp_status400", "400 Bad Request"},
      {"sstp_status408", "408 Request Timeout"},
      {"sstp_status409", "409 Conflict"},
      {"sstp_status420", "420 Refuse"},
      {"sstp_status500", "500 Internal Server Error"},
      {"sstp_status501", "501 Not Implemented"},
      {"sstp_status503", "503 Service Unavailable"},
      {"sstp_status510", "510 Not Local IP"},
      {"sstp_status511", "511 In Black List"},
  };
  entries_.clear();
  for (const auto& [key, text] : kStatusTexts) add(key, text);
  add(kResponseKey, kResponseTemplate);
}

void TemplateTable::add(std::string_view key, std::string_view text) {
  entries_.emplace(std::string(key), std::string(text));
}

namespace {

// Counts the placeholders of a text ("%" + key up to and including the next ':') and how many
// of them name a header that has a value.
struct PlaceholderCount {
  int total = 0;
  int filled = 0;
};

PlaceholderCount countPlaceholders(std::string_view text, const ShioriMessage& headers) {
  PlaceholderCount count;
  std::size_t pos = 0;
  while (true) {
    std::size_t percent = text.find('%', pos);
    if (percent == std::string_view::npos) break;
    std::size_t colon = text.find(':', percent);
    if (colon == std::string_view::npos) break;
    ++count.total;
    if (headers.has(text.substr(percent + 1, colon - percent))) ++count.filled;
    pos = colon + 1;
  }
  return count;
}

}  // namespace

std::optional<std::string> TemplateTable::select(std::string_view key,
                                                 const ShioriMessage& headers) const {
  auto [first, last] = entries_.equal_range(key);
  if (first == last) return std::nullopt;
  const std::string* best = nullptr;
  int bestCount = 0;
  for (auto it = first; it != last; ++it) {
    PlaceholderCount count = countPlaceholders(it->second, headers);
    if (count.total == 0) {
      best = &it->second;
      break;
    }
    if (count.filled > bestCount) {
      best = &it->second;
      bestCount = count.filled;
    }
  }
  return best != nullptr ? *best : std::string();
}

}  // namespace zelka
