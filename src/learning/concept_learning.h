// Concept learning and association over a knowledge set: words resolve to neurons through the
// word index (creating both for a new word), a dictionary line becomes a synonym group (one
// neuron carrying all its words, linked below its category), words are learned character by
// character in the bind network, and association walks down from a word's concept to random
// members, up to a depth limit; unification prefers members the target word also belongs to.
//
// Expression notation: included and excluded words, ("w")-("x","y"). Inside double quotes
// every character is literal except the escape \" for a double quote. formatExpression
// writes any word so that parseExpression reads it back exactly (quotes, backslashes,
// brackets, commas and signs included).
//
// Everything runs on the host's calling thread; learnWord must not run while a think pass is
// walking the bind network. DOM failures propagate as XmlError.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace zelka {

class KnowledgeSet;

using WordList = std::vector<std::u16string>;
// Ordered by UTF-16 code units, a proper prefix before any longer text it begins.
using WordSet = std::set<std::u16string>;

// The depth limit of association when the script names none, and the most any script may
// ask for (a walk round a cycle of categories stops there).
inline constexpr std::uint64_t kDefaultAssociationDepth = 3;
inline constexpr std::uint64_t kMaxAssociationDepth = 256;

class ConceptLearning {
 public:
  explicit ConceptLearning(KnowledgeSet& knowledge) : knowledge_(knowledge) {}

  // The word's current neuron id (its newest alias), creating neuron and index entry for a
  // new word. Empty when the entry has no alias or the stores hold no root element.
  std::u16string neuronFor(std::u16string_view word);
  // Inserts every neuron id the word stands for, creating them as neuronFor does.
  void neuronsFor(std::u16string_view word, WordSet& ids);

  // Links each non-empty group below the category: the group's first word's neuron takes the
  // whole group as expressions and becomes every other word's newest meaning. A group whose
  // head is the category itself is skipped. Answers true.
  bool learnCategory(std::u16string_view category, const std::vector<WordList>& groups);

  // Walks the word through the bind network from the root, one UTF-16 code unit at a time:
  // a child within the walk's limit (100.0 from the root or after an added node, 0.5 after a
  // followed one) is reinforced and followed; an existing child beyond the limit is treated
  // the same way, so the rest of the word is learned under it; only a missing child is added.
  // Answers true.
  bool learnWord(std::u16string_view word);

  // The downward concept links of the neuron, without the neurons of the excluded words
  // (whose neurons are created when new). False when the neuron has no such link.
  bool members(std::u16string_view id, const WordSet& excludedWords, WordSet& out);

  // A word related to the expression's included words, walking down at most until the depth
  // counter exceeds the limit (the limit is capped at kMaxAssociationDepth). The counter
  // counts levels across the walk. False when nothing could be chosen at the top level.
  bool associate(std::uint64_t depthLimit, std::uint64_t& depthCounter,
                 std::u16string_view expression, std::u16string& word);
  // The same, choosing among members the target word also stands for when there are any.
  bool unify(std::uint64_t depthLimit, std::uint64_t& depthCounter,
             std::u16string_view expression, std::u16string_view target, std::u16string& word);

 private:
  bool walk(std::uint64_t depthLimit, std::uint64_t& depthCounter,
            std::u16string_view expression, const std::u16string_view* target,
            std::u16string& word);

  KnowledgeSet& knowledge_;
};

// Reads the notation: included words into plus (in order), excluded words into minus. False
// when a ")" closes more than was opened; the words read up to then are still delivered.
bool parseExpression(std::u16string_view text, WordList& plus, WordSet& minus);
// ("word"), followed by -("x","y") when there are excluded words.
std::u16string formatExpression(std::u16string_view word, const WordSet& minus);

// Splits a script's argument text at commas outside brackets and double quotes. Spaces outside
// quotes are dropped; quotes and brackets are kept; the escape \" is kept as written, so that
// parseExpression reads it as a double quote. False when a ")" closes more than was opened. A
// final argument that is empty, inside an open bracket or an open quote is not added.
bool splitCallArguments(std::u16string_view text, WordList& arguments);
// A depth argument: digits only (the empty text is 0), read saturating and capped at
// kMaxAssociationDepth; kDefaultAssociationDepth when the argument is absent or not a number.
std::uint64_t depthArgument(const WordList& arguments, std::size_t index);
// The argument as a plain word: the escape \" becomes a double quote.
std::u16string unescapeWord(std::u16string_view argument);

}  // namespace zelka
