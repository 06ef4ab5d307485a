// Test support: the module loaded the way a host loads it, on Windows with LoadLibraryW and
// global memory blocks, on POSIX with dlopen and malloc'ed blocks. The module file is the one
// copied beside the test program (zelka.dll or zelka.so). Unloading the library destroys the
// module's one server object; a new ModuleLibrary maps it afresh.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>
#endif

namespace zelka::testing {

#if defined(_WIN32)
using ExportBlock = HGLOBAL;
using ExportResult = BOOL;
#define ZELKA_TEST_CALL __cdecl
#else
using ExportBlock = void*;
using ExportResult = int;
#define ZELKA_TEST_CALL
#endif

using LoadFunction = ExportResult(ZELKA_TEST_CALL*)(ExportBlock, long);
using RequestFunction = ExportBlock(ZELKA_TEST_CALL*)(ExportBlock, long*);
using UnloadFunction = ExportResult(ZELKA_TEST_CALL*)();

// A block holding the text, as a host allocates one.
inline ExportBlock hostBlock(std::string_view text) {
#if defined(_WIN32)
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  char* bytes = static_cast<char*>(GlobalLock(block));
  std::memcpy(bytes, text.data(), text.size());
  bytes[text.size()] = '\0';
  GlobalUnlock(block);
  return block;
#else
  char* block = static_cast<char*>(std::malloc(text.size() + 1));
  std::memcpy(block, text.data(), text.size());
  block[text.size()] = '\0';
  return block;
#endif
}

// Releases a block the module returned (or one the module did not take).
inline void releaseBlock(ExportBlock block) {
#if defined(_WIN32)
  GlobalFree(block);
#else
  std::free(block);
#endif
}

// The directory of the running test program, with its separator.
inline std::string programDirectory() {
#if defined(_WIN32)
  char path[MAX_PATH * 2];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string text(path, n);
  return text.substr(0, text.find_last_of("\\/") + 1);
#else
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path);
  std::string text(path, n > 0 ? static_cast<std::size_t>(n) : 0);
  return text.substr(0, text.find_last_of('/') + 1);
#endif
}

inline std::string modulePath() {
#if defined(_WIN32)
  return programDirectory() + "zelka.dll";
#else
  return programDirectory() + "zelka.so";
#endif
}

#if defined(_WIN32)
// A function of the module by name (GetProcAddress hands out a generic function pointer).
template <typename Function>
Function procedure(HMODULE module, const char* name) {
  FARPROC address = GetProcAddress(module, name);
  Function function;
  static_assert(sizeof function == sizeof address);
  std::memcpy(&function, &address, sizeof function);
  return function;
}
#endif

class ModuleLibrary {
 public:
  ModuleLibrary() {
#if defined(_WIN32)
    handle_ = LoadLibraryA(modulePath().c_str());
    if (handle_ == nullptr) return;
    load_ = procedure<LoadFunction>(handle_, "load");
    request_ = procedure<RequestFunction>(handle_, "request");
    unload_ = procedure<UnloadFunction>(handle_, "unload");
    loadu_ = procedure<LoadFunction>(handle_, "loadu");
#else
    handle_ = dlopen(modulePath().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) return;
    load_ = reinterpret_cast<LoadFunction>(dlsym(handle_, "load"));
    request_ = reinterpret_cast<RequestFunction>(dlsym(handle_, "request"));
    unload_ = reinterpret_cast<UnloadFunction>(dlsym(handle_, "unload"));
    loadu_ = reinterpret_cast<LoadFunction>(dlsym(handle_, "loadu"));
#endif
  }
  ~ModuleLibrary() {
#if defined(_WIN32)
    if (handle_ != nullptr) FreeLibrary(handle_);
#else
    if (handle_ != nullptr) dlclose(handle_);
#endif
  }
  ModuleLibrary(const ModuleLibrary&) = delete;
  ModuleLibrary& operator=(const ModuleLibrary&) = delete;

  bool ok() const {
    return load_ != nullptr && request_ != nullptr && unload_ != nullptr && loadu_ != nullptr;
  }

  // The directory ends with its separator: for load in the system's code page (Shift_JIS
  // bytes on POSIX), for loadu in UTF-8.
  int load(std::string_view directory) {
    return load_(hostBlock(directory), static_cast<long>(directory.size()));
  }
  int loadu(std::string_view directory) {
    return loadu_(hostBlock(directory), static_cast<long>(directory.size()));
  }
  int unload() { return unload_(); }

  // One request; "(null)" when no block comes back. The response block's shape is checked
  // against the returned length: `len` bytes of text and a terminating zero byte.
  std::string send(std::string_view text) {
    long len = static_cast<long>(text.size());
    ExportBlock response = request_(hostBlock(text), &len);
    if (response == nullptr) return "(null)";
    std::string out;
#if defined(_WIN32)
    if (GlobalSize(response) >= static_cast<SIZE_T>(len) + 1) {
      const char* bytes = static_cast<const char*>(GlobalLock(response));
      if (bytes != nullptr && bytes[len] == '\0' && std::strlen(bytes) == static_cast<std::size_t>(len)) {
        out.assign(bytes, static_cast<std::size_t>(len));
      } else {
        out = "(bad block)";
      }
      GlobalUnlock(response);
    } else {
      out = "(short block)";
    }
#else
    const char* bytes = static_cast<const char*>(response);
    if (std::strlen(bytes) == static_cast<std::size_t>(len)) {
      out.assign(bytes, static_cast<std::size_t>(len));
    } else {
      out = "(bad block)";
    }
#endif
    releaseBlock(response);
    return out;
  }

  // The raw functions, for tests of the block handling itself.
  LoadFunction rawLoad() const { return load_; }
  LoadFunction rawLoadu() const { return loadu_; }
  RequestFunction rawRequest() const { return request_; }

 private:
#if defined(_WIN32)
  HMODULE handle_ = nullptr;
#else
  void* handle_ = nullptr;
#endif
  LoadFunction load_ = nullptr;
  RequestFunction request_ = nullptr;
  UnloadFunction unload_ = nullptr;
  LoadFunction loadu_ = nullptr;
};

}  // namespace zelka::testing
