// A learned store of realistic shape, generated deterministically for benchmarks: a bind
// network of 100,000 nodes (3,000 characters under the root, at most 32 followers under any
// other node, paths up to 8 characters deep, counts and totals consistent with what learning
// writes), a word index and a neuron network of 20,000 words each (synonym neurons hung below a
// few dozen category neurons), and an empty sentence journal. The files are written as the module writes them (Shift_JIS, "%.15e").
//
//   zelka::bench::StoreFixture fixture;            // a temporary module directory
//   fixture.moduleDirectory()                        // ".../" holding zelkaconf.xml
//   fixture.learningDirectory()                      // ".../_learning/" holding the four stores
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "platform/text_codec.h"
#include "util/number_text.h"

namespace zelka::bench {

struct StoreShape {
  int bindNodes = 100000;   // root excluded
  int rootChildren = 3000;
  int maxDepth = 8;
  int words = 20000;
  int categories = 40;
};

class StoreFixture {
 public:
  explicit StoreFixture(const StoreShape& shape = StoreShape()) : shape_(shape) {
    dir_ = std::filesystem::temp_directory_path() /
           ("zelka-bench-store-" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir_ / "_learning");
    writeFile(dir_ / "zelkaconf.xml",
              "<?xml version='1.0' encoding='Shift_JIS'?>\n"
              "<ZelkaConfiguration>\n\t<GhostProfile ghost_name=\"bench\" think_wait=\"5\"/>\n"
              "\t<RunEnvironment runlevel=\"0\">\n"
              "\t\t<Directory type=\"learning\" name=\"_learning/\"/>\n"
              "\t</RunEnvironment>\n</ZelkaConfiguration>\n");
    writeStores(dir_ / "_learning");
  }
  ~StoreFixture() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  StoreFixture(const StoreFixture&) = delete;
  StoreFixture& operator=(const StoreFixture&) = delete;

  std::u16string moduleDirectory() const { return dir_.u16string() + u"/"; }
  std::u16string learningDirectory() const { return moduleDirectory() + u"_learning/"; }
  const std::filesystem::path& path() const { return dir_; }
  // Rewrites the four stores as generated (after a benchmark changed them).
  void restoreStores() { writeStores(dir_ / "_learning"); }

  // The characters under the root, in file order.
  const std::vector<char16_t>& rootCharacters() const { return rootCharacters_; }
  // The words of the index, in file order.
  const std::vector<std::u16string>& words() const { return words_; }

 private:
  class Lcg {
   public:
    explicit Lcg(std::uint32_t seed) : x_(seed) {}
    std::uint32_t next() {
      x_ = x_ * 1664525u + 1013904223u;
      return x_ >> 8;
    }
    std::uint32_t below(std::uint32_t n) { return next() % n; }
    double unit() { return (next() & 0xFFFFFF) / double(1 << 24); }

   private:
    std::uint32_t x_;
  };

  static constexpr std::size_t kMaxFollowers = 32;

  struct Node {
    char16_t name;
    int depth;
    double count;
    std::vector<int> children;
  };

  static void writeFile(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
  }

  // Characters with a Shift_JIS form, ascending: hiragana, katakana, then kanji.
  static std::vector<char16_t> alphabet(std::size_t wanted) {
    std::vector<char16_t> chars;
    std::string scratch;
    for (char32_t c = 0x3041; c <= 0x9FA0 && chars.size() < wanted; ++c) {
      if (c > 0x30F6 && c < 0x4E00) continue;
      scratch.clear();
      if (encodeShiftJisStrict(c, scratch)) chars.push_back(static_cast<char16_t>(c));
    }
    return chars;
  }

  static std::string narrow(std::u16string_view text) { return toNarrow(text); }

  void writeStores(const std::filesystem::path& learning) {
    std::vector<char16_t> pool = alphabet(static_cast<std::size_t>(shape_.rootChildren) + 500);
    writeFile(learning / "bind.xml", bindNetwork(pool));
    writeWordsAndNeurons(learning, pool);
    writeFile(learning / "journal.xml",
              "<?xml version='1.0' encoding='Shift_JIS'?>\n<SentenceJournal/>\n");
  }

