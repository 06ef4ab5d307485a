#include "learned_report.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <map>
#include <set>
#include <system_error>
#include <vector>

#include "config/zelka_config.h"
#include "terminal_text.h"
#include "platform/file_system.h"
#include "platform/path_text.h"
#include "platform/text_codec.h"
#include "util/number_text.h"

namespace zelka::host {

namespace {

constexpr const char* kSnapshotHeading = "zelka learned snapshot 1";

std::string plural(std::size_t n, const std::string& one, const std::string& many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Counts are derived from stored logarithms; they are shown as whole walks.
std::string walks(double count) { return std::to_string(std::llround(count)); }

std::string strengthText(double strength) { return formatFixed(strength, 2); }

std::string localTime(std::filesystem::file_time_type time) {
  const auto system = std::chrono::file_clock::to_sys(time);
  const std::time_t seconds = std::chrono::system_clock::to_time_t(
      std::chrono::time_point_cast<std::chrono::system_clock::duration>(system));
  std::tm parts{};
  localtime_r(&seconds, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return text;
}

// The words of a concept after its display word, "(also a, b)", or empty.
std::string otherWords(const LearnedConcept& item) {
  if (item.words.size() < 2) return {};
  std::string out = " (also ";
  for (std::size_t i = 1; i < item.words.size(); ++i) {
    if (i > 1) out += ", ";
    out += displayText(item.words[i]);
  }
  return out + ")";
}

std::string moreLine(const std::string& indent, std::size_t shown, std::size_t all) {
  return indent + "... and " + std::to_string(all - shown) + " more (--limit 0 shows all)\n";
}

std::size_t shownOf(std::size_t all, const LearnedReportOptions& options) {
  return options.limit == 0 ? all : std::min(all, options.limit);
}

void printFiles(const LearnedKnowledge& k, std::ostream& out) {
  for (const LearnedFile& file : k.files()) {
    if (file.state == LearnedFileState::kMissing) {
      out << "  " << file.name << " is missing (the ghost has not saved it yet)\n";
    } else if (file.state == LearnedFileState::kBroken) {
      out << "  " << file.name << " cannot be read: " << file.problem << "\n";
    }
  }
}

// Categories whose categories are not themselves categories stand at the top; a cycle of
// categories that has no such entry is entered at its first category in id order.
void printCategories(const LearnedKnowledge& k, const LearnedReportOptions& options,
                     std::ostream& out) {
  const auto& concepts = k.concepts();
  std::vector<std::size_t> tops;
  std::size_t categories = 0;
  for (std::size_t i = 0; i < concepts.size(); ++i) {
    if (!concepts[i].isCategory()) continue;
    ++categories;
    const bool below = std::any_of(concepts[i].up.begin(), concepts[i].up.end(),
                                   [&](const ConceptLink& l) {
                                     return concepts[l.target].isCategory() && l.target != i;
                                   });
    if (!below) tops.push_back(i);
  }
  out << "\nCategories, each with its members (a member's other words in brackets):\n";
  if (categories == 0) {
    out << "  (none yet: categories come from the dictionaries of the vendor directory)\n";
    return;
  }
  std::vector<bool> shown(concepts.size(), false);
  std::size_t topsShown = 0;
  std::vector<std::size_t> order = tops;
  for (std::size_t i = 0; i < concepts.size(); ++i) {
    if (concepts[i].isCategory()) order.push_back(i);
  }
  // A walk with an explicit stack of frames (categories can nest deeply), so that a
  // category's "more" line follows the members it stands for.
  struct Frame {
    std::size_t item;
    std::size_t depth;
    std::size_t next = 0;   // next member to print
    std::size_t count = 0;  // members to print
  };
  for (std::size_t top : order) {
    if (shown[top]) continue;
    if (options.limit != 0 && topsShown == options.limit) {
      std::size_t left = 0;
      for (std::size_t i : tops) left += !shown[i];
      if (left > 0) out << "  ... and " << left << " more categories (--limit 0 shows all)\n";
      break;
    }
    ++topsShown;
    std::vector<Frame> frames;
    auto enter = [&](std::size_t item, std::size_t depth) {
      const LearnedConcept& c = concepts[item];
      out << std::string(2 * depth, ' ') << displayText(c.displayWord()) << otherWords(c);
      if (c.isCategory() && shown[item]) {
        out << " (members listed above)\n";
        return;
      }
      out << "\n";
      if (!c.isCategory()) return;
      shown[item] = true;
      frames.push_back({item, depth, 0, shownOf(c.down.size(), options)});
    };
    enter(top, 1);
    while (!frames.empty()) {
      Frame& frame = frames.back();
      const LearnedConcept& c = concepts[frame.item];
      if (frame.next < frame.count) {
        const std::size_t member = c.down[frame.next++].target;
        enter(member, frame.depth + 1);
        continue;
      }
      if (frame.count < c.down.size()) {
        out << moreLine(std::string(2 * frame.depth + 2, ' '), frame.count, c.down.size());
      }
      frames.pop_back();
    }
  }
}

void printConcepts(const LearnedKnowledge& k, const LearnedReportOptions& options,
                   std::ostream& out) {
  const auto& concepts = k.concepts();
  std::vector<std::size_t> order(concepts.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    if (concepts[a].passages != concepts[b].passages) {
      return concepts[a].passages > concepts[b].passages;
    }
    return concepts[a].up.size() + concepts[a].down.size() >
           concepts[b].up.size() + concepts[b].down.size();
  });
  out << "\nConcepts, the most met first (met: walks through the word in the bind network),\n"
         "with their strongest associations (link strength in brackets):\n";
  if (order.empty()) {
    out << "  (none yet)\n";
    return;
  }
  const std::size_t count = shownOf(order.size(), options);
  constexpr std::size_t kAssociations = 5;
  for (std::size_t n = 0; n < count; ++n) {
    const std::size_t i = order[n];
    const LearnedConcept& c = concepts[i];
    out << "  " << displayText(c.displayWord()) << otherWords(c) << ", met "
        << walks(c.passages) << (std::llround(c.passages) == 1 ? " time" : " times") << "\n";
    const std::vector<ConceptLink> links = k.strongestLinks(i);
    if (links.empty()) continue;
    out << "      ";
    for (std::size_t l = 0; l < links.size() && l < kAssociations; ++l) {
      const ConceptLink& link = links[l];
      const bool up = std::any_of(c.up.begin(), c.up.end(),
                                  [&](const ConceptLink& u) { return u.target == link.target; });
      out << (l == 0 ? "" : ", ") << (up ? "in " : "has ")
          << displayText(concepts[link.target].displayWord()) << " ("
          << strengthText(k.linkStrength(link)) << ")";
    }
    if (links.size() > kAssociations) out << ", ... " << links.size() - kAssociations << " more";
    out << "\n";
  }
  if (count < order.size()) out << moreLine("  ", count, order.size());
}

void printExpressions(const LearnedKnowledge& k, const LearnedReportOptions& options,
                      std::ostream& out) {
  const std::vector<std::size_t> expressions = k.expressions();
  out << "\nMost reinforced expressions of the bind network (texts taken as a whole: how many\n"
         "walks ended there, and how many walked through them):\n";
  if (expressions.empty()) {
    out << "  (none yet)\n";
    return;
  }
  const std::size_t count = shownOf(expressions.size(), options);
  for (std::size_t n = 0; n < count; ++n) {
    const BindPath& p = k.paths()[expressions[n]];
    out << "  " << displayText(k.pathText(expressions[n])) << "  " << walks(p.passages - p.continued)
        << " ended, " << walks(p.passages) << " walked\n";
  }
  if (count < expressions.size()) out << moreLine("  ", count, expressions.size());
}

void printVariables(const LearnedKnowledge& k, const LearnedReportOptions& options,
                    std::ostream& out) {
  out << "\nVariables of reflex.txt:\n";
  const auto& variables = k.variables();
  if (variables.empty()) {
    out << "  (none yet: the ghost writes them when it is unloaded)\n";
    return;
  }
  const std::size_t count = shownOf(variables.size(), options);
  for (std::size_t n = 0; n < count; ++n) {
    out << "  " << shiftJisToDisplay(variables[n].first) << " = "
        << shiftJisToDisplay(variables[n].second) << "\n";
  }
  if (count < variables.size()) out << moreLine("  ", count, variables.size());
}

// ----- Snapshot -----

std::string escapeField(std::u16string_view text) {
  std::string out;
  for (char c : utf16ToUtf8(text)) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

std::u16string unescapeField(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\' || i + 1 == field.size()) {
      out += field[i];
      continue;
    }
    const char next = field[++i];
    out += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
  }
  return utf8ToUtf16(out);
}

struct Snapshot {
  std::set<std::u16string> words;
  std::map<std::u16string, std::vector<std::u16string>> concepts;  // id -> words
  std::map<std::pair<std::u16string, std::u16string>, double> links;  // (from, to) -> distance
  std::map<std::u16string, double> paths;                             // text -> passages
};

bool readSnapshot(const std::string& path, Snapshot& snapshot, std::string& error) {
  std::optional<std::string> bytes = readFile(path);
  if (!bytes) {
    error = "cannot read the snapshot " + path;
    return false;
  }
  std::string_view text(*bytes);
  std::size_t pos = 0;
  bool first = true;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (first) {
      if (line != kSnapshotHeading) {
        error = path + " is not a snapshot of zelka-host learned (its first line is not \"" +
                kSnapshotHeading + "\")";
        return false;
      }
      first = false;
      continue;
    }
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
      std::size_t tab = line.find('\t', start);
      fields.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
      if (tab == std::string_view::npos) break;
      start = tab + 1;
    }
    if (fields[0] == "word" && fields.size() >= 2) {
      snapshot.words.insert(unescapeField(fields[1]));
    } else if (fields[0] == "concept" && fields.size() >= 2) {
      auto& words = snapshot.concepts[unescapeField(fields[1])];
      for (std::size_t f = 2; f < fields.size(); ++f) words.push_back(unescapeField(fields[f]));
    } else if (fields[0] == "link" && fields.size() >= 4) {
      snapshot.links[{unescapeField(fields[1]), unescapeField(fields[2])}] =
          parseDoublePrefix(fields[3]);
    } else if (fields[0] == "path" && fields.size() >= 3) {
      snapshot.paths[unescapeField(fields[1])] = parseDoublePrefix(fields[2]);
    }
  }
  if (first) {
    error = path + " is empty";
    return false;
  }
  return true;
}

}  // namespace

