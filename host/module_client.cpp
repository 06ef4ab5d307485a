#include "module_client.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/path_text.h"

namespace zelka::host {

namespace {

// A zero-terminated malloc copy of the text; the module takes ownership.
void* makeBlock(const std::string& text) {
  void* block = std::malloc(text.size() + 1);
  if (block == nullptr) return nullptr;
  std::memcpy(block, text.data(), text.size());
  static_cast<char*>(block)[text.size()] = '\0';
  return block;
}

}  // namespace

ModuleClient::~ModuleClient() { close(); }

bool ModuleClient::open(const std::string& modulePath) {
  close();
  handle_ = dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* message = dlerror();
    error_ = message != nullptr ? message : "cannot map " + modulePath;
    return false;
  }
  load_ = reinterpret_cast<LoadFunction>(dlsym(handle_, "load"));
  loadu_ = reinterpret_cast<LoadFunction>(dlsym(handle_, "loadu"));
  request_ = reinterpret_cast<RequestFunction>(dlsym(handle_, "request"));
  unload_ = reinterpret_cast<UnloadFunction>(dlsym(handle_, "unload"));
  if (load_ == nullptr || request_ == nullptr || unload_ == nullptr) {
    error_ = modulePath + " does not export load, request and unload";
    close();
    return false;
  }
  return true;
}

bool ModuleClient::load(const std::string& directory) {
  if (load_ == nullptr) return false;
  std::string text = directory;
  if (text.empty() || text.back() != '/') text += '/';
  void* block = makeBlock(text);
  if (block == nullptr) return false;
  // Even a failed load is followed by unload, as hosts do.
  loaded_ = true;
  // The module releases a non-empty directory block whatever the outcome.
  const bool utf8 = loadu_ != nullptr && pathEncoding() == PathEncoding::kUtf8;
  if ((utf8 ? loadu_ : load_)(block, static_cast<long>(text.size())) != 1) {
    error_ = "the module did not load from " + text;
    return false;
  }
  return true;
}

std::optional<std::string> ModuleClient::request(const std::string& text) {
  if (request_ == nullptr) return std::nullopt;
  void* block = makeBlock(text);
  if (block == nullptr) return std::nullopt;
  long length = static_cast<long>(text.size());
  void* response = request_(block, &length);
  if (response == nullptr) return std::nullopt;
  std::string out(static_cast<const char*>(response), static_cast<std::size_t>(length));
  std::free(response);
  return out;
}

void ModuleClient::unload() {
  if (loaded_ && unload_ != nullptr) unload_();
  loaded_ = false;
}

void ModuleClient::close() {
  unload();
  if (handle_ != nullptr) dlclose(handle_);
  handle_ = nullptr;
  load_ = nullptr;
  loadu_ = nullptr;
  request_ = nullptr;
  unload_ = nullptr;
}

std::string executableDirectory() {
  std::vector<char> buffer(4096);
  ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return {};
  std::string path(buffer.data(), static_cast<std::size_t>(n));
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash + 1);
}

}  // namespace zelka::host