  // Spreads the nodes over the levels: the root's children, then ten times as many on level
  // 2 and thinning levels below, the remainder going to the deepest levels.
  std::vector<int> levelSizes() const {
    std::vector<int> sizes(static_cast<std::size_t>(shape_.maxDepth) + 1, 0);
    int left = shape_.bindNodes - shape_.rootChildren;
    sizes[1] = shape_.rootChildren;
    const double share[] = {0, 0, 0.31, 0.31, 0.155, 0.103, 0.072, 0.036, 0.014};
    int given = 0;
    for (int d = 2; d <= shape_.maxDepth; ++d) {
      double s = d < 9 ? share[d] : 0.01;
      sizes[static_cast<std::size_t>(d)] = static_cast<int>(left * s);
      given += sizes[static_cast<std::size_t>(d)];
    }
    sizes[2] += left - given;
    return sizes;
  }

  std::string bindNetwork(const std::vector<char16_t>& pool) {
    Lcg random(20261208);
    std::vector<Node> nodes;
    nodes.push_back({0, 0, 0, {}});
    std::vector<int> previous{0};
    std::vector<int> sizes = levelSizes();
    for (int d = 1; d <= shape_.maxDepth; ++d) {
      std::vector<int> level;
      std::vector<std::set<char16_t>> taken(previous.size());
      for (int i = 0; i < sizes[static_cast<std::size_t>(d)]; ++i) {
        std::size_t p;
        char16_t name;
        if (d == 1) {
          p = 0;
          name = pool[static_cast<std::size_t>(i)];
        } else {
          // Skewed toward the frequent parents. Below the root a node keeps few followers:
          // each passage through it prunes those under a share of 10^-1.5.
          do {
            double u = random.unit();
            p = static_cast<std::size_t>(u * u * static_cast<double>(previous.size()));
          } while (taken[p].size() >= kMaxFollowers);
          do {
            double u = random.unit();
            name = pool[static_cast<std::size_t>(u * u * static_cast<double>(pool.size()))];
          } while (!taken[p].insert(name).second);
        }
        double count = 1 + std::floor(40 * std::pow(random.unit(), 3));
        nodes.push_back({name, d, count, {}});
        nodes[static_cast<std::size_t>(previous[p])].children.push_back(
            static_cast<int>(nodes.size()) - 1);
        level.push_back(static_cast<int>(nodes.size()) - 1);
      }
      previous = std::move(level);
    }
    for (Node& n : nodes) {
      std::sort(n.children.begin(), n.children.end(),
                [&nodes](int a, int b) { return nodes[a].name < nodes[b].name; });
    }
    rootCharacters_.clear();
    for (int c : nodes[0].children) rootCharacters_.push_back(nodes[c].name);

    std::string out = "<?xml version='1.0' encoding='Shift_JIS'?>\n";
    out.reserve(static_cast<std::size_t>(shape_.bindNodes) * 110);
    writeBind(nodes, 0, 0.0, random, out);
    return out;
  }

  void writeBind(const std::vector<Node>& nodes, int index, double parentTotal, Lcg& random,
                 std::string& out) {
    const Node& n = nodes[static_cast<std::size_t>(index)];
    double total = 0;
    for (int c : n.children) total += nodes[static_cast<std::size_t>(c)].count;
    if (!n.children.empty()) total += random.below(3);  // passages of pruned children
    out.append(static_cast<std::size_t>(n.depth), '\t');
    out += "<Bind name=\"";
    if (index == 0) {
      out += "root\"";
    } else {
      out += narrow(std::u16string(1, n.name));
      out += "\" distance=\"";
      out += formatScientific(std::fabs(std::log10(n.count / parentTotal)), 15);
      out += "\"";
    }
    out += " total=\"" + formatScientific(total, 15) + "\"";
    if (n.children.empty()) {
      out += "/>\n";
      return;
    }
    out += ">\n";
    for (int c : n.children) writeBind(nodes, c, total, random, out);
    out.append(static_cast<std::size_t>(n.depth), '\t');
    out += "</Bind>\n";
  }

  static std::u16string neuronId(std::uint32_t tick, std::uint32_t second) {
    static const char kHex[] = "0123456789ABCDEF";
    std::u16string id = u"NEUR";
    for (std::uint32_t v : {tick, second}) {
      for (int shift = 28; shift >= 0; shift -= 4) id.push_back(static_cast<char16_t>(kHex[(v >> shift) & 0xF]));
    }
    return id;
  }

