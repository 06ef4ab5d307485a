// Dispatch by command and version, and the handlers other than the sentence handler.
#include <array>
#include <string>
#include <vector>

#include "platform/text_codec.h"
#include "script/think_codes.h"
#include "shiori/shiori_server.h"
#include "util/text.h"

namespace zelka {

namespace {

// The Japanese comma written after each ghost name in "__Here".
constexpr std::string_view kNameSeparator = "\x81\x41";

enum class Handler {
  OwnerGhostName, Version, Status, Word, Sentence, OtherGhostNames, String, Problems,
  ThinkState
};

struct DispatchRow {
  std::string_view command;
  std::array<std::string_view, 3> versions;   // unused places stay empty
  Handler handler;
};

const DispatchRow kDispatchTable[] = {
    {"NOTIFY", {"SHIORI/2.0"}, Handler::OwnerGhostName},
    {"GET Version", {"SHIORI/2.0"}, Handler::Version},
    {"GET Status", {"SHIORI/2.0"}, Handler::Status},
    {"GET Word", {"SHIORI/2.0"}, Handler::Word},
    {"GET Sentence", {"SHIORI/2.0", "SHIORI/2.2", "SHIORI/2.3"}, Handler::Sentence},
    {"TEST", {"SHIORI/2.0", "SHIORI/2.2"}, Handler::Sentence},
    {"NOTIFY OwnerGhostName", {"SHIORI/2.3"}, Handler::OwnerGhostName},
    {"NOTIFY OtherGhostName", {"SHIORI/2.3"}, Handler::OtherGhostNames},
    {"GET String", {"SHIORI/2.5"}, Handler::String},
    // An extension for hosts that show the author what went wrong (zelka-host does).
    {"GET Problems", {"SHIORI/2.0"}, Handler::Problems},
    // zelka's own request, for hosts that must not depend on how fast a think pass is.
    {"GET Think", {"SHIORI/2.0"}, Handler::ThinkState},
};

// A problem's text as one header value: no line break or tab of its own.
std::string oneLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n' || c == '\t' || c == '\x01') c = ' ';
  }
  return text;
}

}  // namespace

void ShioriServer::beginResponse() {
  message_.clear();
  message_.set("sstp_command:", "response");
  message_.set("sstp_type:", ownVersion_);
  message_.set("Charset:", "Shift_JIS");
}

bool ShioriServer::dispatch() {
  std::optional<std::string> command = message_.get("sstp_command:");
  if (!command) return false;
  requestCommand_ = std::move(*command);
  std::optional<std::string> version = message_.get("sstp_type:");
  if (!version) return false;
  requestVersion_ = std::move(*version);

  for (const DispatchRow& row : kDispatchTable) {
    if (row.command != requestCommand_) continue;
    bool accepted = false;
    for (std::string_view v : row.versions) {
      accepted = accepted || (!v.empty() && v == requestVersion_);
    }
    if (!accepted) continue;
    switch (row.handler) {
      case Handler::OwnerGhostName: return ownerGhostNameHandler();
      case Handler::Version: return versionHandler();
      case Handler::Status: return statusHandler();
      case Handler::Word: return wordHandler();
      case Handler::Sentence: return sentenceHandler();
      case Handler::OtherGhostNames: return otherGhostNamesHandler();
      case Handler::String: return stringResourceHandler();
      case Handler::Problems: return problemsHandler();
      case Handler::ThinkState: return thinkStateHandler();
    }
  }
  beginResponse();
  setStatus(501);
  return true;
}

bool ShioriServer::ownerGhostNameHandler() {
  if (std::optional<std::string> ghost = message_.get("Ghost:")) {
    setOwnerGhostName(std::move(*ghost));
    beginResponse();
    setStatus(200);
  } else {
    beginResponse();
    setStatus(400);
  }
  return true;
}

bool ShioriServer::versionHandler() {
  message_.clear();
  message_.set("sstp_command:", "response");
  message_.set("sstp_type:", ownVersion_);
  std::string locale;
  if (config() != nullptr) locale = toNarrow(config()->profile(u"locale"));
  message_.set("Locale:", locale);
  message_.set("Language:", locale);
  message_.set("Charset:", "Shift_JIS");
  setStatus(200);
  return true;
}

bool ShioriServer::statusHandler() {
  std::string text;
  for (std::int32_t counter : statusCounters_) {
    text += std::to_string(counter);
    text += ',';
  }
  text += std::to_string(counterQueueSum());
  beginResponse();
  setStatus(200);
  message_.set("Status:", text);
  return true;
}

bool ShioriServer::thinkStateHandler() {
  // Only the phase is read: it is an atomic, and a running pass is left alone. The answer
  // travels in the Status header, one of the lines every response may carry.
  const int phase = learningEngine().thinkPhase();
  beginResponse();
  setStatus(200);
  message_.set("Status:", phase == kThinkRunning    ? "running"
                         : phase == kThinkFinished ? "finished"
                                                   : "ready");
  return true;
}

bool ShioriServer::wordHandler() {
  std::optional<std::string> type = message_.get("Type:");
  if (!type) {
    beginResponse();
    setStatus(400);
    return true;
  }
  beginResponse();
  std::string output;
  scriptEngine().runScript(*type, output, "the GET Word request");
  if (!output.empty()) {
    setStatus(200);
    message_.set("Word:", output);
  } else {
    setStatus(204);
  }
  return true;
}

bool ShioriServer::otherGhostNamesHandler() {
  if (!message_.has("Ghost:")) {
    beginResponse();
    setStatus(200);
    return true;
  }
  std::vector<std::string> names;
  while (std::optional<std::string> name = message_.get("GhostEx:")) {
    names.push_back(std::move(*name));
    message_.erase("GhostEx:");
  }
  std::string here;
  // Other ghosts' names are outside text: shown, never run (see the sentence handler).
  for (const std::string& name : names) {
    here += doubleBackslashes(name);
    here += kNameSeparator;
  }
  variables().setVariable("__Here", here);
  beginResponse();
  setStatus(200);
  return true;
}

bool ShioriServer::isStateRequest() const {
  if (message_.get("sstp_type:") != "SHIORI/2.0") return false;
  const std::optional<std::string> command = message_.get("sstp_command:");
  return command == "GET Problems" || command == "GET Think";
}

bool ShioriServer::problemsHandler() {
  beginResponse();
  std::optional<Problem> problem = problems().take();
  if (!problem && problems().dropped() > 0) {
    problem = Problem{Problem::Severity::Warning, "",
                      std::to_string(problems().dropped()) +
                          " more problems were reported while too many were waiting; "
                          "zelka.log has them all"};
    problems().clear();
  }
  if (!problem) {
    setStatus(204);
    return true;
  }
  setStatus(200);
  message_.set("String:", std::string(severityName(problem->severity)) + "\t" +
                              oneLine(std::move(problem->where)) + "\t" +
                              oneLine(std::move(problem->message)));
  return true;
}

bool ShioriServer::stringResourceHandler() {
  variables().setVariable("__ID", "");
  std::optional<std::string> id = message_.get("ID:");
  if (!id) {
    beginResponse();
    setStatus(400);
    return true;
  }
  variables().setVariable("__ID", doubleBackslashes(*id));
  std::string event = eventRename("OnZelkaGetResource");
  beginResponse();
  eventContext().rememberedScope.clear();
  std::string output;
  if (scriptEngine().runTalk(event, output, false) && !output.empty()) {
    setStatus(200);
    message_.set("String:", output);
  } else {
    setStatus(204);
  }
  return true;
}

}  // namespace zelka
