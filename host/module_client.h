// A host-side handle on the module: maps zelka.so, finds its exported functions and speaks to
// them with the memory-block conventions hosts use (request and directory blocks from malloc,
// released by the module; response blocks released here with free). The directory goes
// through loadu (UTF-8) when the module has it and the host's paths are UTF-8, otherwise
// through load.
#pragma once

#include <optional>
#include <string>

namespace zelka::host {

class ModuleClient {
 public:
  ModuleClient() = default;
  ~ModuleClient();   // unloads when still loaded, then unmaps
  ModuleClient(const ModuleClient&) = delete;
  ModuleClient& operator=(const ModuleClient&) = delete;

  // Maps the module file; false with error() set when it or one of its functions is missing.
  bool open(const std::string& modulePath);
  // Calls loadu or load with the directory (a trailing separator is added when missing).
  bool load(const std::string& directory);
  // Sends the request text; the response text, or nullopt when the module returned none.
  std::optional<std::string> request(const std::string& text);
  // Calls unload once after a load.
  void unload();
  void close();

  bool isOpen() const { return handle_ != nullptr; }
  const std::string& error() const { return error_; }

 private:
  using LoadFunction = int (*)(void*, long);
  using RequestFunction = void* (*)(void*, long*);
  using UnloadFunction = int (*)();

  void* handle_ = nullptr;
  LoadFunction load_ = nullptr;
  LoadFunction loadu_ = nullptr;   // absent in modules older than it
  RequestFunction request_ = nullptr;
  UnloadFunction unload_ = nullptr;
  bool loaded_ = false;
  std::string error_;
};

// The directory of the running executable (with its trailing separator), or empty.
std::string executableDirectory();

}  // namespace zelka::host