  void writeWordsAndNeurons(const std::filesystem::path& learning,
                            const std::vector<char16_t>& pool) {
    Lcg random(5150);
    std::set<std::u16string> words;
    while (static_cast<int>(words.size()) < shape_.words) {
      std::u16string w;
      int length = 2 + static_cast<int>(random.below(3));
      for (int i = 0; i < length; ++i) {
        double u = random.unit();
        w.push_back(pool[static_cast<std::size_t>(u * u * static_cast<double>(pool.size()))]);
      }
      words.insert(w);
    }
    words_.assign(words.begin(), words.end());

    // One neuron per word; synonym groups share the neuron of their first word, and every
    // group hangs below one of the category neurons (the first neurons).
    std::size_t count = words_.size();
    std::vector<std::u16string> ids;
    std::set<std::u16string> sortedIds;
    std::uint32_t tick = 0x00A1B2C3;
    std::uint32_t second = 0x677F0000;
    while (sortedIds.size() < count) {
      std::u16string id = neuronId(tick + random.below(4000), second++);
      if (sortedIds.insert(id).second) ids.push_back(id);
    }
    std::vector<std::vector<std::u16string>> expressions(count);
    std::vector<std::vector<std::u16string>> aliases(count);
    std::vector<std::vector<std::size_t>> down(count);
    std::vector<std::size_t> up(count, count);
    std::vector<std::size_t> neuronOf(count);
    std::size_t categories = static_cast<std::size_t>(shape_.categories);
    for (std::size_t i = 0; i < count; ++i) {
      std::size_t neuron = i;
      // Every fourth word is a synonym of one of the two words before it.
      if (i >= categories + 2 && i % 4 == 3) neuron = neuronOf[i - 1 - random.below(2)];
      neuronOf[i] = neuron;
      if (up[neuron] == count && neuron >= categories) {
        up[neuron] = random.below(static_cast<std::uint32_t>(categories));
        down[up[neuron]].push_back(neuron);
      }
      expressions[neuron].insert(expressions[neuron].begin(), words_[i]);
      // Some words carry a second, older meaning.
      aliases[i].push_back(ids[neuron]);
      if (random.below(10) == 0 && i > 0) {
        std::size_t older = neuronOf[random.below(static_cast<std::uint32_t>(i))];
        if (older != neuron) aliases[i].push_back(ids[older]);
      }
    }

    std::string lifetime = std::to_string(1767225600 + 432000);
    std::string index = "<?xml version='1.0' encoding='Shift_JIS'?>\n<WordIndexes>\n";
    for (std::size_t i = 0; i < count; ++i) {
      index += "\t<Index name=\"" + narrow(words_[i]) + "\">\n";
      for (const std::u16string& a : aliases[i]) index += "\t\t<Alias name=\"" + narrow(a) + "\"/>\n";
      index += "\t</Index>\n";
    }
    index += "</WordIndexes>\n";
    writeFile(learning / "index.xml", index);

    std::vector<std::size_t> order(count);
    for (std::size_t i = 0; i < count; ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&ids](std::size_t a, std::size_t b) { return ids[a] < ids[b]; });
    auto synapse = [&](std::size_t target) {
      return "\t\t\t\t<Synapse name=\"" + narrow(ids[target]) +
             "\" distance=\"1.000000000000000e+000\" lifetime=\"" + lifetime + "\"/>\n";
    };
    std::string neurons = "<?xml version='1.0' encoding='Shift_JIS'?>\n<NeuronStructure>\n";
    for (std::size_t n : order) {
      if (expressions[n].empty()) continue;  // the id of a word that joined a synonym group
      neurons += "\t<Neuron name=\"" + narrow(ids[n]) + "\" lifetime=\"" + lifetime + "\">\n";
      neurons += "\t\t<Expressions>\n";
      for (const std::u16string& e : expressions[n]) neurons += "\t\t\t<Expression name=\"" + narrow(e) + "\"/>\n";
      neurons += "\t\t</Expressions>\n\t\t<UpwardNetowrk>\n";
      if (up[n] != count) neurons += "\t\t\t<Concept>\n" + synapse(up[n]) + "\t\t\t</Concept>\n";
      neurons += "\t\t</UpwardNetowrk>\n\t\t<DownwardNetowrk>\n";
      if (!down[n].empty()) {
        std::vector<std::size_t> targets = down[n];
        std::sort(targets.begin(), targets.end(), [&ids](std::size_t a, std::size_t b) { return ids[a] < ids[b]; });
        neurons += "\t\t\t<Concept>\n";
        for (std::size_t t : targets) neurons += synapse(t);
        neurons += "\t\t\t</Concept>\n";
      }
      neurons += "\t\t</DownwardNetowrk>\n\t</Neuron>\n";
    }
    neurons += "</NeuronStructure>\n";
    writeFile(learning / "neuron.xml", neurons);
  }

  StoreShape shape_;
  std::filesystem::path dir_;
  std::vector<char16_t> rootCharacters_;
  std::vector<std::u16string> words_;
};

}  // namespace zelka::bench
