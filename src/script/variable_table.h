// The one store of script variables: reserved variables, numbered results of meta elements
// and user variables. Names and values are Shift_JIS texts; names compare as byte strings.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace zelka {

enum class ValueKind : int { Null = 0, Empty = -1, Quoted = 3, Name = 1, Number = 2 };

// Classifies a value text (nullptr: Null).
ValueKind classifyValue(const std::string* text);
ValueKind classifyValue(std::string_view text);

class VariableTable {
 public:
  bool getVariable(std::string_view name, std::string& value) const;
  // A value of kind Name is stored enclosed in double quotes; others as they are.
  bool setVariable(std::string_view name, std::string_view value);
  bool setVariableByNumber(std::uint32_t number, std::string_view value);
  bool setVariableUnsigned(std::string_view name, std::uint32_t number);
  long long getVariableInteger(std::string_view name) const;

  // The variable file: one line per entry, name, the byte 0x01, value, line feed.
  bool saveVariables(const std::string& path) const;
  bool loadVariables(const std::string& path);

  const std::map<std::string, std::string, std::less<>>& entries() const { return vars_; }

 private:
  std::map<std::string, std::string, std::less<>> vars_;
};

}  // namespace zelka
