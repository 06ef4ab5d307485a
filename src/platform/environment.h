// The process environment: a variable's value, read when asked (hosts set variables before
// they load the module).
#pragma once

#include <optional>
#include <string>

namespace zelka {

// The value of the environment variable; nullopt when it is not set.
std::optional<std::string> environmentVariable(const char* name);

}  // namespace zelka
