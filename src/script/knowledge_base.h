// The authored talk read from the knowledge files: entries filed by token, equal tokens in
// the order they were read.
#pragma once

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
};

using KnowledgeBase = std::multimap<std::string, KnowledgeEntry>;

}  // namespace zelka
