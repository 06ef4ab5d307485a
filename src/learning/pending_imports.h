// Dictionaries whose words some stores saved while others could not. Such a file is not moved
// into "learned/" (its words are not all on disk yet), so the next start finds it again; it is
// then taught only to the stores that do not hold it, and moved once all four do. Without this
// record every start would teach the file again to the stores that did save it, and the bind
// network would count its words once more each time.
//
// A dictionary is known by its file name and its content (size and a 64-bit FNV-1a hash of
// its bytes): a file edited in the meantime is a new dictionary. The record is the file
// "pending_dictionaries.txt" of the learning directory, one line per dictionary:
//
//   <16 hex digits of the hash> <size> <stores holding it, e.g. bind,index,journal> <file name>
//
// It is replaced crash-safely at each change and deleted when nothing is pending; a missing
// or unreadable record means nothing is pending (lines it does not understand are dropped).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zelka {

class PendingImports {
 public:
  static constexpr const char* kFileName = "pending_dictionaries.txt";

  struct Key {
    std::string fileName;
    std::uint64_t size = 0;
    std::uint64_t hash = 0;
    bool operator==(const Key&) const = default;
  };
  static Key keyOf(std::string fileName, std::string_view bytes);

  // Reads the record of the learning directory (ending with its separator).
  explicit PendingImports(std::string learningDirectory);

  // The stores (KnowledgeSet store bits) that hold the dictionary; 0 when none is recorded.
  unsigned storesHolding(const Key& key) const;
  // Records which stores hold the dictionary (0: forgets it) and writes the record; false
  // when it could not be written.
  bool record(const Key& key, unsigned stores);
  // Forgets the dictionaries that are no longer in the vendor directory as they were (gone,
  // or edited), and writes the record when that changed anything.
  void forgetStale(const std::string& vendorDirectory);

 private:
  struct Entry {
    Key key;
    unsigned stores = 0;
  };
  bool write() const;

  std::string path_;
  std::vector<Entry> entries_;
};

}  // namespace zelka
