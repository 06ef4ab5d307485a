// Host memory blocks on Windows: global memory from the kernel. The host allocates request
// blocks with GlobalAlloc and the module releases them with GlobalFree; the module allocates
// response blocks fixed and zero-filled and the host releases them.
#include "platform/host_memory.h"

#include <windows.h>

#include <cstring>

namespace zelka {
namespace {

// Keeps a block locked for the lifetime of the guard.
class BlockLock {
 public:
  explicit BlockLock(HGLOBAL handle) : handle_(handle), bytes_(GlobalLock(handle)) {}
  ~BlockLock() {
    if (bytes_ != nullptr) GlobalUnlock(handle_);
  }
  BlockLock(const BlockLock&) = delete;
  BlockLock& operator=(const BlockLock&) = delete;
  const char* bytes() const { return static_cast<const char*>(bytes_); }

 private:
  HGLOBAL handle_;
  void* bytes_;
};

}  // namespace

std::string copyFromHostBlock(HostBlock block, long len) {
  if (block == nullptr || len < 1) return std::string();
  HGLOBAL handle = static_cast<HGLOBAL>(block);
  BlockLock lock(handle);
  const char* bytes = lock.bytes();
  if (bytes == nullptr) return std::string();
  // A length beyond the block is cut at the block's end: never read past what the host gave.
  std::size_t limit = static_cast<std::size_t>(len);
  SIZE_T blockSize = GlobalSize(handle);
  if (blockSize != 0 && blockSize < limit) limit = blockSize;
  const void* zero = std::memchr(bytes, 0, limit);
  std::size_t size = zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - bytes) : limit;
  return std::string(bytes, size);
}

void freeHostBlock(HostBlock block) {
  if (block != nullptr) GlobalFree(static_cast<HGLOBAL>(block));
}

HostBlock allocateHostBlock(const std::string& text) {
  HGLOBAL block = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, text.size() + 1);
  if (block == nullptr) return nullptr;
  // A fixed block's handle is its address.
  if (!text.empty()) std::memcpy(static_cast<void*>(block), text.data(), text.size());
  return block;
}

}  // namespace zelka
