// The header list of one request or response, and the table of status texts and response
// templates. Both are ordered multimaps keyed by byte-wise comparison; entries with equal keys
// keep their insertion order (a new entry goes after the existing ones). Keys carry their
// trailing colon ("Sender:"). In the header list an entry with an empty value reads as absent.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace zelka {

using ByteMultimap = std::multimap<std::string, std::string, std::less<>>;

class ShioriMessage {
 public:
  // The earliest entry of the key when its value is not empty; nullopt otherwise.
  std::optional<std::string> get(std::string_view key) const;
  // The same as a view (valid until the list changes); empty when absent.
  std::string_view view(std::string_view key) const;
  bool has(std::string_view key) const { return !view(key).empty(); }

  // Adds an entry after the existing ones of the key. False (list unchanged) when the key or
  // the value is absent.
  bool set(std::optional<std::string_view> key, std::optional<std::string_view> value);
  // Removes the earliest entry of the key; true when one was removed.
  bool erase(std::string_view key);
  void clear() { entries_.clear(); }
  // Moves the earliest entry of `from` to the key `to`, after the entries `to` already has;
  // the value keeps its storage. False when `from` has no entry.
  bool rekey(std::string_view from, std::string_view to);

  std::size_t size() const { return entries_.size(); }
  std::size_t count(std::string_view key) const { return entries_.count(key); }
  const ByteMultimap& entries() const { return entries_; }
  // For rewriting values in place (keys stay as they are).
  ByteMultimap& entries() { return entries_; }

 private:
  ByteMultimap entries_;
};

class TemplateTable {
 public:
  // Inserts the sixteen status texts and the response template (replacing any content).
  void fill();
  void add(std::string_view key, std::string_view text);
  void clear() { entries_.clear(); }
  bool empty() const { return entries_.empty(); }
  std::size_t size() const { return entries_.size(); }

  // Chooses among the texts of the key: the first one without a placeholder, else the one with
  // the most placeholders whose header has a value (the earlier on a tie; empty when none has
  // any). nullopt when the key has no entry.
  std::optional<std::string> select(std::string_view key, const ShioriMessage& headers) const;

  const ByteMultimap& entries() const { return entries_; }

  // The response template: eleven CR LF terminated lines, 199 bytes.
  static const std::string_view kResponseTemplate;
  static constexpr std::string_view kResponseKey = "response SHIORI/2.6";

 private:
  ByteMultimap entries_;
};

}  // namespace zelka
