#include "learned_graph.h"

#include <graphviz/cgraph.h>
#include <graphviz/gvc.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <system_error>

#include "config/zelka_config.h"
#include "learned_report.h"
#include "platform/file_system.h"
#include "platform/path_text.h"
#include "platform/text_codec.h"
#include "terminal_text.h"
#include "util/number_text.h"

namespace zelka::host {

namespace {

constexpr const char* kFont = "IPAPGothic";

// Graphviz reads backslash sequences in labels (\n, \N, ...): a backslash of a word is
// doubled so that it is shown as it is.
std::string labelText(std::u16string_view text) {
  std::string out;
  for (char c : displayText(text)) {
    if (c == '\\') out += '\\';
    out += c;
  }
  return out;
}

bool parseCount(const std::string& text, std::size_t& value) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  value = std::stoul(text);
  return true;
}

// Top categories, those with the most members first.
std::vector<std::size_t> topCategories(const LearnedKnowledge& k) {
  const auto& concepts = k.concepts();
  std::vector<std::size_t> tops;
  for (std::size_t i = 0; i < concepts.size(); ++i) {
    if (!concepts[i].isCategory()) continue;
    const bool below = std::any_of(concepts[i].up.begin(), concepts[i].up.end(),
                                   [&](const ConceptLink& l) {
                                     return concepts[l.target].isCategory() && l.target != i;
                                   });
    if (!below) tops.push_back(i);
  }
  if (tops.empty()) {
    // Only cycles of categories, or no category at all: the most connected concepts.
    for (std::size_t i = 0; i < concepts.size(); ++i) tops.push_back(i);
  }
  std::stable_sort(tops.begin(), tops.end(), [&](std::size_t a, std::size_t b) {
    return concepts[a].down.size() + concepts[a].up.size() >
           concepts[b].down.size() + concepts[b].up.size();
  });
  return tops;
}

struct GraphDeleter {
  void operator()(Agraph_t* g) const { agclose(g); }
};

struct ContextDeleter {
  void operator()(GVC_t* c) const { gvFreeContext(c); }
};

void set(void* object, const char* name, const std::string& value) {
  agsafeset(object, const_cast<char*>(name), const_cast<char*>(value.c_str()),
            const_cast<char*>(""));
}

}  // namespace

bool selectGraph(const LearnedKnowledge& k, const GraphOptions& options,
                 GraphSelection& selection, std::string& error) {
  selection = {};
  const auto& concepts = k.concepts();
  std::size_t budget = options.maxNodes;
  std::vector<std::size_t> start;
  if (!options.root.empty()) {
    start = k.conceptsOfWord(options.root);
    if (start.empty()) {
      error = displayText(options.root) + " is not a word the ghost knows (zelka-host learned " +
              "lists what it knows)";
      return false;
    }
    if (budget > 0) --budget;  // the root word's own node
  } else {
    start = topCategories(k);
    start.resize(std::min(start.size(), std::max<std::size_t>(1, options.maxNodes / 8)));
  }
  std::vector<bool> chosen(concepts.size(), false);
  std::vector<std::size_t> frontier;
  for (std::size_t s : start) {
    if (budget == 0 || chosen[s]) continue;
    chosen[s] = true;
    selection.concepts.push_back(s);
    frontier.push_back(s);
    --budget;
  }
  selection.rootConcepts = selection.concepts.size();

  for (std::size_t level = 0; level < options.depth && budget > 0 && !frontier.empty(); ++level) {
    std::vector<std::vector<ConceptLink>> links;
    std::size_t longest = 0;
    for (std::size_t f : frontier) {
      links.push_back(k.strongestLinks(f));
      longest = std::max(longest, links.back().size());
    }
    std::vector<std::size_t> next;
    // In turns: each node of the level gets its strongest link in, then its second, ...
    for (std::size_t rank = 0; rank < longest && budget > 0; ++rank) {
      for (const auto& list : links) {
        if (rank >= list.size() || chosen[list[rank].target]) continue;
        chosen[list[rank].target] = true;
        selection.concepts.push_back(list[rank].target);
        next.push_back(list[rank].target);
        if (--budget == 0) break;
      }
    }
    frontier = std::move(next);
  }

  // Words in turns too: every concept's first other word, then every concept's second, ...
  for (std::size_t w = 1; w <= options.wordsPerConcept && budget > 0; ++w) {
    for (std::size_t c : selection.concepts) {
      if (w >= concepts[c].words.size()) continue;
      selection.words.emplace_back(c, concepts[c].words[w]);
      if (--budget == 0) break;
    }
  }
  return true;
}

