#include "store_census.h"

#include <vector>

#include "platform/file_system.h"
#include "xml/xml_document.h"

namespace zelka::host {

namespace {

// Opens a store file from its bytes, so the document is bound to no file and nothing is
// ever written back or set aside.
StoreState openStore(const std::string& path, XmlDocument& document) {
  if (!fileExists(path)) return StoreState::kMissing;
  std::optional<std::string> bytes = readFile(path);
  if (!bytes) return StoreState::kUnreadable;
  return document.openFromText(*bytes) == XmlOpenResult::Loaded ? StoreState::kRead
                                                                 : StoreState::kBroken;
}

// Counts the elements with the tag in the subtree below `top` (not `top` itself), walking
// without recursion: a learned path can be as deep as the longest text ever heard.
std::size_t countBelow(const XmlNode& top, std::u16string_view tag) {
  std::size_t count = 0;
  std::vector<XmlNode> stack;
  for (XmlNode child = top.firstChild(); child; child = child.nextSibling()) {
    stack.push_back(child);
  }
  while (!stack.empty()) {
    XmlNode element = stack.back();
    stack.pop_back();
    if (element.tagName() == tag) ++count;
    for (XmlNode child = element.firstChild(); child; child = child.nextSibling()) {
      stack.push_back(child);
    }
  }
  return count;
}

std::size_t countChildren(const XmlNode& parent, std::u16string_view tag) {
  std::size_t count = 0;
  for (XmlNode child = parent.firstChild(); child; child = child.nextSibling()) {
    if (child.tagName() == tag) ++count;
  }
  return count;
}

std::string stateText(StoreState state) {
  switch (state) {
    case StoreState::kMissing: return "missing (the next load creates it)";
    case StoreState::kUnreadable: return "cannot be read";
    case StoreState::kBroken: return "does not parse (the next load sets it aside and starts afresh)";
    case StoreState::kRead: break;
  }
  return {};
}

std::string plural(std::size_t n, const std::string& one, const std::string& many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

LearnedStores countLearnedStores(const std::string& learningDirectory) {
  LearnedStores stores;
  {
    XmlDocument document;
    stores.bind.state = openStore(learningDirectory + "bind.xml", document);
    if (stores.bind.state == StoreState::kRead) {
      XmlNode root = document.documentElementWithAttribute(u"Bind", u"name", u"root");
      stores.bind.items = root ? countBelow(root, u"Bind") : 0;
    }
  }
  {
    XmlDocument document;
    stores.index.state = openStore(learningDirectory + "index.xml", document);
    if (stores.index.state == StoreState::kRead) {
      XmlNode root = document.documentElement(u"WordIndexes");
      for (XmlNode entry = root.firstChild(); entry; entry = entry.nextSibling()) {
        if (entry.tagName() != u"Index") continue;
        ++stores.index.items;
        stores.index.links += countChildren(entry, u"Alias");
      }
    }
  }
  {
    XmlDocument document;
    stores.journal.state = openStore(learningDirectory + "journal.xml", document);
    if (stores.journal.state == StoreState::kRead) {
      stores.journal.items = document.documentElement(u"SentenceJournal").childCount();
    }
  }
  {
    XmlDocument document;
    stores.neurons.state = openStore(learningDirectory + "neuron.xml", document);
    if (stores.neurons.state == StoreState::kRead) {
      XmlNode root = document.documentElement(u"NeuronStructure");
      stores.neurons.items = countChildren(root, u"Neuron");
      stores.neurons.links = countBelow(root, u"Synapse");
    }
  }
  const std::string reflexPath = learningDirectory + "reflex.txt";
  if (fileExists(reflexPath)) {
    std::optional<std::string> bytes = readFile(reflexPath);
    stores.reflex.state = bytes ? StoreState::kRead : StoreState::kUnreadable;
    if (bytes) {
      // One variable per line: name, the byte 0x01, value.
      std::size_t start = 0;
      while (start < bytes->size()) {
        std::size_t end = bytes->find('\n', start);
        if (end == std::string::npos) end = bytes->size();
        if (bytes->find('\x01', start) < end) ++stores.reflex.items;
        start = end + 1;
      }
    }
  }
  return stores;
}

std::string describeStores(const LearnedStores& stores, const std::string& indent) {
  std::string out;
  auto line = [&](const char* file, const StoreCount& count, const std::string& read) {
    out += indent + file + ": " + (count.state == StoreState::kRead ? read : stateText(count.state)) +
           "\n";
  };
  line("bind.xml", stores.bind, plural(stores.bind.items, "Bind node", "Bind nodes"));
  line("index.xml", stores.index,
       plural(stores.index.items, "word", "words") + " (" +
           plural(stores.index.links, "alias", "aliases") + ")");
  line("journal.xml", stores.journal, plural(stores.journal.items, "entry", "entries"));
  line("neuron.xml", stores.neurons,
       plural(stores.neurons.items, "neuron", "neurons") + " (" +
           plural(stores.neurons.links, "synapse", "synapses") + ")");
  if (stores.reflex.state == StoreState::kMissing) {
    out += indent + "reflex.txt: missing (written at unload)\n";
  } else {
    line("reflex.txt", stores.reflex, plural(stores.reflex.items, "variable", "variables"));
  }
  return out;
}

std::string storeTable(const std::vector<std::pair<std::string, LearnedStores>>& columns,
                       const std::string& indent) {
  struct Row {
    const char* name;
    std::size_t (*value)(const LearnedStores&);
  };
  static constexpr Row kRows[] = {
      {"Bind nodes", [](const LearnedStores& s) { return s.bind.items; }},
      {"index words", [](const LearnedStores& s) { return s.index.items; }},
      {"aliases", [](const LearnedStores& s) { return s.index.links; }},
      {"neurons", [](const LearnedStores& s) { return s.neurons.items; }},
      {"synapses", [](const LearnedStores& s) { return s.neurons.links; }},
      {"variables", [](const LearnedStores& s) { return s.reflex.items; }},
  };
  constexpr std::size_t kNameWidth = 13;
  auto cell = [](const std::string& text, std::size_t width) {
    return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
  };
  std::string out = indent + std::string(kNameWidth, ' ');
  for (const auto& [heading, stores] : columns) out += "  " + heading;
  out += "\n";
  for (const Row& row : kRows) {
    out += indent + row.name + std::string(kNameWidth - std::string(row.name).size(), ' ');
    for (const auto& [heading, stores] : columns) {
      out += "  " + cell(std::to_string(row.value(stores)), heading.size());
    }
    out += "\n";
  }
  return out;
}

}  // namespace zelka::host
