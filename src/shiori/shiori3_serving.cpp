// The server's side of SHIORI/3.0 (shiori3.h): a 3.0 request is refused or mapped onto its
// 2.x request, dispatched like any 2.x request, and the 2.x response rendered as the 3.0
// answer, which also carries the session's pending problems.
#include "shiori/shiori_server.h"

namespace zelka {

std::string ShioriServer::renderShiori3(const Shiori3Request& request) {
  std::string out;
  out.reserve(256);
  renderShiori3Response(message_, request, ownerGhostName(), problems(), out);
  return out;
}

std::string ShioriServer::serveShiori3() {
  const Shiori3Request mapped = mapShiori3Request(message_, ownerGhostName(), shiori3Scratch_);
  if (mapped.refusal != 0) {
    // Nothing of a refused request reaches a handler: no variable is set, nothing learned.
    beginResponse();
    setStatus(mapped.refusal);
  } else if (mapped.nothingToRun) {
    beginResponse();
    setStatus(204);
  } else if (!dispatch()) {
    buildFailureResponse();
  }
  return renderShiori3(mapped);
}

bool ShioriServer::isVersionRequestToAnswerIn3() const {
  if (!answersVersionIn3_) return false;
  return message_.view("sstp_command:") == "GET Version" &&
         message_.view("sstp_type:").substr(0, 9) == "SHIORI/2.";
}

std::string ShioriServer::serveVersionIn3() {
  requestCommand_ = message_.view("sstp_command:");
  requestVersion_ = message_.view("sstp_type:");
  versionHandler();
  return renderShiori3(Shiori3Request{});
}

}  // namespace zelka