void printLearned(const LearnedKnowledge& k, const LearnedReportOptions& options,
                  std::ostream& out) {
  out << "What " << options.ghostName << " has learned, from " << k.learningDirectory();
  if (auto saved = k.savedAt()) out << " (saved " << localTime(*saved) << ")";
  out << ":\n";
  std::size_t categories = 0;
  for (const LearnedConcept& c : k.concepts()) categories += c.isCategory();
  out << "  " << plural(k.concepts().size(), "concept", "concepts") << " ("
      << plural(categories, "category", "categories") << "), "
      << plural(k.words().size(), "word", "words") << ", "
      << plural(k.paths().size(), "path", "paths") << " in the bind network, "
      << plural(k.variables().size(), "variable", "variables") << "\n";
  printFiles(k, out);
  printCategories(k, options, out);
  printConcepts(k, options, out);
  printExpressions(k, options, out);
  printVariables(k, options, out);
}

bool saveLearnedSnapshot(const LearnedKnowledge& k, const std::string& path, std::string& error) {
  std::string text = std::string(kSnapshotHeading) + "\n";
  for (const auto& [word, ids] : k.words()) {
    text += "word\t" + escapeField(word);
    for (const std::u16string& id : ids) text += "\t" + escapeField(id);
    text += "\n";
  }
  for (const LearnedConcept& c : k.concepts()) {
    text += "concept\t" + escapeField(c.id);
    for (const std::u16string& w : c.words) text += "\t" + escapeField(w);
    text += "\n";
  }
  for (const LearnedConcept& c : k.concepts()) {
    for (const ConceptLink& link : c.down) {
      text += "link\t" + escapeField(c.id) + "\t" + escapeField(k.concepts()[link.target].id) +
              "\t" + formatScientific(link.distance, 15) + "\n";
    }
  }
  for (std::size_t i = 0; i < k.paths().size(); ++i) {
    text += "path\t" + escapeField(k.pathText(i)) + "\t" +
            formatScientific(k.paths()[i].passages, 15) + "\n";
  }
  if (!replaceFileAtomically(path, text)) {
    error = "cannot write the snapshot " + path;
    return false;
  }
  return true;
}

