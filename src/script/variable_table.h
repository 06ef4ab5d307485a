// The one store of script variables: reserved variables, numbered results of meta elements
// and user variables. Names and values are Shift_JIS texts; names compare as byte strings.
// The table persists in a variable file of one entry per line: the name, the byte 0x01, the
// value, a line feed.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace zelka {

enum class ValueKind : int { Null = 0, Empty = -1, Quoted = 3, Name = 1, Number = 2 };

// Classifies a value text (nullptr: Null). Empty: no bytes. Quoted: first and last byte are
// both '"' (a lone '"' counts). Number: every byte is a digit or one of + - . E e. Name:
// anything else (a double-byte character, or any other byte).
ValueKind classifyValue(const std::string* text);
ValueKind classifyValue(std::string_view text);

class VariableTable {
 public:
  using Map = std::map<std::string, std::string, std::less<>>;

  // True and the stored value when the name exists.
  bool getVariable(std::string_view name, std::string& value) const;
  // A value of kind Name is stored enclosed in double quotes; others as they are.
  bool setVariable(std::string_view name, std::string_view value);
  // setVariable under the decimal text of the number.
  bool setVariableByNumber(std::uint32_t number, std::string_view value);
  // Stores the decimal text of the number, never quoted.
  bool setVariableUnsigned(std::string_view name, std::uint32_t number);
  // 0 when missing; otherwise the value read as a number (strtod rules), truncated and
  // clamped to the range of long long.
  long long getVariableInteger(std::string_view name) const;

  // Rewrites the file crash-safely with every entry whose name or value is non-empty, in
  // name order. An entry longer than one line of the file allows is cut (a quoted value
  // keeps its closing quote); line breaks inside a name or value are written as blanks.
  // False when the file could not be written (the old file is then untouched).
  bool saveVariables(const std::string& path) const;
  // What saveVariables writes.
  std::string fileText() const;
  // Reads the file line by line; each line with a 0x01 byte replaces the variable named by
  // the bytes before it. Lines without 0x01 are skipped; over-long lines are cut. Variables
  // not in the file stay. False (table unchanged) when the file cannot be read. Temporary
  // files an interrupted save left beside the file are removed first.
  bool loadVariables(const std::string& path);
  // The same reading of a variable file's text already in memory; touches no file.
  void readVariables(std::string_view text);

  const Map& entries() const { return vars_; }

 private:
  void store(std::string_view name, std::string value);

  Map vars_;
};

}  // namespace zelka
