// The built zelka.so mapped for one test, driven the way a host drives it: blocks from malloc,
// responses released with free. Unmapping destroys the module's one server object, so every
// instance is a fresh module.
#pragma once

#include <dlfcn.h>
#include <malloc.h>

#include <gtest/gtest.h>

#include "support/host_block.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace zelka::testing {

inline const std::string kModulePath = std::string(ZELKA_BINARY_DIR) + "/zelka.so";

class MappedModule {
 public:
  MappedModule() {
    handle_ = dlopen(kModulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) return;
    loadExport = reinterpret_cast<int (*)(void*, long)>(dlsym(handle_, "load"));
    requestExport = reinterpret_cast<void* (*)(void*, long*)>(dlsym(handle_, "request"));
    unloadExport = reinterpret_cast<int (*)()>(dlsym(handle_, "unload"));
    loaduExport = reinterpret_cast<int (*)(void*, long)>(dlsym(handle_, "loadu"));
  }
  ~MappedModule() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  MappedModule(const MappedModule&) = delete;
  MappedModule& operator=(const MappedModule&) = delete;

  bool ok() const {
    return loadExport != nullptr && requestExport != nullptr && unloadExport != nullptr;
  }
  int load(std::string_view dir) {
    return loadExport(mallocCopy(dir), static_cast<long>(dir.size()));
  }
  // The directory in UTF-8, as the newest hosts hand it over.
  int loadu(std::string_view dir) {
    return loaduExport(mallocCopy(dir), static_cast<long>(dir.size()));
  }
  int unload() { return unloadExport(); }

  // Sends a request of `length` bytes (the text's size by default) and answers the response
  // text ("(null)" when no block came back), checking the block's shape on the way: zero
  // terminated at the returned length, one byte longer than the text.
  std::string send(std::string_view text, long length = -1) {
    long len = length < 0 ? static_cast<long>(text.size()) : length;
    void* response = requestExport(mallocCopy(text), &len);
    if (response == nullptr) return "(null)";
    const char* bytes = static_cast<const char*>(response);
    EXPECT_EQ(std::strlen(bytes), static_cast<std::size_t>(len));
    EXPECT_GE(malloc_usable_size(response), static_cast<std::size_t>(len) + 1);
    std::string out(bytes, static_cast<std::size_t>(len));
    std::free(response);
    return out;
  }

  // The raw exports, for tests of the block hand-over itself.
  int (*loadExport)(void*, long) = nullptr;
  void* (*requestExport)(void*, long*) = nullptr;
  int (*unloadExport)() = nullptr;
  int (*loaduExport)(void*, long) = nullptr;

 private:
  void* handle_ = nullptr;
};

}  // namespace zelka::testing
