// What a ghost has learned, read from its learning directory without changing anything: the
// concepts of neuron.xml with their words and links, the words of index.xml, the paths of
// bind.xml with how often they were walked, and the variables of reflex.txt. The stores are
// opened read-only through their own classes, so nothing is created, set aside or saved back,
// whatever state the files are in.
//
// Strength. A concept link's stored weight is its share 10^-distance (every link the module
// makes has distance 1, share 0.1). The strength of a link to a concept is that share times
// 1 + log2(1 + passages of the concept's display word), so links to words the ghost met more
// often, in dictionaries or in conversation, weigh more. Passages of a text are the walks of
// the bind network through the node its path ends at.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace zelka::host {

enum class LearnedFileState { kMissing, kBroken, kRead };

struct LearnedFile {
  std::string name;  // "bind.xml", ...
  LearnedFileState state = LearnedFileState::kMissing;
  std::string problem;  // why a file that is there was not read
  std::optional<std::filesystem::file_time_type> modified;
};

struct ConceptLink {
  std::size_t target;  // index into LearnedKnowledge::concepts
  double distance;     // as stored
};

struct LearnedConcept {
  std::u16string id;                 // "NEUR..."
  std::vector<std::u16string> words;  // newest first; the first is the display word
  std::vector<ConceptLink> up;        // toward its categories
  std::vector<ConceptLink> down;      // toward its members
  double passages = 0;                // of the display word in the bind network
  bool isCategory() const { return !down.empty(); }
  std::u16string displayWord() const { return words.empty() ? id : words.front(); }
};

// One node of the bind network below the root.
struct BindPath {
  std::size_t parent;    // index into LearnedKnowledge::paths; kNoParent under the root
  std::u16string name;   // the node's text (one character as the module writes it)
  double passages;       // walks through this node: total(parent) * 10^-distance
  double continued;      // walks that went on to a child: the node's total
  std::size_t depth;     // 1 under the root
};

inline constexpr std::size_t kNoParent = static_cast<std::size_t>(-1);

class LearnedKnowledge {
 public:
  // learningDirectory ends with its separator.
  static LearnedKnowledge read(const std::string& learningDirectory);

  const std::string& learningDirectory() const { return directory_; }
  // bind.xml, index.xml, neuron.xml, reflex.txt, in this order.
  const std::vector<LearnedFile>& files() const { return files_; }
  // The latest modification time of the files that are there.
  std::optional<std::filesystem::file_time_type> savedAt() const;

  const std::vector<LearnedConcept>& concepts() const { return concepts_; }  // sorted by id
  std::optional<std::size_t> conceptIndex(std::u16string_view id) const;
  // Word -> neuron ids, newest first, as index.xml holds them (sorted by word).
  const std::vector<std::pair<std::u16string, std::vector<std::u16string>>>& words() const {
    return words_;
  }
  // The concepts the word stands for, newest meaning first (those that exist).
  std::vector<std::size_t> conceptsOfWord(std::u16string_view word) const;

  const std::vector<BindPath>& paths() const { return paths_; }
  std::u16string pathText(std::size_t path) const;
  // Walks through the end of the path spelling the text; 0 when there is no such path.
  double passages(std::u16string_view text) const;
  // The paths at least one walk ended at (passages > continued): the texts taken as a whole,
  // those taken whole most often first, then the most walked, then the longest.
  std::vector<std::size_t> expressions() const;

  double linkStrength(const ConceptLink& link) const;
  // The concept's links both ways, strongest first (ties: display word order).
  std::vector<ConceptLink> strongestLinks(std::size_t item) const;

  // Shift_JIS name and value of every variable of reflex.txt, in name order.
  const std::vector<std::pair<std::string, std::string>>& variables() const { return variables_; }

 private:
  std::string directory_;
  std::vector<LearnedFile> files_;
  std::vector<LearnedConcept> concepts_;
  std::unordered_map<std::u16string, std::size_t> conceptById_;
  std::vector<std::pair<std::u16string, std::vector<std::u16string>>> words_;
  std::vector<BindPath> paths_;
  std::unordered_map<std::u16string, std::size_t> pathByText_;
  std::vector<std::pair<std::string, std::string>> variables_;
};

// Text for the terminal: UTF-16 to UTF-8 with control characters shown as <0xNN>.
std::string displayText(std::u16string_view text);

}  // namespace zelka::host
