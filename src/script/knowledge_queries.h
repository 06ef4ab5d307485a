// What the script language asks of the learned knowledge: association, unification and the
// synchronous segmentation pass. The learning engine implements it; tests use fakes.
#pragma once

#include <deque>
#include <string>

namespace zelka {

class KnowledgeQueries {
 public:
  virtual ~KnowledgeQueries() = default;
  virtual bool associateCall(const std::u16string& argument, std::u16string& word) = 0;
  virtual bool unifyCall(const std::u16string& argument, std::u16string& word, bool swap) = 0;
  // Runs the segmentation pass on the calling thread; 1, 2 or 3.
  virtual int thinkNow(const std::u16string& sender, const std::u16string& securityLevel,
                       const std::u16string& text, std::deque<std::u16string>& segments) = 0;
  virtual int acceptThinking(int level) = 0;
  virtual int thinkResult() const = 0;
};

}  // namespace zelka
