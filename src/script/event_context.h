// State of the event being handled that the meta elements read and write.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace zelka {

struct EventContext {
  // The event's references in order (headers without a value are skipped); each reference
  // is the list of pieces its separation expression cut it into (the whole value when the
  // event has no expression for it).
  std::vector<std::vector<std::string>> references;
  std::uint32_t exhValue = 0;              // first reference of the last timer event
  std::deque<std::u16string> segments;     // expressions of the last finished think pass
  std::string rememberedScope;             // scope ("0" or "1") last emitted in this talk
};

}  // namespace zelka
