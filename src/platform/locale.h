#pragma once
#include <string>
namespace zelka {
// Passes the configured locale name to the C runtime (LC_ALL); an unknown name is ignored
// and an empty one selects the system default. Nothing of ours depends on the result.
void setProcessLocale(const std::string& name);
}  // namespace zelka
