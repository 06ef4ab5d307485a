#include "shiori/shiori_server.h"

#include <memory>

#include "config/config_layout.h"
#include "platform/locale.h"
#include "platform/path_text.h"
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
  std::optional<std::u16string> wideDirectory = pathToWide(moduleDirectory_);
  if (!wideDirectory || pathFromWide(*wideDirectory) != moduleDirectory_) return false;

  auto config = std::make_unique<ZelkaConfig>();
  config->read(*wideDirectory);
  setProcessLocale(toNarrow(config->profile(u"locale")));
  setRunLevel(config->runlevel());
  // The configured names join the directory in its own path encoding; a name that encoding
  // cannot hold would name another directory.
  std::optional<std::string> vender = pathFromWide(config->directory(u"Directory", u"vender"));
  std::optional<std::string> learning =
      pathFromWide(config->directory(u"Directory", u"learning"));
  const std::u16string& protocol = config->protocolVersion();
  answersVersionIn3_ = protocol == kProtocolVersion3;
  if (!answersVersionIn3_ && !protocol.empty() && protocol != kProtocolVersion2) {
    problems().report({Problem::Severity::Warning, "zelkaconf.xml",
                       "Protocol version=\"" + toNarrow(protocol) +
                           "\" is not known (\"3.0\" or \"2.x\"); hosts are told SHIORI/2.x"});
  }
  setConfig(std::move(config));
  if (!vender || !learning) return false;

  sessionActive_ = true;
  return startScriptEngine(moduleDirectory_, moduleDirectory_ + *vender,
                           moduleDirectory_ + *learning);
}

bool ShioriServer::request(HostBlock block, long length) {
  quietExchange_ = false;
  if (block == nullptr || length < 1) return false;
  std::string text = copyFromHostBlock(block, length);
  const bool parsed = parse(std::string_view(text));
  // The state requests stay out of the log: the problems request fetches what the log already
  // holds, and a host asks whether a pass runs every few milliseconds while it waits.
  quietExchange_ = parsed && isStateRequest();
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

int ShioriServer::exportLoad(HostBlock block, long length, HostDirectoryForm form) {
  if (block == nullptr || length < 1) return 0;
  std::string bytes = copyFromHostBlock(block, length);
  freeHostBlock(block);
  std::optional<std::string> directory = pathFromHostDirectory(bytes, form);
  if (!directory) return 0;
  // A session still running saves its stores under the encoding its paths were made in.
  if (sessionActive_) {
    log().beginRequest();
    shutdownBrain();
    sessionActive_ = false;
  }
  setPathEncoding(pathEncodingFor(form));
  const int loaded = load(std::string_view(*directory)) ? 1 : 0;
  log().flush();
  return loaded;
}

HostBlock ShioriServer::exportRequest(HostBlock block, long* length) {
  if (length == nullptr) return nullptr;
  log().beginRequest();
  quietExchange_ = false;
  std::optional<std::string> response;
  bool speaks3 = false;
  try {
    const bool parsed = block != nullptr && request(block, *length);
    if (parsed && isShiori3Request(message_)) {
      speaks3 = true;
      response = serveShiori3();
    } else if (parsed && isVersionRequestToAnswerIn3()) {
      speaks3 = true;
      response = serveVersionIn3();
    } else if (!(parsed && dispatch())) {
      buildFailureResponse();
    }
  } catch (...) {
    // A handler that fails is answered like a request that does not parse, in the
    // protocol the request spoke.
    freeHostBlock(block);
    block = nullptr;
    buildFailureResponse();
    response.reset();
    if (speaks3) {
      try {
        response = renderShiori3(Shiori3Request{});
      } catch (...) {
        response.reset();
      }
    }
  }
  // From here on the request block is released, whatever follows.
  freeHostBlock(block);

  if (!response) response = render();
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
