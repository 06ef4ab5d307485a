// The authored talk read from the knowledge files: entries filed by token, equal tokens in
// the order they were read.
#pragma once

#include <cstddef>
#include <map>
#include <string>

namespace zelka {

struct KnowledgeEntry {
  std::string token;          // the key
  int emotionLimit = 0;       // second word of the token line (atoi)
  std::string script;
  std::string source;         // file name of the knowledge file
  std::string conditionalElse;
  std::string conditional;
  // Where the entry was written, for messages to the author (1-based lines of the file; 0
  // when not known): the block's opening brace and the first line of this script.
  std::size_t blockLine = 0;
  std::size_t scriptLine = 0;
};

using KnowledgeBase = std::multimap<std::string, KnowledgeEntry>;

}  // namespace zelka
