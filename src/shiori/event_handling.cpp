// The sentence handler (GET Sentence and TEST): where the module decides to talk.
//
// A request is an event from the host ("Event:"), a sentence heard from another character
// ("Sentence:" without "Event:") or a bare request for talk. The handler publishes the
// request's headers as script variables, turns timer and mouse events into the module's own
// events (result of thinking, free talk, listen time-out, body touch), collects the event's
// references, runs the event's talk and answers 200 with it, or 204 when there is nothing to
// say. The think thread is only started, ticked, polled and accepted from here; while a pass
// runs, nothing here touches the bind network.
//
// Text from the request (the sender, the heard sentence, the references and the other headers
// published as variables) is what another character or the user wrote, so scripts get it with
// every backslash doubled: echoed into talk in whatever way, it reaches the host as text and
// never as one of the host's tags. The doubling is done here, where the text enters, because
// the doubled form then travels with the value wherever a script copies, joins or stores it;
// at output there is no telling it from the ghost's own tags. The think pass gets the text as
// heard, and the "To:" header the sender's name as sent.
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text_codec.h"
#include "script/think_codes.h"
#include "shiori/event_conversion.h"
#include "shiori/reference_split.h"
#include "shiori/shiori_server.h"
#include "util/number_text.h"
#include "util/text.h"

