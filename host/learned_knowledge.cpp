#include "learned_knowledge.h"

#include <algorithm>
#include <cmath>
#include <system_error>
#include <utility>

#include "platform/file_system.h"
#include "platform/path_text.h"
#include "platform/text_codec.h"
#include "script/variable_table.h"
#include "stores/bind_network.h"
#include "stores/neuron_network.h"
#include "stores/word_index.h"
#include "terminal_text.h"

namespace zelka::host {

namespace {

// Opens a store for reading only and records what became of its file.
void openForReading(XmlDocument& store, const std::string& directory, LearnedFile& file) {
  const std::string path = directory + file.name;
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return;
  auto modified = std::filesystem::last_write_time(path, error);
  if (!error) file.modified = modified;
  if (store.openReadOnly(pathToWide(path).value_or(std::u16string())) == XmlOpenResult::Loaded) {
    file.state = LearnedFileState::kRead;
  } else {
    file.state = LearnedFileState::kBroken;
    file.problem = store.openProblem().reason;
  }
}

void readNeurons(const std::string& directory, LearnedFile& file,
                 std::vector<LearnedConcept>& concepts,
                 std::unordered_map<std::u16string, std::size_t>& byId) {
  NeuronNetwork network;
  openForReading(network, directory, file);
  if (file.state != LearnedFileState::kRead) return;
  struct Raw {
    std::vector<Neuron::Link> up, down;
  };
  std::vector<Raw> raw;
  for (XmlNode element = network.structureRoot().firstChild(); !element.empty();
       element = element.nextSibling()) {
    if (element.tagName() != u"Neuron") continue;
    Neuron neuron(element);
    std::u16string id = neuron.name();
    if (id.empty() || byId.count(id) != 0) continue;
    byId.emplace(id, concepts.size());
    concepts.push_back({std::move(id), neuron.expressions(), {}, {}, 0});
    raw.push_back({neuron.links(kUpward, kConceptLink), neuron.links(kDownward, kConceptLink)});
  }
  // Links to neurons that are not in the file lead nowhere and are left out.
  auto resolve = [&](const std::vector<Neuron::Link>& links, std::vector<ConceptLink>& out) {
    for (const Neuron::Link& link : links) {
      auto found = byId.find(link.target);
      if (found != byId.end()) out.push_back({found->second, link.distance});
    }
  };
  for (std::size_t i = 0; i < concepts.size(); ++i) {
    resolve(raw[i].up, concepts[i].up);
    resolve(raw[i].down, concepts[i].down);
  }
}

void readIndex(const std::string& directory, LearnedFile& file,
               std::vector<std::pair<std::u16string, std::vector<std::u16string>>>& words) {
  WordIndexStore index;
  openForReading(index, directory, file);
  if (file.state != LearnedFileState::kRead) return;
  for (XmlNode element = index.root().firstChild(); !element.empty();
       element = element.nextSibling()) {
    if (element.tagName() != u"Index") continue;
    std::optional<std::u16string> word = element.attribute(u"name");
    if (!word) continue;
    words.emplace_back(std::move(*word), IndexEntry(element).aliases());
  }
  std::stable_sort(words.begin(), words.end(), [](const auto& a, const auto& b) {
    return compareKeys(a.first, b.first) < 0;
  });
}

// Depth first without recursion: a path is as deep as the longest text ever heard.
void readBind(const std::string& directory, LearnedFile& file, std::vector<BindPath>& paths) {
  BindNetworkStore bind;
  openForReading(bind, directory, file);
  if (file.state != LearnedFileState::kRead) return;
  BindNode root = bind.root();
  if (root.empty()) return;
  struct Pending {
    XmlNode element;
    std::size_t parent;
    double parentTotal;
    std::size_t depth;
  };
  std::vector<Pending> stack;
  auto pushChildren = [&](BindNode node, std::size_t index, std::size_t depth) {
    const double total = node.total();
    for (XmlNode child = node.element().firstChild(); !child.empty();
         child = child.nextSibling()) {
      if (child.hasTag("Bind")) stack.push_back({child, index, total, depth + 1});
    }
  };
  pushChildren(root, kNoParent, 0);
  while (!stack.empty()) {
    Pending next = stack.back();
    stack.pop_back();
    BindNode node(next.element);
    std::optional<std::u16string> name = node.name();
    if (!name) continue;
    double passages = next.parentTotal * std::pow(10.0, -node.distance());
    if (!std::isfinite(passages)) passages = 0;
    paths.push_back({next.parent, std::move(*name), passages, node.total(), next.depth});
    pushChildren(node, paths.size() - 1, next.depth);
  }
}

void readVariables(const std::string& directory, LearnedFile& file,
                   std::vector<std::pair<std::string, std::string>>& variables) {
  const std::string path = directory + file.name;
  if (!fileExists(path)) return;
  std::error_code error;
  auto modified = std::filesystem::last_write_time(path, error);
  if (!error) file.modified = modified;
  std::optional<std::string> bytes = readFile(path);
  if (!bytes) {
    file.state = LearnedFileState::kBroken;
    file.problem = "the file cannot be read";
    return;
  }
  file.state = LearnedFileState::kRead;
  VariableTable table;
  table.readVariables(*bytes);
  variables.assign(table.entries().begin(), table.entries().end());
}

}  // namespace

LearnedKnowledge LearnedKnowledge::read(const std::string& learningDirectory) {
  LearnedKnowledge k;
  k.directory_ = learningDirectory;
  for (const char* name : {"bind.xml", "index.xml", "neuron.xml", "reflex.txt"}) {
    k.files_.push_back({name, LearnedFileState::kMissing, {}, std::nullopt});
  }
  readBind(learningDirectory, k.files_[0], k.paths_);
  readIndex(learningDirectory, k.files_[1], k.words_);
  readNeurons(learningDirectory, k.files_[2], k.concepts_, k.conceptById_);
  readVariables(learningDirectory, k.files_[3], k.variables_);

  k.pathByText_.reserve(k.paths_.size());
  std::vector<std::u16string> texts(k.paths_.size());
  for (std::size_t i = 0; i < k.paths_.size(); ++i) {
    // Parents come before their children, so the parent's text is complete.
    const BindPath& p = k.paths_[i];
    texts[i] = (p.parent == kNoParent ? std::u16string() : texts[p.parent]) + p.name;
    k.pathByText_.emplace(texts[i], i);
  }
  for (LearnedConcept& item : k.concepts_) item.passages = k.passages(item.displayWord());
  return k;
}

std::optional<std::filesystem::file_time_type> LearnedKnowledge::savedAt() const {
  std::optional<std::filesystem::file_time_type> latest;
  for (const LearnedFile& file : files_) {
    if (file.modified && (!latest || *file.modified > *latest)) latest = file.modified;
  }
  return latest;
}

std::optional<std::size_t> LearnedKnowledge::conceptIndex(std::u16string_view id) const {
  auto found = conceptById_.find(std::u16string(id));
  if (found == conceptById_.end()) return std::nullopt;
  return found->second;
}

std::vector<std::size_t> LearnedKnowledge::conceptsOfWord(std::u16string_view word) const {
  std::vector<std::size_t> found;
  auto entry = std::lower_bound(words_.begin(), words_.end(), word,
                                [](const auto& e, std::u16string_view w) {
                                  return compareKeys(e.first, w) < 0;
                                });
  if (entry == words_.end() || entry->first != word) return found;
  for (const std::u16string& id : entry->second) {
    if (auto index = conceptIndex(id)) found.push_back(*index);
  }
  return found;
}

std::u16string LearnedKnowledge::pathText(std::size_t path) const {
  std::u16string text;
  for (std::size_t i = path; i != kNoParent; i = paths_[i].parent) {
    text.insert(0, paths_[i].name);
  }
  return text;
}

double LearnedKnowledge::passages(std::u16string_view text) const {
  auto found = pathByText_.find(std::u16string(text));
  return found == pathByText_.end() ? 0.0 : paths_[found->second].passages;
}

std::vector<std::size_t> LearnedKnowledge::expressions() const {
  // Counts are derived in floating point: a walk "ended" when it left at least half a count.
  std::vector<std::size_t> found;
  for (std::size_t i = 0; i < paths_.size(); ++i) {
    if (paths_[i].passages - paths_[i].continued >= 0.5) found.push_back(i);
  }
  std::stable_sort(found.begin(), found.end(), [&](std::size_t a, std::size_t b) {
    const double endedA = paths_[a].passages - paths_[a].continued;
    const double endedB = paths_[b].passages - paths_[b].continued;
    if (std::llround(endedA) != std::llround(endedB)) return endedA > endedB;
    if (paths_[a].passages != paths_[b].passages) return paths_[a].passages > paths_[b].passages;
    return paths_[a].depth > paths_[b].depth;
  });
  return found;
}

double LearnedKnowledge::linkStrength(const ConceptLink& link) const {
  const double share = std::pow(10.0, -link.distance);
  return share * (1.0 + std::log2(1.0 + concepts_[link.target].passages));
}

std::vector<ConceptLink> LearnedKnowledge::strongestLinks(std::size_t item) const {
  std::vector<ConceptLink> links = concepts_[item].up;
  links.insert(links.end(), concepts_[item].down.begin(), concepts_[item].down.end());
  std::stable_sort(links.begin(), links.end(), [&](const ConceptLink& a, const ConceptLink& b) {
    const double sa = linkStrength(a), sb = linkStrength(b);
    if (sa != sb) return sa > sb;
    return compareKeys(concepts_[a.target].displayWord(), concepts_[b.target].displayWord()) < 0;
  });
  return links;
}

std::string displayText(std::u16string_view text) { return utf8ForDisplay(utf16ToUtf8(text)); }

}  // namespace zelka::host
