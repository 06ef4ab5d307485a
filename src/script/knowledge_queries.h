// What the script language asks of the learned knowledge: association, unification and the
// synchronous segmentation pass. The learning engine implements it; tests use fakes. The think
// codes these calls answer are named in think_codes.h.
#pragma once

#include <deque>
#include <string>

#include "script/think_codes.h"

namespace zelka {

class KnowledgeQueries {
 public:
  virtual ~KnowledgeQueries() = default;
  virtual bool associateCall(const std::u16string& argument, std::u16string& word) = 0;
  virtual bool unifyCall(const std::u16string& argument, std::u16string& word, bool swap) = 0;
  // Runs the segmentation pass on the calling thread; a ThinkResult other than kThinkUnset.
  virtual int thinkNow(const std::u16string& sender, const std::u16string& securityLevel,
                       const std::u16string& text, std::deque<std::u16string>& segments) = 0;
  // Sets the think phase to a level of 1 or more and waits for a running pass; the phase.
  virtual int acceptThinking(int level) = 0;
  // The ThinkResult of the last threaded pass.
  virtual int thinkResult() const = 0;
};

}  // namespace zelka
