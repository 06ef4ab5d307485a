#include "shiori/shiori_server.h"

#include <memory>

#include "platform/locale.h"
#include "platform/text_codec.h"

namespace zelka {

namespace {

constexpr std::string_view kRequestBanner =
    "request--------------------------------------------";
constexpr std::string_view kResponseBanner =
    "response-------------------------------------------";

}  // namespace

ShioriServer::ShioriServer(std::string_view ownVersion) : ownVersion_(ownVersion) {}

ShioriServer::~ShioriServer() = default;

bool ShioriServer::load(std::optional<std::string_view> directory) {
  if (!directory) return false;
  log().beginRequest();
  if (sessionActive_) {
    shutdownBrain();
    sessionActive_ = false;
  }
  beginSession();
  moduleDirectory_ = std::string(*directory);
  if (!ShioriProtocol::load(directory)) return false;

  // The configuration and the stores are found through the wide form of the directory; a
  // directory that does not survive the conversion would be read from a different place.
  std::u16string wideDirectory = toWide(moduleDirectory_);
  if (toNarrow(wideDirectory) != moduleDirectory_) return false;

  auto config = std::make_unique<ZelkaConfig>();
  config->read(wideDirectory);
  setProcessLocale(toNarrow(config->profile(u"locale")));
  setRunLevel(config->runlevel());
  std::string vender = moduleDirectory_ + toNarrow(config->directory(u"Directory", u"vender"));
  std::string learning =
      moduleDirectory_ + toNarrow(config->directory(u"Directory", u"learning"));
  setConfig(std::move(config));

  sessionActive_ = true;
  return startScriptEngine(moduleDirectory_, vender, learning);
}

bool ShioriServer::request(HostBlock block, long length) {
  quietExchange_ = false;
  if (block == nullptr || length < 1) return false;
  std::string text = copyFromHostBlock(block, length);
  const bool parsed = parse(std::string_view(text));
  // The problems request fetches what the log already holds: it is left out of the log, so
  // that a host asking after every request does not double the log.
  quietExchange_ = parsed && isProblemsRequest();
  if (runLevel().logsTraffic() && !quietExchange_) {
    log().write(kRequestBanner);
    log().timeStamp();
    log().newline();
    log().write(text);
    log().newline();
  }
  return parsed;
}

void ShioriServer::buildFailureResponse() {
  message_.clear();
  message_.set("sstp_command:", "response");
  message_.set("sstp_type:", ownVersion_);
  setStatus(500);
}

int ShioriServer::exportLoad(HostBlock block, long length) {
  if (block == nullptr || length < 1) return 0;
  std::string directory = copyFromHostBlock(block, length);
  freeHostBlock(block);
  const int loaded = load(std::string_view(directory)) ? 1 : 0;
  log().flush();
  return loaded;
}

HostBlock ShioriServer::exportRequest(HostBlock block, long* length) {
  if (length == nullptr) return nullptr;
  log().beginRequest();
  quietExchange_ = false;
  try {
    bool answered = block != nullptr && request(block, *length) && dispatch();
    if (!answered) buildFailureResponse();
  } catch (...) {
    // A handler that fails is answered like a request that does not parse.
    freeHostBlock(block);
    buildFailureResponse();
    block = nullptr;
  }
  // From here on the request block is released, whatever follows.
  freeHostBlock(block);

  std::optional<std::string> response = render();
  if (!response) return nullptr;
  if (runLevel().logsTraffic() && !quietExchange_) {
    log().write(kResponseBanner);
    log().timeStamp();
    log().newline();
    log().write(*response);
    log().newline();
  }
  log().flush();
  HostBlock out = allocateHostBlock(*response);
  if (out != nullptr) *length = static_cast<long>(response->size());
  return out;
}

int ShioriServer::exportUnload() {
  log().beginRequest();
  shutdownBrain();
  sessionActive_ = false;
  log().flush();
  return 1;
}

}  // namespace zelka
