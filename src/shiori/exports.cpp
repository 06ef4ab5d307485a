// The module's exported functions: load, request and unload, and loadu, which takes the
// directory as UTF-8 where load takes it in the system's code page (hosts that know loadu
// call it and fall back to load when a module lacks it). The one server object is built
// when the module is mapped and destroyed when it is unmapped. Nothing escapes these
// functions: an exception is answered with failure (load, loadu), a 500 response (request)
// or success (unload).
//
// On Windows the blocks are the kernel's global memory handles and the results are BOOL; the
// functions use the C calling convention and are exported under their plain names. No COM
// is initialised: nothing in the module uses COM.
#include <memory>
#include <new>

#include "shiori/shiori_server.h"

#if defined(_WIN32)
#include <windows.h>
#define ZELKA_EXPORT extern "C" __declspec(dllexport)
#define ZELKA_CALL __cdecl
using ExportResult = BOOL;
using ExportBlock = HGLOBAL;
#else
#define ZELKA_EXPORT extern "C" __attribute__((visibility("default")))
#define ZELKA_CALL
using ExportResult = int;
using ExportBlock = void*;
#endif

namespace {

// Holds the server; a construction that fails leaves it empty, and every export then answers
// as for a module that cannot work.
class ServerHolder {
 public:
  ServerHolder() noexcept {
    try {
      server_ = std::make_unique<zelka::ShioriServer>("SHIORI/2.6");
    } catch (...) {
      server_.reset();
    }
  }
  ~ServerHolder() {
    try {
      server_.reset();
    } catch (...) {
    }
  }
  zelka::ShioriServer* get() noexcept { return server_.get(); }

 private:
  std::unique_ptr<zelka::ShioriServer> server_;
};

ServerHolder g_server;

// The last resort when the server cannot answer: a fixed 500 response.
ExportBlock fixedFailureResponse(long* len) noexcept {
  static constexpr char kText[] =
      "SHIORI/2.6 500 Internal Server Error\r\n\r\n";
  try {
    ExportBlock block = static_cast<ExportBlock>(zelka::allocateHostBlock(kText));
    if (block != nullptr) *len = static_cast<long>(sizeof(kText) - 1);
    return block;
  } catch (...) {
    return nullptr;
  }
}

ExportResult loadIn(ExportBlock h, long len, zelka::HostDirectoryForm form) noexcept {
  try {
    zelka::ShioriServer* server = g_server.get();
    if (server == nullptr) return 0;
    return server->exportLoad(h, len, form);
  } catch (...) {
    return 0;
  }
}

}  // namespace

ZELKA_EXPORT ExportResult ZELKA_CALL load(ExportBlock h, long len) {
  return loadIn(h, len, zelka::HostDirectoryForm::kSystemCodePage);
}

ZELKA_EXPORT ExportResult ZELKA_CALL loadu(ExportBlock h, long len) {
  return loadIn(h, len, zelka::HostDirectoryForm::kUtf8);
}

ZELKA_EXPORT ExportBlock ZELKA_CALL request(ExportBlock h, long* len) {
  if (len == nullptr) return nullptr;
  zelka::ShioriServer* server = g_server.get();
  if (server == nullptr) {
    zelka::freeHostBlock(h);
    return fixedFailureResponse(len);
  }
  try {
    return static_cast<ExportBlock>(server->exportRequest(h, len));
  } catch (...) {
    // exportRequest has released the request block before anything that can still fail.
    return fixedFailureResponse(len);
  }
}

ZELKA_EXPORT ExportResult ZELKA_CALL unload(void) {
  try {
    zelka::ShioriServer* server = g_server.get();
    if (server != nullptr) server->exportUnload();
  } catch (...) {
  }
  return 1;
}
