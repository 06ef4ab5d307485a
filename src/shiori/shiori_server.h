// The one object behind the module's exported functions: the protocol text layer plus the
// brain. load reads the configuration and starts the brain; each request is copied out of the
// host's block, logged, parsed, dispatched by command and version to a handler that builds
// the response header list, rendered and handed back in a fresh block; unload saves and
// shuts down. Handlers never fail outward: every outcome is a status in the response.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/host_memory.h"
#include "platform/path_text.h"
#include "shiori/brain.h"
#include "shiori/shiori3.h"
#include "shiori/shiori_protocol.h"

namespace zelka {

class ShioriServer : public ShioriProtocol, public Brain {
 public:
  explicit ShioriServer(std::string_view ownVersion = "SHIORI/2.6");
  ~ShioriServer() override;

  // Reads the configuration of the directory (path text in the session's path encoding,
  // ending with its separator) and starts the brain. A load while a previous one is still
  // active first shuts that one down.
  bool load(std::optional<std::string_view> directory) override;
  // Copies the request out of the block (which stays the caller's), logs it and parses it.
  virtual bool request(HostBlock block, long length);

  // The exported functions' bodies: block ownership as the host expects it. load hands the
  // directory over in the system's code page, loadu in UTF-8; the form also sets the
  // session's path encoding (path_text.h).
  int exportLoad(HostBlock block, long length,
                 HostDirectoryForm form = HostDirectoryForm::kSystemCodePage);
  HostBlock exportRequest(HostBlock block, long* length);
  int exportUnload();

  // Chooses the handler by command and version; false when either is missing.
  bool dispatch();
  // Clears the header list and sets the response line pseudo-headers and the Charset.
  void beginResponse();

  // A SHIORI/3.0 request in the header list (shiori3.h): refused, or mapped onto the 2.x
  // request it stands for and dispatched; answers the 3.0 response text.
  std::string serveShiori3();
  // Whether the configuration asks hosts to speak 3.0 (Protocol version="3.0"): GET Version
  // of any SHIORI/2.x version is then answered in 3.0 form.
  bool answersVersionIn3() const { return answersVersionIn3_; }

  // GET Sentence and TEST: the event handling. Publishes the request's headers as script
  // variables, converts timer and mouse events into the module's own events, runs the event's
  // talk and answers 200 with it or 204. Always true.
  bool sentenceHandler();

  const std::string& requestCommand() const { return requestCommand_; }
  const std::string& requestVersion() const { return requestVersion_; }
  const std::string& moduleDirectory() const { return moduleDirectory_; }
  const std::string& ownVersion() const { return ownVersion_; }
  const std::array<std::int32_t, 5>& statusCounters() const { return statusCounters_; }

 private:
  bool ownerGhostNameHandler();
  bool versionHandler();
  bool statusHandler();
  bool wordHandler();
  bool otherGhostNamesHandler();
  bool stringResourceHandler();
  // GET Problems SHIORI/2.0: the oldest problem not told yet, as "String: <severity> TAB
  // <where> TAB <message>" with 200, or 204 when none is left. The problems of a session stay
  // after unload until the next load, so a host can ask after unloading too.
  bool problemsHandler();
  // GET Problems and GET Think: a host asking about the module rather than talking to it.
  bool isStateRequest() const;
  // GET Think: whether a think pass is running ("Status: running"), has ended with its answer
  // still to be collected by an OnSecondChange ("finished") or neither ("ready"). Hosts that
  // play the clock themselves ask it before they let a second pass.
  bool thinkStateHandler();
  void buildFailureResponse();
  // GET Version of a 2.x version, answered in 3.0 form when the configuration asks for it.
  bool isVersionRequestToAnswerIn3() const;
  std::string serveVersionIn3();
  // The response in the header list as a 3.0 answer.
  std::string renderShiori3(const Shiori3Request& request);

  // Parts of the sentence handler (event_handling.cpp).
  bool handleEvent(std::string name);
  bool handleHeardSentence();
  bool handleTalkRequest();
  // Converts OnSecondChange into a think result, free talk or listen timeout when due, and
  // OnMouseMove into a body touch (event_conversion.h decides; these carry the answer out).
  void convertTimerEvent(std::string& name);
  void convertTouchEvent(std::string& name);
  // Fills the event context's references from the Reference0: to Reference7: headers.
  void collectReferences(const std::string& configuredName);
  // Runs the event's talk; answers with it (200) or sets 204.
  void runEventTalk(const std::string& configuredName);
  void answerWithTalk(const std::string& talk);
  void eraseReferenceHeaders();
  void logThinkResult();

  std::string requestCommand_;
  std::string requestVersion_;
  std::string moduleDirectory_;
  std::string ownVersion_;
  std::array<std::int32_t, 5> statusCounters_{};
  // True from a load that got as far as starting anything until the matching unload.
  bool sessionActive_ = false;
  bool answersVersionIn3_ = false;
  Shiori3Scratch shiori3Scratch_;
  // True while the current exchange is a state request, which the log leaves out.
  bool quietExchange_ = false;
};

}  // namespace zelka
