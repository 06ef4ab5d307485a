#include "learning/concept_learning.h"

#include <algorithm>
#include <iterator>

#include "learning/knowledge_set.h"

namespace zelka {
namespace {

constexpr std::u16string_view kName = u"name";

// Limits of the bind walk: from the root (or after an added node) any child is followed,
// after a followed node only a link heard often enough.
constexpr int kOpenMode = 0;
constexpr int kFollowMode = 1;

// Writes one word between double quotes so that parseExpression reads it back unchanged: a
// double quote is escaped, and a run of backslashes at the end (whose last one would otherwise
// escape the closing quote) is written outside the quotes, followed by a blank the parser
// skips.
void appendQuotedWord(std::u16string& out, std::u16string_view word) {
  std::size_t tail = word.size();
  while (tail > 0 && word[tail - 1] == u'\\') --tail;
  out += u'"';
  for (std::size_t i = 0; i < tail; ++i) {
    if (word[i] == u'"') {
      out += u"\\\"";
    } else {
      out += word[i];
    }
  }
  if (tail < word.size()) {
    out += u'"';
    out += word.substr(tail);
    out += u" \"";
  }
  out += u'"';
}

}  // namespace

std::u16string ConceptLearning::neuronFor(std::u16string_view word) {
  WordIndexStore& index = knowledge_.wordIndex();
  WordIndexStore::Lookup found = index.findWord(word);
  if (found.entry) return found.entry.firstAlias();

  // A new word: without an index to hold it no neuron is made, so none is left orphaned.
  XmlNode root = index.root();
  if (root.empty()) return {};
  Neuron neuron = knowledge_.neuronNetwork().createNeuron();
  if (!neuron) return {};
  neuron.addExpressions({std::u16string(word)});
  // The entry is placed by sorted insertion rather than before the neighbour the lookup
  // reported: the position is the same, and the index of the sorted list stays valid, where
  // an element inserted before its key is set would make the next lookup re-check the list.
  IndexEntry entry;
  if (!entry.create(root, word)) return {};
  entry.addAlias(neuron.name());
  return entry.firstAlias();
}

void ConceptLearning::neuronsFor(std::u16string_view word, WordSet& ids) {
  WordIndexStore::Lookup found = knowledge_.wordIndex().findWord(word);
  if (found.entry) {
    for (std::u16string& id : found.entry.aliases()) ids.insert(std::move(id));
    return;
  }
  std::u16string id = neuronFor(word);
  if (!id.empty()) ids.insert(std::move(id));
}

bool ConceptLearning::learnCategory(std::u16string_view category,
                                    const std::vector<WordList>& groups) {
  NeuronNetwork& neurons = knowledge_.neuronNetwork();
  WordIndexStore& index = knowledge_.wordIndex();
  const std::u16string categoryId = neuronFor(category);
  Neuron categoryNeuron = neurons.findNeuron(categoryId);

  for (const WordList& group : groups) {
    if (group.empty()) continue;
    const std::u16string headId = neuronFor(group.front());
    Neuron head = neurons.findNeuron(headId);
    if (head.name() == categoryNeuron.name()) continue;   // no link of a concept to itself
    if (head.addExpressions(group) == 0) continue;

    categoryNeuron.connect(kDownward, kConceptLink, headId);
    head.connect(kUpward, kConceptLink, categoryId);

    XmlNode root = index.root();
    for (std::size_t i = 1; i < group.size(); ++i) {
      IndexEntry entry = index.findWord(group[i]).entry;
      if (!entry && !entry.create(root, group[i])) continue;
      entry.addAlias(headId);
    }
  }
  return true;
}

bool ConceptLearning::learnWord(std::u16string_view word) {
  BindNode current = knowledge_.bindNetwork().root();
  if (!current) return true;
  int mode = kOpenMode;
  for (char16_t c : word) {
    const std::u16string_view name(&c, 1);
    BindNode child = current.findChild(name, mode);
    if (!child) {
      // A child heard too rarely for the walk's limit is still the place where this word
      // continues: following it keeps the rest of the word in the tree.
      child = BindNode(current.element().findChildByKey(kName, name).match);
    }
    if (child) {
      current = child;
      current.reinforce();
      mode = kFollowMode;
    } else {
      BindNode added;
      if (!added.addChild(current, name)) break;   // cannot happen: the child was missing
      current = added;
      mode = kOpenMode;
    }
  }
  return true;
}

bool ConceptLearning::members(std::u16string_view id, const WordSet& excludedWords,
                              WordSet& out) {
  WordSet linked;
  Neuron neuron = knowledge_.neuronNetwork().findNeuron(id);
  if (neuron.collectLinks(kDownward, kConceptLink, linked) == 0) return false;
  WordSet excludedIds;
  for (const std::u16string& w : excludedWords) neuronsFor(w, excludedIds);
  out.clear();
  std::set_difference(linked.begin(), linked.end(), excludedIds.begin(), excludedIds.end(),
                      std::inserter(out, out.end()));
  return true;
}

bool ConceptLearning::associate(std::uint64_t depthLimit, std::uint64_t& depthCounter,
                                std::u16string_view expression, std::u16string& word) {
  return walk(depthLimit, depthCounter, expression, nullptr, word);
}

bool ConceptLearning::unify(std::uint64_t depthLimit, std::uint64_t& depthCounter,
                            std::u16string_view expression, std::u16string_view target,
                            std::u16string& word) {
  return walk(depthLimit, depthCounter, expression, &target, word);
}

// One level per pass of the loop. A level that cannot choose hands back the expression the
// level above chose (or fails when it is the top level); a level whose word has no members
// answers the word itself. The excluded words stay the same at every level, so their
// neurons are resolved once per walk.
bool ConceptLearning::walk(std::uint64_t depthLimit, std::uint64_t& depthCounter,
                           std::u16string_view expression, const std::u16string_view* target,
                           std::u16string& word) {
  depthLimit = std::min(depthLimit, kMaxAssociationDepth);
  NeuronNetwork& neurons = knowledge_.neuronNetwork();

  std::u16string text(expression);
  bool haveFallback = false;
  std::u16string fallback;
  bool excludedResolved = false;
  WordSet excludedWords;
  WordSet excludedIds;

  while (depthCounter <= depthLimit) {
    WordList plus;
    WordSet minus;
    parseExpression(text, plus, minus);
    if (plus.empty()) break;
    const std::u16string chosen =
        plus[knowledge_.randomUpTo(static_cast<std::uint32_t>(plus.size())) - 1];

    WordSet linked;
    Neuron neuron = neurons.findNeuron(neuronFor(chosen));
    if (neuron.collectLinks(kDownward, kConceptLink, linked) == 0) {
      word = chosen;
      return true;
    }
    if (!excludedResolved || minus != excludedWords) {
      excludedIds.clear();
      for (const std::u16string& w : minus) neuronsFor(w, excludedIds);
      excludedWords = minus;
      excludedResolved = true;
    }
    // The members in set order, as views into `linked` (no copies on this path).
    std::vector<const std::u16string*> candidates;
    candidates.reserve(linked.size());
    for (const std::u16string& id : linked) {
      if (excludedIds.count(id) == 0) candidates.push_back(&id);
    }

    if (target != nullptr) {
      WordSet targetIds;
      neuronsFor(*target, targetIds);
      std::vector<const std::u16string*> shared;
      for (const std::u16string* id : candidates) {
        if (targetIds.count(*id) != 0) shared.push_back(id);
      }
      if (!shared.empty()) candidates.swap(shared);
    }
    if (candidates.empty()) break;

    const std::u16string& member =
        *candidates[knowledge_.randomUpTo(static_cast<std::uint32_t>(candidates.size())) - 1];
    fallback = neurons.findNeuron(member).firstExpression();
    haveFallback = true;
    ++depthCounter;
    text = formatExpression(fallback, minus);
  }
  if (!haveFallback) return false;
  word = fallback;
  return true;
}

bool parseExpression(std::u16string_view text, WordList& plus, WordSet& minus) {
  std::u16string token;
  bool minusSign = false;
  bool quoted = false;
  bool malformed = false;
  std::int64_t nesting = 0;

  auto endToken = [&] {
    if (token.empty()) return;
    if (minusSign) {
      minus.insert(token);
    } else {
      plus.push_back(token);
    }
    token.clear();
  };

  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\\' && i + 1 < text.size() && text[i + 1] == u'"') {
      token += u'"';
      ++i;
      continue;
    }
    if (c == u'"') {
      quoted = !quoted;
      continue;
    }
    if (quoted) {
      token += c;
      continue;
    }
    switch (c) {
      case u' ':
        break;
      case u'(':
        ++nesting;
        break;
      case u')':
        if (--nesting < 0) malformed = true;
        break;
      case u'+':
        endToken();
        minusSign = false;
        break;
      case u',':
        endToken();
        break;
      case u'-':
        endToken();
        minusSign = true;
        break;
      default:
        token += c;
        break;
    }
  }
  if (malformed) return false;
  endToken();
  return true;
}

