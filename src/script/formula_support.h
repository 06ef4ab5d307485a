// Helpers shared by the formula evaluator and the variable table: cutting texts to the fixed
// limits the script language works with, and turning doubles into integers without ever
// leaving the integer's range.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zelka {

// The longest result one formula operation produces (the rest is cut).
inline constexpr std::size_t kOperationTextLimit = 1023;
// The longest line of the variable file, name, separator and value together.
inline constexpr std::size_t kVariableLineLimit = 2047;

// Cuts the text to at most `limit` bytes. A two-byte Shift_JIS character is never split,
// and a text enclosed in double quotes keeps its closing quote, so a cut string is still
// read as a string.
void cutToLimit(std::string& text, std::size_t limit);

// Truncation towards zero, clamped to the target range (NaN reads as 0).
long long truncateToInteger(double value);
std::int32_t truncateToInt32(double value);

}  // namespace zelka
