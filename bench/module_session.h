// A ghost in a temporary directory and the module mapped and loaded on it, as a host does it:
// request blocks from malloc, responses released with free. Shared by the benchmarks that go
// through the exported functions.
//
//   zelka::bench::ModuleSession module(GhostFiles{{"zelkaconf.xml", config}});
//   if (module.loaded()) module.roundTrip("GET Version SHIORI/2.0\r\n\r\n");
#pragma once

#include <dlfcn.h>
#include <stdlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "support/host_block.h"

namespace zelka::bench {

// Paths relative to the ghost directory and their contents.
using GhostFiles = std::vector<std::pair<std::string, std::string>>;

struct ModuleResponse {
  bool present = false;        // the module returned a block
  bool lengthMatches = false;  // the block's text ends exactly at the returned length
  std::string text;            // the returned length's bytes
};

class ModuleSession {
 public:
  // With enterGhostDirectory the process works in the ghost directory while the session lasts
  // (the log lands there).
  explicit ModuleSession(const GhostFiles& files,
                         bool enterGhostDirectory = false) {
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "zelka-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    dir_ = pattern + "/";
    fs::create_directories(dir_ + "vender");
    for (const auto& [path, content] : files) {
      fs::create_directories(fs::path(dir_ + path).parent_path());
      std::ofstream(dir_ + path, std::ios::binary) << content;
    }
    if (enterGhostDirectory) {
      previous_ = fs::current_path();
      fs::current_path(dir_);
    }
    handle_ = dlopen(ZELKA_BINARY_DIR "/zelka.so", RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) return;
    auto load = reinterpret_cast<int (*)(void*, long)>(dlsym(handle_, "load"));
    request_ = reinterpret_cast<void* (*)(void*, long*)>(dlsym(handle_, "request"));
    unload_ = reinterpret_cast<int (*)()>(dlsym(handle_, "unload"));
    if (load == nullptr || request_ == nullptr || unload_ == nullptr) return;
    loaded_ = load(zelka::testing::mallocCopy(dir_), static_cast<long>(dir_.size())) == 1;
  }
  ~ModuleSession() {
    if (unload_ != nullptr) unload_();
    if (handle_ != nullptr) dlclose(handle_);
    std::error_code ignored;
    if (!previous_.empty()) std::filesystem::current_path(previous_, ignored);
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  ModuleSession(const ModuleSession&) = delete;
  ModuleSession& operator=(const ModuleSession&) = delete;

  bool loaded() const { return loaded_; }

  ModuleResponse request(const std::string& text) {
    ModuleResponse out;
    long len = static_cast<long>(text.size());
    void* block = request_(zelka::testing::mallocCopy(text), &len);
    if (block == nullptr || len < 0) {
      std::free(block);
      return out;
    }
    const char* bytes = static_cast<const char*>(block);
    out.present = true;
    out.text.assign(bytes, static_cast<std::size_t>(len));
    out.lengthMatches = std::strlen(bytes) == out.text.size();
    std::free(block);
    return out;
  }
  std::string roundTrip(const std::string& text) { return request(text).text; }

 private:
  std::string dir_;
  std::filesystem::path previous_;
  void* handle_ = nullptr;
  void* (*request_)(void*, long*) = nullptr;
  int (*unload_)() = nullptr;
  bool loaded_ = false;
};

}  // namespace zelka::bench