std::u16string formatExpression(std::u16string_view word, const WordSet& minus) {
  std::u16string out = u"(";
  appendQuotedWord(out, word);
  out += u')';
  if (!minus.empty()) {
    out += u"-(";
    bool first = true;
    for (const std::u16string& x : minus) {
      if (!first) out += u',';
      first = false;
      appendQuotedWord(out, x);
    }
    out += u')';
  }
  return out;
}

bool splitCallArguments(std::u16string_view text, WordList& arguments) {
  arguments.clear();
  std::u16string argument;
  bool quoted = false;
  std::int64_t nesting = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\\' && i + 1 < text.size() && text[i + 1] == u'"') {
      argument += u"\\\"";
      ++i;
      continue;
    }
    if (c == u'"') {
      quoted = !quoted;
      argument += c;
      continue;
    }
    if (quoted) {
      argument += c;
      continue;
    }
    switch (c) {
      case u' ':
        break;
      case u'(':
        ++nesting;
        argument += c;
        break;
      case u')':
        if (--nesting < 0) return false;
        argument += c;
        break;
      case u',':
        if (nesting == 0) {
          arguments.push_back(std::move(argument));
          argument.clear();
        } else {
          argument += c;
        }
        break;
      default:
        argument += c;
        break;
    }
  }
  if (!argument.empty() && nesting == 0 && !quoted) arguments.push_back(std::move(argument));
  return true;
}

std::uint64_t depthArgument(const WordList& arguments, std::size_t index) {
  if (index >= arguments.size()) return kDefaultAssociationDepth;
  std::uint64_t value = 0;
  for (char16_t c : arguments[index]) {
    if (c < u'0' || c > u'9') return kDefaultAssociationDepth;
    // Saturates instead of wrapping; anything past the cap means the same.
    if (value <= kMaxAssociationDepth) value = value * 10 + (c - u'0');
  }
  return std::min(value, kMaxAssociationDepth);
}

std::u16string unescapeWord(std::u16string_view argument) {
  std::u16string out;
  out.reserve(argument.size());
  for (std::size_t i = 0; i < argument.size(); ++i) {
    if (argument[i] == u'\\' && i + 1 < argument.size() && argument[i + 1] == u'"') {
      out += u'"';
      ++i;
    } else {
      out += argument[i];
    }
  }
  return out;
}

}  // namespace zelka
