// The sentence handler (GET Sentence and TEST): where the module decides to talk.
//
// A request is an event from the host ("Event:"), a sentence heard from another character
// ("Sentence:" without "Event:") or a bare request for talk. The handler publishes the
// request's headers as script variables, turns timer and mouse events into the module's own
// events (result of thinking, free talk, listen time-out, body touch), collects the event's
// references, runs the event's talk and answers 200 with it, or 204 when there is nothing to
// say. The think thread is only started, ticked, polled and accepted from here; while a pass
// runs, nothing here touches the bind network.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text_codec.h"
#include "shiori/reference_split.h"
#include "shiori/shiori_server.h"
#include "util/number_text.h"

namespace zelka {

namespace {

// Full-width parentheses around "__Here" in the free talk log entry.
constexpr std::string_view kFullWidthOpen = "\x81\x69";
constexpr std::string_view kFullWidthClose = "\x81\x6A";

constexpr int kReferenceHeaders = 8;
constexpr int kFirstThinkWaitMs = 500;

// A variable as the event handling reads it: one enclosing pair of double quotes removed;
// a missing variable reads as empty.
std::string readVariable(const VariableTable& variables, std::string_view name) {
  std::string value;
  if (!variables.getVariable(name, value)) return {};
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

std::string referenceKey(int number) { return "Reference" + std::to_string(number) + ":"; }

// Recipients that never get "To:" and "Age:" lines: nobody, the host, the user.
bool addressesCharacter(std::string_view to) {
  return !to.empty() && to != "Nobody" && to != "nobody" && to != "SSP" && to != "User";
}

// The reference's text as a single value: its first piece, empty when it has none.
std::string firstPiece(const std::vector<std::vector<std::string>>& references,
                       std::size_t index) {
  if (index >= references.size() || references[index].empty()) return {};
  return references[index].front();
}

}  // namespace

bool ShioriServer::sentenceHandler() {
  VariableTable& vars = variables();

  const std::string sender(message_.view("Sender:"));
  vars.setVariable("__To", sender);
  vars.setVariable("__Sender", sender.empty() ? std::string_view("Nobody") : sender);

  const std::string_view age = message_.view("Age:");
  vars.setVariable("__Age", age.empty() ? std::string_view("-1") : age);

  if (const std::string_view surface = message_.view("Surface:"); !surface.empty()) {
    const std::size_t comma = surface.find(',');
    vars.setVariable("__SurfaceWho0", surface.substr(0, comma));
    if (comma != std::string_view::npos) {
      const std::string_view rest = surface.substr(comma + 1);
      vars.setVariable("__SurfaceWho1", rest.substr(0, rest.find(',')));
    }
  }

  vars.setVariable("__Security_level", message_.view("SecurityLevel:"));
  vars.setVariable("__Sentence", "");

  if (std::optional<std::string> event = message_.get("Event:")) {
    return handleEvent(std::move(*event));
  }
  if (message_.has("Sentence:")) return handleHeardSentence();
  return handleTalkRequest();
}

bool ShioriServer::handleEvent(std::string name) {
  if (name == "OnSecondChange") convertTimerEvent(name);
  if (name == "OnMouseMove") convertTouchEvent(name);
  const std::string hostName = name;   // after the conversions, before the configured rename

  const std::string configured = eventRename(name);
  collectReferences(configured);
  const auto& references = event_.references;

  if ((hostName == "OnSecondChange" || hostName == "OnMinuteChange") && !references.empty() &&
      !references.front().empty()) {
    const std::int32_t first = parseInt32Prefix(references.front().front());
    if (first >= 0) event_.exhValue = static_cast<std::uint32_t>(first);
  }
  if (hostName == "OnSurfaceChange") {
    variables().setVariable("__Surface_0", firstPiece(references, 0));
    variables().setVariable("__Surface_1", firstPiece(references, 1));
  }

  beginResponse();
  event_.rememberedScope.clear();
  runEventTalk(configured);
  event_.references.clear();
  return true;
}

void ShioriServer::convertTimerEvent(std::string& name) {
  VariableTable& vars = variables();
  ++secondCounter_;
  if (learning_.thinkPhase() == 0) learning_.tickThinking();

  if (learning_.thinkPhase() == 2) {
    // A finished pass is collected before anything else; the counter keeps growing.
    eraseReferenceHeaders();
    name = learning_.thinkTicks() < learning_.thinkWait() ? "OnZelkaCommunicate"
                                                           : "OnZelkaCommunicateTimeout";
    const int phase = learning_.acceptThinking(1);
    vars.setVariableUnsigned("__Think_accept", static_cast<std::uint32_t>(phase));
    vars.setVariableUnsigned("__Think_state", static_cast<std::uint32_t>(learning_.thinkResult()));
    event_.segments.clear();
    learning_.takeSegments(event_.segments);
    if (runLevel_ == 3 || runLevel_ == 4) logThinkResult();
    return;
  }

  // The interval is read as stored, quotes included: a quoted (non-numeric) value reads 0.
  const auto interval = static_cast<std::uint32_t>(script_.talkInterval());
  if (interval != 0 && secondCounter_ >= interval) {
    eraseReferenceHeaders();
    name = "OnZelkaFreeTalk";
    const std::string here = readVariable(vars, "__Here");
    const std::string present = here.empty() ? "0" : "1";
    message_.set("Reference0:", present);
    if (runLevel_ == 5) {
      log_.newline();
      log_.write("OnZelkaFreeTalk Reference0: ");
      log_.write(present);
      log_.write(kFullWidthOpen);
      log_.write(here);
      log_.write(kFullWidthClose);
      log_.newline();
      log_.newline();
    }
    secondCounter_ = 0;
    return;
  }

  const std::string listenId = readVariable(vars, "__Listen_id");
  if (listenId == "none") return;
  ++listenCounter_;
  if (listenCounter_ < static_cast<std::uint32_t>(listenWait_)) return;
  eraseReferenceHeaders();
  name = "OnZelkaListenTimeout";
  message_.set("Reference0:", listenId);
  if (runLevel_ == 5) {
    log_.newline();
    log_.write("OnZelkaListenTimeout Reference0: ");
    log_.write(listenId);
    log_.newline();
    log_.newline();
  }
  vars.setVariable("__Listen_id", "none");
  listenCounter_ = 0;
}

void ShioriServer::convertTouchEvent(std::string& name) {
  const std::string_view part = message_.view("Reference4:");
  if (part.empty()) {
    touchPart_.clear();
    touchCounter_ = 0;
  } else {
    // Decoded leniently: a part with a byte that does not convert keeps its length instead of
    // comparing equal to its convertible beginning.
    std::u16string wide = decodeCp932Lenient(part);
    if (wide != touchPart_) {
      touchPart_ = std::move(wide);
      touchCounter_ = 0;
    } else {
      ++touchCounter_;
    }
  }
  if (touchCounter_ < 3) return;

  name = "OnZelkaBodyTouch";
  // The count replaces whatever the host sent as the sixth reference.
  while (message_.erase("Reference5:")) {
  }
  const std::string count = std::to_string(touchCounter_);
  message_.set("Reference5:", count);
  if (runLevel_ == 5) {
    log_.newline();
    log_.write("OnZelkaBodyTouch Reference5: ");
    log_.write(count);
    log_.newline();
    log_.newline();
  }
}

void ShioriServer::eraseReferenceHeaders() {
  // Every entry goes, also repeated ones, so that a converted event never sees the host's
  // references in place of its own.
  for (int n = 0; n < kReferenceHeaders; ++n) {
    const std::string key = referenceKey(n);
    while (message_.erase(key)) {
    }
  }
}

void ShioriServer::collectReferences(const std::string& configuredName) {
  event_.references.clear();
  const std::u16string wideName = toWide(configuredName);
  // A name that does not convert completely cannot be matched against the configuration.
  const bool lookUp = config_ != nullptr && toNarrow(wideName) == configuredName;
  for (int n = 0; n < kReferenceHeaders; ++n) {
    const std::string_view value = message_.view(referenceKey(n));
    if (value.empty()) continue;
    std::string expression;
    if (lookUp) {
      expression = toNarrow(config_->referenceSeparation(wideName, static_cast<unsigned>(n)));
    }
    std::vector<std::string> pieces;
    if (expression.empty()) {
      pieces.emplace_back(value);
    } else {
      splitBySeparation(value, expression, pieces);
    }
    event_.references.push_back(std::move(pieces));
  }
}

bool ShioriServer::handleHeardSentence() {
  VariableTable& vars = variables();
  const std::string sentence(message_.view("Sentence:"));
  vars.setVariable("__Sentence", sentence);
  event_.segments.clear();

  const std::u16string sender = toWide(readVariable(vars, "__Sender"));
  const std::u16string security = toWide(readVariable(vars, "__Security_level"));
  learning_.startThinking(sender, security, toWide(sentence), kFirstThinkWaitMs);

  // The phase is read once: a pass that ends right after this read is collected by the next
  // OnSecondChange, never answered twice.
  int phase = learning_.thinkPhase();
  if (phase != 0) phase = learning_.acceptThinking(1);
  vars.setVariableUnsigned("__Think_accept", static_cast<std::uint32_t>(phase));
  vars.setVariableUnsigned("__Think_state", static_cast<std::uint32_t>(learning_.thinkResult()));

  const std::string configured = eventRename("OnZelkaCommunicate");
  beginResponse();
  if (phase == 0) {
    // Still thinking: the answer comes with a later OnSecondChange.
    setStatus(204);
    return true;
  }
  event_.segments.clear();
  learning_.takeSegments(event_.segments);
  if (runLevel_ == 3 || runLevel_ == 4) logThinkResult();

  event_.rememberedScope.clear();
  runEventTalk(configured);
  return true;
}

bool ShioriServer::handleTalkRequest() {
  const std::string configured = eventRename("OnZelkaFreeTalk");
  beginResponse();
  event_.rememberedScope.clear();
  runEventTalk(configured);
  return true;
}

void ShioriServer::runEventTalk(const std::string& configuredName) {
  std::string talk;
  if (script_.runTalk(configuredName, talk, false) && !talk.empty()) {
    answerWithTalk(talk);
  } else {
    setStatus(204);
  }
}

void ShioriServer::answerWithTalk(const std::string& talk) {
  const VariableTable& vars = variables();
  const std::string to = readVariable(vars, "__To");
  std::string age = readVariable(vars, "__Age");
  // A script that empties the age starts the count afresh, as a request without one does.
  if (age.empty()) age = "-1";
  const std::string nextAge = addDecimalTexts(age, "1");

  listenCounter_ = 0;
  setStatus(200);
  message_.set("Sender:", ownerGhostName_);
  if (addressesCharacter(to)) {
    message_.set("To:", to);
    message_.set("Age:", nextAge);
  }
  message_.set("Sentence:", talk);
  message_.set("Charset:", "Shift_JIS");
}

void ShioriServer::logThinkResult() {
  const VariableTable& vars = variables();
  log_.newline();
  log_.write("expression automatic segmentation result: ");
  log_.newline();
  for (const std::u16string& segment : event_.segments) {
    log_.writeWide(segment);
    log_.write(" ");
  }
  log_.newline();
  log_.newline();
  log_.write("__Think_accept: ");
  log_.write(readVariable(vars, "__Think_accept"));
  log_.newline();
  log_.write("__Think_state: ");
  log_.write(readVariable(vars, "__Think_state"));
  log_.newline();
  log_.newline();
}

}  // namespace zelka
