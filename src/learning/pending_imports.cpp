#include "learning/pending_imports.h"

#include <charconv>
#include <optional>

#include "learning/knowledge_set.h"
#include "platform/file_system.h"

namespace zelka {
namespace {

struct StoreName {
  unsigned store;
  std::string_view name;
};
constexpr StoreName kStoreNames[] = {
    {kBindStore, "bind"},
    {kIndexStore, "index"},
    {kJournalStore, "journal"},
    {kNeuronStore, "neuron"},
};

std::string storeList(unsigned stores) {
  std::string list;
  for (const StoreName& s : kStoreNames) {
    if ((stores & s.store) == 0) continue;
    if (!list.empty()) list.push_back(',');
    list += s.name;
  }
  return list;
}

unsigned parseStoreList(std::string_view list) {
  unsigned stores = 0;
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    const std::string_view name = list.substr(0, comma);
    for (const StoreName& s : kStoreNames) {
      if (s.name == name) stores |= s.store;
    }
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return stores;
}

// The next blank-separated field of a line; empty when there is none.
std::string_view nextField(std::string_view& line) {
  const std::size_t blank = line.find(' ');
  const std::string_view field = line.substr(0, blank);
  line.remove_prefix(blank == std::string_view::npos ? line.size() : blank + 1);
  return field;
}

template <typename Number>
bool parseNumber(std::string_view text, int base, Number& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// A name the record can hold on one line.
bool recordable(const std::string& fileName) {
  return !fileName.empty() && fileName.find_first_of("\r\n") == std::string::npos;
}

}  // namespace

PendingImports::Key PendingImports::keyOf(std::string fileName, std::string_view bytes) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;  // FNV-1a, 64 bits
  for (char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  return Key{std::move(fileName), bytes.size(), hash};
}

PendingImports::PendingImports(std::string learningDirectory)
    : path_(std::move(learningDirectory) + kFileName) {
  removeLeftoverTemporaries(path_);
  const std::optional<std::string> text = readFile(path_);
  if (!text) return;
  std::string_view rest(*text);
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    Entry entry;
    if (!parseNumber(nextField(line), 16, entry.key.hash)) continue;
    if (!parseNumber(nextField(line), 10, entry.key.size)) continue;
    entry.stores = parseStoreList(nextField(line));
    entry.key.fileName = std::string(line);
    if (entry.stores == 0 || !recordable(entry.key.fileName)) continue;
    entries_.push_back(std::move(entry));
  }
}

unsigned PendingImports::storesHolding(const Key& key) const {
  for (const Entry& entry : entries_) {
    if (entry.key == key) return entry.stores;
  }
  return 0;
}

bool PendingImports::record(const Key& key, unsigned stores) {
  if (!recordable(key.fileName)) return false;
  stores &= kAllStores;
  bool found = false;
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->key != key) continue;
    found = true;
    if (it->stores == stores) return true;
    if (stores == 0) {
      entries_.erase(it);
    } else {
      it->stores = stores;
    }
    break;
  }
  if (!found) {
    if (stores == 0) return true;
    entries_.push_back({key, stores});
  }
  return write();
}

void PendingImports::forgetStale(const std::string& vendorDirectory) {
  const std::size_t before = entries_.size();
  std::erase_if(entries_, [&](const Entry& entry) {
    const std::optional<std::string> bytes = readFile(vendorDirectory + entry.key.fileName);
    return !bytes || keyOf(entry.key.fileName, *bytes) != entry.key;
  });
  if (entries_.size() != before) write();
}

bool PendingImports::write() const {
  if (entries_.empty()) return !fileExists(path_) || deleteFile(path_);
  std::string text;
  for (const Entry& entry : entries_) {
    char hash[17];
    const auto end = std::to_chars(hash, hash + 16, entry.key.hash, 16).ptr;
    const std::string hex(hash, end);
    text += std::string(16 - hex.size(), '0') + hex + " " + std::to_string(entry.key.size) +
            " " + storeList(entry.stores) + " " + entry.key.fileName + "\n";
  }
  return replaceFileAtomically(path_, text);
}

}  // namespace zelka
