// Memory blocks handed between the host and the module. On POSIX a block is memory from the
// C library: the host allocates request blocks with malloc and the module frees them; the
// module allocates response blocks zero-filled and the host frees them with free. On Windows
// a block is the kernel's global memory (GlobalAlloc/GlobalLock/GlobalUnlock/GlobalFree), a
// response block is fixed and zero-filled.
#pragma once

#include <cstddef>
#include <string>

namespace zelka {

using HostBlock = void*;

// Copies at most len bytes out of the block, stopping early at a zero byte.
// A null block or a length below 1 gives an empty string.
std::string copyFromHostBlock(HostBlock block, long len);

// Releases a block the host handed over (null is allowed).
void freeHostBlock(HostBlock block);

// Allocates a zero-filled block of text.size() + 1 bytes holding the text and its
// terminating zero byte. Returns null when memory is exhausted.
HostBlock allocateHostBlock(const std::string& text);

}  // namespace zelka
