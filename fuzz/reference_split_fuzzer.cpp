// Fuzz target: an event reference split by a separation expression. The input is the
// expression, a zero byte, then the reference text (without a zero byte the whole input is
// the text, split by "*,"). Every piece must be a part of the text, and the pieces together
// can never be longer than the text.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "shiori/reference_split.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = zelka::fuzz::asText(data, size);
  std::string_view expression = "*,";
  std::string_view text = input;
  if (const std::size_t zero = input.find('\0'); zero != std::string_view::npos) {
    expression = input.substr(0, zero);
    text = input.substr(zero + 1);
  }

  zelka::SeparationExpression parsed = zelka::parseSeparationExpression(expression);
  (void)parsed;

  std::vector<std::string> pieces;
  const std::size_t count = zelka::splitBySeparation(text, expression, pieces);
  if (count != pieces.size()) zelka::fuzz::fail("piece count differs from the pieces appended");
  std::size_t total = 0;
  for (const std::string& piece : pieces) {
    if (text.find(piece) == std::string_view::npos) zelka::fuzz::fail("a piece not in the text");
    total += piece.size();
  }
  if (total > text.size()) zelka::fuzz::fail("pieces longer than the text");
  return 0;
}
