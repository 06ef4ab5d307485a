// Host memory blocks on POSIX: plain C library allocations.
#include "platform/host_memory.h"

#include <cstdlib>
#include <cstring>

namespace zelka {

std::string copyFromHostBlock(HostBlock block, long len) {
  if (block == nullptr || len < 1) return std::string();
  const char* bytes = static_cast<const char*>(block);
  const void* zero = std::memchr(bytes, 0, static_cast<std::size_t>(len));
  std::size_t size = zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - bytes)
                          : static_cast<std::size_t>(len);
  return std::string(bytes, size);
}

void freeHostBlock(HostBlock block) { std::free(block); }

HostBlock allocateHostBlock(const std::string& text) {
  void* block = std::calloc(text.size() + 1, 1);
  if (block == nullptr) return nullptr;
  if (!text.empty()) std::memcpy(block, text.data(), text.size());
  return block;
}

}  // namespace zelka