bool printLearnedSince(const LearnedKnowledge& k, const std::string& snapshotPath,
                       const LearnedReportOptions& options, std::ostream& out,
                       std::string& error) {
  Snapshot before;
  if (!readSnapshot(snapshotPath, before, error)) return false;
  std::error_code ignored;
  const auto taken = std::filesystem::last_write_time(snapshotPath, ignored);
  out << "\nSince the snapshot " << snapshotPath;
  if (!ignored) out << " (taken " << localTime(taken) << ")";
  out << ":\n";
  const auto& concepts = k.concepts();
  bool any = false;

  auto list = [&](const std::string& heading, const std::vector<std::string>& lines) {
    if (lines.empty()) return;
    any = true;
    out << "  " << heading << " (" << lines.size() << "):\n";
    const std::size_t count = shownOf(lines.size(), options);
    for (std::size_t n = 0; n < count; ++n) out << "    " << lines[n] << "\n";
    if (count < lines.size()) out << moreLine("    ", count, lines.size());
  };

  std::vector<std::string> lines;
  for (const auto& [word, ids] : k.words()) {
    if (before.words.count(word) == 0) lines.push_back(displayText(word));
  }
  list("new words", lines);

  lines.clear();
  for (const LearnedConcept& c : concepts) {
    if (before.concepts.count(c.id) == 0) {
      lines.push_back(displayText(c.displayWord()) + otherWords(c));
    }
  }
  list("new concepts", lines);

  lines.clear();
  std::vector<std::string> stronger;
  for (const LearnedConcept& c : concepts) {
    for (const ConceptLink& link : c.down) {
      const LearnedConcept& member = concepts[link.target];
      const std::string text = displayText(member.displayWord()) + " in " +
                               displayText(c.displayWord());
      auto old = before.links.find({c.id, member.id});
      if (old == before.links.end()) {
        lines.push_back(text);
      } else if (link.distance < old->second) {
        stronger.push_back(text + ": share " + formatFixed(std::pow(10.0, -old->second), 3) +
                           " -> " + formatFixed(std::pow(10.0, -link.distance), 3));
      }
    }
  }
  list("new links of the concept network", lines);
  list("strengthened links of the concept network", stronger);

  struct Grown {
    std::size_t path;
    double from;
  };
  std::vector<Grown> grown;
  for (std::size_t i : k.expressions()) {
    auto old = before.paths.find(k.pathText(i));
    const double from = old == before.paths.end() ? 0.0 : old->second;
    if (k.paths()[i].passages - from >= 0.5) grown.push_back({i, from});
  }
  std::stable_sort(grown.begin(), grown.end(), [&](const Grown& a, const Grown& b) {
    return k.paths()[a.path].passages - a.from > k.paths()[b.path].passages - b.from;
  });
  lines.clear();
  for (const Grown& g : grown) {
    lines.push_back(displayText(k.pathText(g.path)) + "  " + walks(g.from) + " -> " +
                    walks(k.paths()[g.path].passages) + " walks");
  }
  list("strengthened expressions of the bind network", lines);

  std::set<std::u16string> now;
  for (const auto& entry : k.words()) now.insert(entry.first);
  std::size_t gone = 0;
  for (const std::u16string& word : before.words) gone += now.count(word) == 0;
  if (gone > 0) {
    any = true;
    out << "  " << plural(gone, "word of the snapshot is", "words of the snapshot are")
        << " no longer in index.xml\n";
  }
  if (!any) out << "  nothing new\n";
  return true;
}