bool renderGraphSvg(const LearnedKnowledge& k, const GraphOptions& options,
                    const GraphSelection& selection, const std::string& title, std::string& svg,
                    std::string& error) {
  const auto& concepts = k.concepts();
  std::unique_ptr<GVC_t, ContextDeleter> context(gvContext());
  std::unique_ptr<Agraph_t, GraphDeleter> graph(
      agopen(const_cast<char*>("learned"), Agdirected, nullptr));
  if (!context || !graph) {
    error = "Graphviz could not start";
    return false;
  }
  Agraph_t* g = graph.get();
  auto defaults = [&](int kind, const char* name, const char* value) {
    agattr(g, kind, const_cast<char*>(name), const_cast<char*>(value));
  };
  defaults(AGRAPH, "rankdir", "LR");
  defaults(AGRAPH, "fontname", kFont);
  defaults(AGRAPH, "labelloc", "t");
  defaults(AGRAPH, "nodesep", "0.12");
  defaults(AGRAPH, "ranksep", "0.5");
  defaults(AGRAPH, "bgcolor", "white");
  defaults(AGNODE, "fontname", kFont);
  defaults(AGNODE, "fontsize", "12");
  defaults(AGNODE, "shape", "ellipse");
  defaults(AGNODE, "style", "filled");
  defaults(AGNODE, "fillcolor", "#fff2cc");
  defaults(AGNODE, "color", "#7f6000");
  defaults(AGNODE, "height", "0.3");
  defaults(AGEDGE, "color", "#555555");
  defaults(AGEDGE, "arrowsize", "0.6");
  defaults(AGEDGE, "penwidth", "1");
  defaults(AGEDGE, "style", "solid");
  defaults(AGEDGE, "arrowhead", "normal");
  set(g, "label", title);

  std::vector<Agnode_t*> nodes(concepts.size(), nullptr);
  for (std::size_t c : selection.concepts) {
    const std::string name = utf16ToUtf8(concepts[c].id);
    Agnode_t* n = agnode(g, const_cast<char*>(name.c_str()), 1);
    nodes[c] = n;
    set(n, "label", labelText(concepts[c].displayWord()));
    set(n, "tooltip", name + ", met " + std::to_string(std::llround(concepts[c].passages)));
    if (concepts[c].isCategory()) {
      set(n, "shape", "box");
      set(n, "style", "rounded,filled");
      set(n, "fillcolor", "#cfe2f3");
      set(n, "color", "#1c4587");
    }
  }

  // Link strengths are drawn relative to the strongest link shown.
  double strongest = 0;
  for (std::size_t c : selection.concepts) {
    for (const ConceptLink& link : concepts[c].down) {
      if (nodes[link.target] != nullptr) strongest = std::max(strongest, k.linkStrength(link));
    }
  }
  for (std::size_t c : selection.concepts) {
    for (const ConceptLink& link : concepts[c].down) {
      if (nodes[link.target] == nullptr || link.target == c) continue;
      Agedge_t* e = agedge(g, nodes[c], nodes[link.target], nullptr, 1);
      const double strength = k.linkStrength(link);
      const double share = strongest > 0 ? strength / strongest : 1.0;
      set(e, "penwidth", formatFixed(0.6 + 2.4 * share, 2));
      set(e, "weight", std::to_string(1 + std::lround(9 * share)));
      set(e, "tooltip", "strength " + formatFixed(strength, 2));
    }
  }

  std::size_t wordNumber = 0;
  for (const auto& [item, word] : selection.words) {
    const std::string name = "word " + std::to_string(++wordNumber);
    Agnode_t* n = agnode(g, const_cast<char*>(name.c_str()), 1);
    set(n, "label", labelText(word));
    set(n, "shape", "plaintext");
    set(n, "style", "");
    set(n, "fontsize", "10");
    set(n, "fontcolor", "#444444");
    Agedge_t* e = agedge(g, nodes[item], n, nullptr, 1);
    set(e, "style", "dashed");
    set(e, "arrowhead", "none");
    set(e, "color", "#999999");
  }

  if (!options.root.empty()) {
    Agnode_t* n = agnode(g, const_cast<char*>("root word"), 1);
    set(n, "label", labelText(options.root));
    set(n, "shape", "note");
    set(n, "fillcolor", "#f4cccc");
    set(n, "color", "#990000");
    for (std::size_t i = 0; i < selection.rootConcepts; ++i) {
      Agedge_t* e = agedge(g, n, nodes[selection.concepts[i]], nullptr, 1);
      set(e, "style", "dashed");
      set(e, "color", "#990000");
    }
  }
  if (selection.concepts.empty()) {
    Agnode_t* n = agnode(g, const_cast<char*>("nothing"), 1);
    set(n, "label", "nothing learned yet");
    set(n, "shape", "plaintext");
    set(n, "style", "");
  }

  if (gvLayout(context.get(), g, "dot") != 0) {
    error = "Graphviz could not lay the picture out (is its dot engine installed?)";
    return false;
  }
  char* data = nullptr;
  unsigned int length = 0;
  const int rendered = gvRenderData(context.get(), g, "svg", &data, &length);
  if (rendered != 0 || data == nullptr) {
    gvFreeLayout(context.get(), g);
    error = "Graphviz could not write SVG";
    return false;
  }
  svg.assign(data, length);
  gvFreeRenderData(data);
  gvFreeLayout(context.get(), g);
  return true;
}

