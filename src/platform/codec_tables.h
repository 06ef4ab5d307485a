// The tables behind the code page 932 codec, shared by every platform. Each platform fills
// them once from its own converter (buildCodecTables); all conversions then run through the
// tables, so per-character conversion is cheap and the results do not depend on the C locale.
// Internal to the platform layer: other code uses text_codec.h.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace zelka::codec {

constexpr char16_t kNoChar = 0xFFFF;       // no character for this byte sequence
constexpr std::uint16_t kNoCode = 0xFFFF;  // no code page 932 form for this code point

enum ByteKind : std::uint8_t { kInvalid = 0, kSingle = 1, kLead = 2 };

struct CodecTables {
  std::array<ByteKind, 256> kind{};
  std::array<char16_t, 256> single{};
  // Indexed by (lead - 0x80) * 256 + trail; only lead bytes 0x80-0xFF can be leads.
  std::array<char16_t, 128 * 256> pair{};
  // Code point -> byte form: values below 0x100 are one byte, larger values two bytes
  // (lead in the high byte); kNoCode when there is none.
  std::array<std::uint16_t, 0x10000> encode{};
};

// Fills the tables from the platform's converter. The tables come in cleared (kInvalid,
// kNoChar, kNoCode everywhere); a platform without a converter fills ASCII and half-width
// katakana only (fillFallbackTables).
void buildCodecTables(CodecTables& tables);

void fillFallbackTables(CodecTables& tables);

// Narrow to wide that reports whether the whole text converted; used for file names, where
// a conversion cut short would name another file.
bool decodeWhole(std::string_view narrow, std::u16string& wide);

}  // namespace zelka::codec