void printSavedLearned(const std::string& learningDirectory, const std::string& ghostName,
                       std::ostream& out) {
  const LearnedKnowledge knowledge = LearnedKnowledge::read(learningDirectory);
  out << "(from the ghost's files";
  if (auto saved = knowledge.savedAt()) {
    const long long age = std::max<long long>(
        0, std::chrono::duration_cast<std::chrono::seconds>(
               std::filesystem::file_time_type::clock::now() - *saved)
               .count());
    out << ", saved " << (age < 120    ? std::to_string(age) + " s"
                          : age < 7200 ? std::to_string(age / 60) + " min"
                                       : std::to_string(age / 3600) + " h")
        << " ago";
  }
  out << ": what the ghost learned after that\n"
         " shows once it saves again, at the latest when it is closed)\n";
  LearnedReportOptions options;
  options.ghostName = ghostName;
  printLearned(knowledge, options, out);
}

std::string learningDirectoryOfGhost(const std::string& ghostDirectory) {
  ZelkaConfig config(pathToWide(ghostDirectory).value_or(std::u16string()));
  return ghostDirectory +
         pathFromWide(config.directory(u"Directory", u"learning")).value_or(std::string());
}

int runLearned(int argc, char** argv, std::ostream& out, std::ostream& err) {
  const char* usage =
      "usage: zelka-host learned [--limit N] [--since SNAPSHOT] [--save-snapshot FILE] "
      "GHOST_DIR\n";
  LearnedReportOptions options;
  std::string ghost, since, saveTo;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--limit" && hasValue) {
      const std::string value = argv[++i];
      if (value.empty() || value.size() > 9 ||
          value.find_first_not_of("0123456789") != std::string::npos) {
        err << "zelka-host learned: --limit takes a number (0 for all), not '" << value << "'\n";
        return 2;
      }
      options.limit = std::stoul(value);
    } else if (arg == "--since" && hasValue) {
      since = argv[++i];
    } else if (arg == "--save-snapshot" && hasValue) {
      saveTo = argv[++i];
    } else if (!arg.empty() && arg[0] != '-' && ghost.empty()) {
      ghost = arg;
    } else {
      err << usage;
      return 2;
    }
  }
  if (ghost.empty()) {
    err << usage;
    return 2;
  }
  std::error_code error;
  if (!std::filesystem::is_directory(ghost, error)) {
    err << "zelka-host: no ghost directory at " << ghost << "\n";
    return 1;
  }
  if (ghost.back() != '/') ghost += '/';
  if (!std::filesystem::exists(ghost + "zelkaconf.xml", error)) {
    err << "zelka-host: " << ghost << " has no zelkaconf.xml; is it a ghost directory?\n";
    return 1;
  }
  adoptPathEncoding(ghost);
  const std::string name = displayText(
      ZelkaConfig(pathToWide(ghost).value_or(std::u16string())).profile(u"ghost_name"));
  if (!name.empty()) options.ghostName = name;
  const LearnedKnowledge knowledge = LearnedKnowledge::read(learningDirectoryOfGhost(ghost));
  printLearned(knowledge, options, out);
  std::string problem;
  if (!since.empty() && !printLearnedSince(knowledge, since, options, out, problem)) {
    err << "zelka-host: " << problem << "\n";
    return 1;
  }
  if (!saveTo.empty()) {
    if (!saveLearnedSnapshot(knowledge, saveTo, problem)) {
      err << "zelka-host: " << problem << "\n";
      return 1;
    }
    out << "\nSnapshot saved to " << saveTo << "; zelka-host learned --since " << saveTo
        << " shows what changes from now on.\n";
  }
  return 0;
}

}  // namespace zelka::host