int runGraph(int argc, char** argv, std::ostream& out, std::ostream& err) {
  const char* usage =
      "usage: zelka-host graph GHOST_DIR -o FILE.svg [--root WORD] [--depth N]\n"
      "                        [--max-nodes N] [--words N]\n";
  GraphOptions options;
  std::string ghost, output;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if ((arg == "-o" || arg == "--output") && hasValue) {
      output = argv[++i];
    } else if (arg == "--root" && hasValue) {
      const std::string word = argv[++i];
      if (findInvalidUtf8(word)) {
        err << "zelka-host graph: --root is not UTF-8 text\n";
        return 2;
      }
      options.root = utf8ToUtf16(word);
    } else if ((arg == "--depth" || arg == "--max-nodes" || arg == "--words") && hasValue) {
      std::size_t value = 0;
      if (!parseCount(argv[++i], value)) {
        err << "zelka-host graph: " << arg << " takes a number, not '" << argv[i] << "'\n";
        return 2;
      }
      (arg == "--depth" ? options.depth : arg == "--words" ? options.wordsPerConcept
                                                           : options.maxNodes) = value;
    } else if (!arg.empty() && arg[0] != '-' && ghost.empty()) {
      ghost = arg;
    } else {
      err << usage;
      return 2;
    }
  }
  if (ghost.empty() || output.empty()) {
    err << usage;
    return 2;
  }
  if (options.maxNodes == 0) {
    err << "zelka-host graph: --max-nodes must be at least 1\n";
    return 2;
  }
  std::error_code ignored;
  if (!std::filesystem::is_directory(ghost, ignored)) {
    err << "zelka-host: no ghost directory at " << ghost << "\n";
    return 1;
  }
  if (ghost.back() != '/') ghost += '/';
  if (!std::filesystem::exists(ghost + "zelkaconf.xml", ignored)) {
    err << "zelka-host: " << ghost << " has no zelkaconf.xml; is it a ghost directory?\n";
    return 1;
  }
  adoptPathEncoding(ghost);
  const LearnedKnowledge knowledge = LearnedKnowledge::read(learningDirectoryOfGhost(ghost));
  GraphSelection selection;
  std::string error;
  if (!selectGraph(knowledge, options, selection, error)) {
    err << "zelka-host graph: " << error << "\n";
    return 1;
  }
  ZelkaConfig config(pathToWide(ghost).value_or(std::u16string()));
  std::string name = labelText(config.profile(u"ghost_name"));
  if (name.empty()) name = "the ghost";
  std::string title = "What " + name + " has learned";
  if (!options.root.empty()) title += " around " + displayText(options.root);
  title += " (" + std::to_string(selection.concepts.size()) + " of " +
           std::to_string(knowledge.concepts().size()) + " concepts)";
  std::string svg;
  if (!renderGraphSvg(knowledge, options, selection, title, svg, error)) {
    err << "zelka-host graph: " << error << "\n";
    return 1;
  }
  if (!replaceFileAtomically(output, svg)) {
    err << "zelka-host graph: cannot write " << output << "\n";
    return 1;
  }
  out << "zelka-host graph: " << selection.concepts.size() << " concepts and "
      << selection.words.size() << " words drawn to " << output << "\n";
  return 0;
}

}  // namespace zelka::host

// Graphviz (its configuration) and the font libraries it measures labels with keep what they
// load for the life of the process and never free it; a build with LeakSanitizer is told so,
// so that it reports only leaks of this program. Unused in other builds.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libgvc.so\n"
         "leak:libfontconfig.so\n"
         "leak:libpango\n"
         "leak:libcairo.so\n"
         "leak:libglib\n";
}
