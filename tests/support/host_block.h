// Memory the way a host hands it to the module: a request travels in a block from malloc, which
// the module releases with free.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string_view>

namespace zelka::testing {

// A malloc'd, zero-terminated copy of the text, as a host hands a block over.
inline void* mallocCopy(std::string_view text) {
  void* block = std::malloc(text.size() + 1);
  std::memcpy(block, text.data(), text.size());
  static_cast<char*>(block)[text.size()] = '\0';
  return block;
}

}  // namespace zelka::testing
