// The event names a ghost's talk answers: the events the module raises itself and the host
// events of the SHIORI/2.x world that ghosts are written for. One table, for the module's own
// names and for author tools that check token names (zelka-host check).
#pragma once

#include <span>
#include <string_view>

namespace zelka {

inline constexpr std::string_view kEventFreeTalk = "OnZelkaFreeTalk";
inline constexpr std::string_view kEventCommunicate = "OnZelkaCommunicate";
inline constexpr std::string_view kEventCommunicateTimeout = "OnZelkaCommunicateTimeout";
inline constexpr std::string_view kEventListenTimeout = "OnZelkaListenTimeout";
inline constexpr std::string_view kEventBodyTouch = "OnZelkaBodyTouch";
inline constexpr std::string_view kEventGetResource = "OnZelkaGetResource";
inline constexpr std::string_view kEventReflexFirstInitialize = "OnZelkaReflexFirstInitialize";
inline constexpr std::string_view kEventReflexInitialize = "OnZelkaReflexInitialize";

enum class EventOrigin {
  kModule,  // raised by the module (renamed by the configuration's EventRename)
  kHost,    // sent by the host
};

struct EventName {
  std::string_view name;
  EventOrigin origin;
  // Arrives every second or on every pointer move: talk on it would run that often.
  bool constant = false;
};

std::span<const EventName> knownEvents();

}  // namespace zelka
