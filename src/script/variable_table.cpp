#include "script/variable_table.h"

#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/path_text.h"
#include "script/formula_support.h"
#include "util/number_text.h"

namespace zelka {

namespace {

constexpr char kSeparator = '\x01';

bool isNumberByte(unsigned char byte) {
  return (byte >= '0' && byte <= '9') || byte == '+' || byte == '-' || byte == '.' ||
         byte == 'E' || byte == 'e';
}

// Drops the bytes a line of the variable file cannot carry: the separator (in values it
// would be read as part of the separator on the next load), NUL (no C string holds it) and
// line breaks (written as blanks so that one entry stays one line).
std::string sanitizedForFile(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == kSeparator || c == '\0') continue;
    out.push_back(c == '\n' || c == '\r' ? ' ' : c);
  }
  return out;
}

// Name and value of one line, both cut so that the line fits; false when even the name and
// the separator do not fit (such a line would carry no separator once cut).
bool fitEntry(std::string& name, std::string& value) {
  if (name.size() + 1 > kVariableLineLimit) return false;
  cutToLimit(value, kVariableLineLimit - name.size() - 1);
  return true;
}

}  // namespace

ValueKind classifyValue(std::string_view text) {
  if (text.empty()) return ValueKind::Empty;
  if (text.front() == '"' && text.back() == '"') return ValueKind::Quoted;
  // A byte of 0x81 or above (a double-byte or high character) is never a number byte, so
  // one test covers both ways of being a name.
  for (char c : text) {
    if (!isNumberByte(static_cast<unsigned char>(c))) return ValueKind::Name;
  }
  return ValueKind::Number;
}

ValueKind classifyValue(const std::string* text) {
  return text ? classifyValue(std::string_view(*text)) : ValueKind::Null;
}

bool VariableTable::getVariable(std::string_view name, std::string& value) const {
  auto it = vars_.find(name);
  if (it == vars_.end()) return false;
  value = it->second;
  return true;
}

void VariableTable::store(std::string_view name, std::string value) {
  auto it = vars_.find(name);
  if (it != vars_.end()) {
    it->second = std::move(value);
  } else {
    vars_.emplace(std::string(name), std::move(value));
  }
}

bool VariableTable::setVariable(std::string_view name, std::string_view value) {
  // The new text is built before the store so that a value viewing the old one is safe.
  if (classifyValue(value) == ValueKind::Name) {
    std::string quoted;
    quoted.reserve(value.size() + 2);
    quoted.push_back('"');
    quoted.append(value);
    quoted.push_back('"');
    store(name, std::move(quoted));
  } else {
    store(name, std::string(value));
  }
  return true;
}

bool VariableTable::setVariableByNumber(std::uint32_t number, std::string_view value) {
  return setVariable(std::to_string(number), value);
}

bool VariableTable::setVariableUnsigned(std::string_view name, std::uint32_t number) {
  store(name, std::to_string(number));
  return true;
}

long long VariableTable::getVariableInteger(std::string_view name) const {
  auto it = vars_.find(name);
  if (it == vars_.end()) return 0;
  return truncateToInteger(parseDoublePrefix(it->second));
}

bool VariableTable::saveVariables(const std::string& path) const {
  return replaceFileAtomically(path, fileText());
}

std::string VariableTable::fileText() const {
  std::string content;
  for (const auto& [name, value] : vars_) {
    if (name.empty() && value.empty()) continue;
    std::string lineName = sanitizedForFile(name);
    std::string lineValue = sanitizedForFile(value);
    if (!fitEntry(lineName, lineValue)) continue;
    content += lineName;
    content.push_back(kSeparator);
    content += lineValue;
    content.push_back('\n');
  }
  return content;
}

bool VariableTable::loadVariables(const std::string& path) {
  removeLeftoverTemporaries(path);
  std::optional<std::string> content = readFile(path);
  if (!content) return false;
  readVariables(*content);
  return true;
}

void VariableTable::readVariables(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    const std::size_t separator = line.find(kSeparator);
    if (separator == std::string_view::npos) continue;  // not an entry this module wrote
    std::string name;
    for (char c : line.substr(0, separator)) {
      if (c != '\0') name.push_back(c);
    }
    std::string value;
    for (char c : line.substr(separator + 1)) {
      if (c != kSeparator && c != '\0') value.push_back(c);
    }
    if (!fitEntry(name, value)) continue;
    store(name, std::move(value));
  }
}

}  // namespace zelka