namespace zelka {

namespace {

// Full-width parentheses around "__Here" in the free talk log entry.
constexpr std::string_view kFullWidthOpen = "\x81\x69";
constexpr std::string_view kFullWidthClose = "\x81\x6A";

constexpr int kReferenceHeaders = 8;

// A variable as the event handling reads it: one enclosing pair of double quotes removed;
// a missing variable reads as empty.
std::string unwrapPair(const VariableTable& variables, std::string_view name) {
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

  const std::string sender = doubleBackslashes(message_.view("Sender:"));
  vars.setVariable("__To", sender);
  vars.setVariable("__Sender", sender.empty() ? std::string_view("Nobody") : sender);

  const std::string_view age = message_.view("Age:");
  vars.setVariable("__Age", age.empty() ? std::string("-1") : doubleBackslashes(age));

  if (const std::string_view surface = message_.view("Surface:"); !surface.empty()) {
    const std::size_t comma = surface.find(',');
    vars.setVariable("__SurfaceWho0", doubleBackslashes(surface.substr(0, comma)));
    if (comma != std::string_view::npos) {
      const std::string_view rest = surface.substr(comma + 1);
      vars.setVariable("__SurfaceWho1", doubleBackslashes(rest.substr(0, rest.find(','))));
    }
  }

  vars.setVariable("__Security_level", doubleBackslashes(message_.view("SecurityLevel:")));
  vars.setVariable("__Sentence", "");

  if (std::optional<std::string> event = message_.get("Event:")) {
    return handleEvent(std::move(*event));
  }
  if (message_.has("Sentence:")) return handleHeardSentence();
  return handleTalkRequest();
}

bool ShioriServer::handleEvent(std::string name) {
  const bool secondElapsed = name == "OnSecondChange";
  if (secondElapsed) convertTimerEvent(name);
  if (name == "OnMouseMove") convertTouchEvent(name);
  const std::string hostName = name;   // after the conversions, before the configured rename

  const std::string configured = eventRename(name);
  collectReferences(configured);
  EventContext& event = eventContext();
  const auto& references = event.references;

  if ((hostName == "OnSecondChange" || hostName == "OnMinuteChange") && !references.empty() &&
      !references.front().empty()) {
    const std::int32_t first = parseInt32Prefix(references.front().front());
    if (first >= 0) event.exhValue = static_cast<std::uint32_t>(first);
  }
  if (hostName == "OnSurfaceChange") {
    variables().setVariable("__Surface_0", firstPiece(references, 0));
    variables().setVariable("__Surface_1", firstPiece(references, 1));
  }

  beginResponse();
  event.rememberedScope.clear();
  runEventTalk(configured);
  event.references.clear();
  // After the talk, which may have accepted thinking or changed variables that are then saved.
  if (secondElapsed) {
    autosave().secondElapsed(learningEngine(), variables(), reflexFilePath(), &problems());
  }
  return true;
}

void ShioriServer::convertTimerEvent(std::string& name) {
  VariableTable& vars = variables();
  LearningEngine& learning = learningEngine();
  DiagnosticLog& log = this->log();
  if (learning.thinkPhase() == kThinkRunning) learning.tickThinking();

  TimerInputs inputs;
  inputs.thinkFinished = learning.thinkPhase() == kThinkFinished;
  // The interval is read as stored, quotes included: a quoted (non-numeric) value reads 0.
  inputs.talkInterval = static_cast<std::uint32_t>(scriptEngine().talkInterval());
  const std::string listenId = unwrapPair(vars, "__Listen_id");
  inputs.listenPending = listenId != "none";

  switch (convertSecondChange(eventCounters(), inputs)) {
    case TimerConversion::None:
      return;

    case TimerConversion::ThinkResult: {
      eraseReferenceHeaders();
      name = learning.thinkTicks() < learning.thinkWait() ? "OnZelkaCommunicate"
                                                          : "OnZelkaCommunicateTimeout";
      const int phase = learning.acceptThinking(kThinkReady);
      vars.setVariableUnsigned("__Think_accept", static_cast<std::uint32_t>(phase));
      vars.setVariableUnsigned("__Think_state",
                               static_cast<std::uint32_t>(learning.thinkResult()));
      EventContext& event = eventContext();
      event.segments.clear();
      learning.takeSegments(event.segments);
      if (runLevel().logsFormulas()) logThinkResult();
      return;
    }

    case TimerConversion::FreeTalk: {
      eraseReferenceHeaders();
      name = "OnZelkaFreeTalk";
      const std::string here = unwrapPair(vars, "__Here");
      const std::string present = here.empty() ? "0" : "1";
      message_.set("Reference0:", present);
      if (runLevel().logsConversions()) {
        log.newline();
        log.write("OnZelkaFreeTalk Reference0: ");
        log.write(present);
        log.write(kFullWidthOpen);
        log.write(here);
        log.write(kFullWidthClose);
        log.newline();
        log.newline();
      }
      return;
    }

    case TimerConversion::ListenTimeout:
      eraseReferenceHeaders();
      name = "OnZelkaListenTimeout";
      message_.set("Reference0:", listenId);
      if (runLevel().logsConversions()) {
        log.newline();
        log.write("OnZelkaListenTimeout Reference0: ");
        log.write(listenId);
        log.newline();
        log.newline();
      }
      vars.setVariable("__Listen_id", "none");
      return;
  }
}

void ShioriServer::convertTouchEvent(std::string& name) {
  const std::string_view part = message_.view("Reference4:");
  // Decoded leniently: a part with a byte that does not convert keeps its length instead of
  // comparing equal to its convertible beginning (and a non-empty part never decodes empty).
  const std::u16string wide = part.empty() ? std::u16string() : decodeCp932Lenient(part);
  if (!convertMouseMove(eventCounters(), wide)) return;

  name = "OnZelkaBodyTouch";
  // The count replaces whatever the host sent as the sixth reference.
  while (message_.erase("Reference5:")) {
  }
  const std::string count = std::to_string(eventCounters().touchCounter);
  message_.set("Reference5:", count);
  if (runLevel().logsConversions()) {
    DiagnosticLog& log = this->log();
    log.newline();
    log.write("OnZelkaBodyTouch Reference5: ");
    log.write(count);
    log.newline();
    log.newline();
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
  std::vector<std::vector<std::string>>& references = eventContext().references;
  references.clear();
  const ZelkaConfig* config = this->config();
  const std::u16string wideName = toWide(configuredName);
  // A name that does not convert completely cannot be matched against the configuration.
  const bool lookUp = config != nullptr && toNarrow(wideName) == configuredName;
  for (int n = 0; n < kReferenceHeaders; ++n) {
    const std::string_view value = message_.view(referenceKey(n));
    if (value.empty()) continue;
    std::string expression;
    if (lookUp) {
      expression = toNarrow(config->referenceSeparation(wideName, static_cast<unsigned>(n)));
    }
    std::vector<std::string> pieces;
    if (expression.empty()) {
      pieces.emplace_back(value);
    } else {
      splitBySeparation(value, expression, pieces);
    }
    // Cut as sent, then shown as text.
    for (std::string& piece : pieces) piece = doubleBackslashes(piece);
    references.push_back(std::move(pieces));
  }
}

bool ShioriServer::handleHeardSentence() {
  VariableTable& vars = variables();
  const std::string sentence(message_.view("Sentence:"));
  vars.setVariable("__Sentence", doubleBackslashes(sentence));
  EventContext& event = eventContext();
  LearningEngine& learning = learningEngine();
  event.segments.clear();

  // The think pass learns from what was heard: the variables' doubled backslashes undone.
  const std::u16string sender = toWide(undoubleBackslashes(unwrapPair(vars, "__Sender")));
  const std::u16string security =
      toWide(undoubleBackslashes(unwrapPair(vars, "__Security_level")));
  // The host may have asked for a wait that does not depend on how fast the pass is: until it
  // ends (always answered at once) or none (always answered by the next OnSecondChange).
  const int firstWait = sessionTuning().firstThinkWaitMs;
  const bool answerLater = firstWait == SessionTuning::kAnswerLater;
  const int waitMs = firstWait == SessionTuning::kWaitForEnd ? std::numeric_limits<int>::max()
                     : answerLater                           ? 0
                                                             : firstWait;
  learning.startThinking(sender, security, toWide(sentence), waitMs);

  // The phase is read once: a pass that ends right after this read is collected by the next
  // OnSecondChange, never answered twice. Answering later, the pass counts as running here
  // whether or not it has ended.
  int phase = answerLater ? kThinkRunning : learning.thinkPhase();
  if (phase != kThinkRunning) phase = learning.acceptThinking(kThinkReady);
  vars.setVariableUnsigned("__Think_accept", static_cast<std::uint32_t>(phase));
  vars.setVariableUnsigned("__Think_state", static_cast<std::uint32_t>(learning.thinkResult()));

  const std::string configured = eventRename("OnZelkaCommunicate");
  beginResponse();
  if (phase == kThinkRunning) {
    // Still thinking: the answer comes with a later OnSecondChange.
    setStatus(204);
    return true;
  }
  event.segments.clear();
  learning.takeSegments(event.segments);
  if (runLevel().logsFormulas()) logThinkResult();

  event.rememberedScope.clear();
  runEventTalk(configured);
  return true;
}

bool ShioriServer::handleTalkRequest() {
  const std::string configured = eventRename("OnZelkaFreeTalk");
  beginResponse();
  eventContext().rememberedScope.clear();
  runEventTalk(configured);
  return true;
}

void ShioriServer::runEventTalk(const std::string& configuredName) {
  std::string talk;
  if (scriptEngine().runTalk(configuredName, talk, false) && !talk.empty()) {
    answerWithTalk(talk);
  } else {
    setStatus(204);
  }
}

void ShioriServer::answerWithTalk(const std::string& talk) {
  const VariableTable& vars = variables();
  // The recipient leaves as a protocol value, not as talk: with its backslashes single again.
  const std::string to = undoubleBackslashes(unwrapPair(vars, "__To"));
  std::string age = unwrapPair(vars, "__Age");
  // A script that empties the age starts the count afresh, as a request without one does.
  if (age.empty()) age = "-1";
  const std::string nextAge = addDecimalTexts(age, "1");

  eventCounters().listenCounter = 0;
  setStatus(200);
  message_.set("Sender:", ownerGhostName());
  if (addressesCharacter(to)) {
    message_.set("To:", to);
    message_.set("Age:", nextAge);
  }
  message_.set("Sentence:", talk);
  message_.set("Charset:", "Shift_JIS");
}

void ShioriServer::logThinkResult() {
  const VariableTable& vars = variables();
  DiagnosticLog& log = this->log();
  log.newline();
  log.write("expression automatic segmentation result: ");
  log.newline();
  for (const std::u16string& segment : eventContext().segments) {
    log.writeWide(segment);
    log.write(" ");
  }
  log.newline();
  log.newline();
  log.write("__Think_accept: ");
  log.write(unwrapPair(vars, "__Think_accept"));
  log.newline();
  log.write("__Think_state: ");
  log.write(unwrapPair(vars, "__Think_state"));
  log.newline();
  log.newline();
}

}  // namespace zelka
