#include "session.h"

#include "host_protocol3.h"
#include "terminal_text.h"

namespace zelka::host {

// The lines being run, with their position for error reports.
struct Session::Input {
  std::istream& in;
  InputMode mode;
  std::string sourceName;
  std::ostream& out;
  const std::function<std::optional<std::string>(const std::string&)>& readLine;
  std::size_t lineNumber = 0;

  // The next line; at a prompt in an interactive session, shows the prompt first.
  std::optional<std::string> next(const char* prompt) {
    if (mode == InputMode::kInteractive && readLine) {
      std::optional<std::string> line = readLine(prompt);
      if (line) ++lineNumber;
      return line;
    }
    if (mode == InputMode::kInteractive) out << prompt << std::flush;
    std::string line;
    if (!std::getline(in, line)) return std::nullopt;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }
};

Session::Session(RequestFunction send, std::ostream& out, std::ostream& err,
                 SessionOptions options)
    : send_(std::move(send)), out_(out), err_(err), options_(std::move(options)) {
  std::string error;
  if (!terminalToShiftJis(options_.sender, senderSjis_, error)) senderSjis_ = "User";
  options_.style.userName = options_.sender;
}

void Session::start() {
  std::string ghost;
  std::string error;
  if (!terminalToShiftJis(options_.style.mainName, ghost, error)) ghost = "Zelka";
  if (std::optional<HostResponse> response = exchange(ownerGhostNameRequest(ghost))) {
    if (response->code != 200 && !options_.raw) note("(NOTIFY OwnerGhostName: " +
                                                     response->statusText + ")");
  }
  if (options_.boot) {
    if (std::optional<HostResponse> response = exchange(eventRequest("OnBoot", {}))) {
      if (!showTalk(*response, "(boot)")) showStatus(*response, "(boot: no talk)");
    }
  }
  showPendingProblems();
  out_.flush();
}

void Session::finish() {
  if (thinkMayRun_) {
    const ThinkState state = waitWhileThinking(send_);
    if (state == ThinkState::kFinished) {
      note("(the ghost finished thinking about \u201c" + lateSentence_ +
           "\u201d after the last line; that answer was not collected)");
    }
    thinkMayRun_ = false;
  }
  if (options_.boot) {
    if (std::optional<HostResponse> response = exchange(eventRequest("OnClose", {}))) {
      if (!showTalk(*response, "(close)")) showStatus(*response, "(close: no talk)");
    }
  }
  showPendingProblems();
  out_.flush();
}

void Session::reportProblems() {
  showPendingProblems();
  pending_ = takeProblems(send_);
  showPendingProblems();
}

std::optional<std::string> Session::send(const std::string& request) {
  showPendingProblems();
  std::optional<std::string> text = send_(request);
  pending_ = takeProblems(send_);
  return text;
}

void Session::showPendingProblems() {
  if (pending_.empty()) return;
  out_.flush();
  if (options_.raw) {
    critical_ += printProblems(pending_, err_, "zelka: ");
  } else {
    critical_ += printProblems(pending_, out_, "! ");
  }
  pending_.clear();
}

int Session::run(std::istream& in, InputMode mode, const std::string& sourceName) {
  Input input{in, mode, sourceName, out_, options_.readLine};
  input_ = &input;
  const int failuresBefore = failures_;
  for (;;) {
    std::optional<std::string> line = input.next("> ");
    if (!line) {
      if (mode == InputMode::kInteractive) out_ << "\n";
      break;
    }
    std::string error;
    std::optional<Command> command = parseCommand(*line, error);
    const bool quiet = command && (command->kind == CommandKind::kEmpty ||
                                   command->kind == CommandKind::kComment);
    if (mode == InputMode::kPlay && !quiet) out_ << "> " << utf8ForDisplay(*line) << "\n";
    if (mode == InputMode::kPlay && options_.showComments && command &&
        command->kind == CommandKind::kComment) {
      out_ << utf8ForDisplay(*line) << "\n";
    }
    if (!command) {
      fail(error);
      continue;
    }
    if (command->kind == CommandKind::kQuit) break;
    if (options_.vendorChanged && command->kind != CommandKind::kReload &&
        options_.vendorChanged()) {
      reload("a file in the vendor folder changed");
    }
    execute(*command, input);
    showPendingProblems();
    out_.flush();
  }
  out_.flush();
  input_ = nullptr;
  return failures_ - failuresBefore;
}

void Session::execute(const Command& command, Input& input) {
  switch (command.kind) {
    case CommandKind::kEmpty:
    case CommandKind::kComment:
    case CommandKind::kQuit:
      break;
    case CommandKind::kSentence: sendSentence(command.text); break;
    case CommandKind::kEvent: sendEvent(command); break;
    case CommandKind::kTick: tick(command.count); break;
    case CommandKind::kWait: waitForThinking(); break;
    case CommandKind::kChoose: choose(command.count); break;
    case CommandKind::kReload:
      if (options_.reload) {
        reload("reloaded");
      } else {
        fail(":reload is not available here");
      }
      break;
    case CommandKind::kTouch: touch(command.text, command.count); break;
    case CommandKind::kWord: sendWord(command.text); break;
    case CommandKind::kString: sendString(command.text); break;
    case CommandKind::kRaw: sendRaw(input); break;
    case CommandKind::kSender: setSender(command.text); break;
    case CommandKind::kHelp: out_ << commandHelp(); break;
    case CommandKind::kLearned:
      if (options_.showLearned) {
        options_.showLearned(out_);
      } else {
        fail(":learned is not available here");
      }
      break;
  }
}

void Session::sendSentence(const std::string& utf8) {
  std::string sentence;
  if (!toModuleText(utf8, sentence, "the sentence")) return;
  if (settleThinking()) {
    note("(the answer to \u201c" + lateSentence_ +
         "\u201d was not collected: a new sentence replaces it)");
  }
  std::optional<HostResponse> response = exchange(sentenceRequest(senderSjis_, sentence));
  if (!response) return;
  thinkMayRun_ = false;
  if (showTalk(*response, "")) return;
  if (response->code != 204) {
    showStatus(*response, "");
    return;
  }
  // A transcript waits for the pass here, so that its note never depends on the machine's
  // speed; at a prompt the author may go on while the ghost thinks.
  const bool transcript = input_ != nullptr && input_->mode == InputMode::kPlay;
  switch (transcript ? waitWhileThinking(send_) : askThinkState(send_)) {
    case ThinkState::kRunning:
      thinkMayRun_ = true;
      lateSentence_ = utf8;
      note("(no answer now; the ghost is still thinking, :tick brings its answer)");
      break;
    case ThinkState::kFinished:
      thinkMayRun_ = true;
      lateSentence_ = utf8;
      note("(no answer at once; the ghost finished thinking late, :tick brings its answer)");
      break;
    case ThinkState::kReady:
      note("(no talk)");
      break;
    case ThinkState::kUnknown:
      // A module that does not tell: the 204 may mean either.
      note("(no answer now; if the ghost is still thinking, :tick brings it)");
      break;
  }
}

bool Session::settleThinking() {
  if (!thinkMayRun_) return false;
  const ThinkState state = waitWhileThinking(send_);
  if (state == ThinkState::kFinished) return true;
  thinkMayRun_ = false;
  return false;
}

void Session::waitForThinking() {
  const bool pending = thinkMayRun_;
  switch (waitWhileThinking(send_)) {
    case ThinkState::kFinished:
      thinkMayRun_ = true;
      note("(the ghost has finished thinking" +
           (pending ? " about \u201c" + lateSentence_ + "\u201d" : std::string()) +
           "; :tick brings its answer)");
      break;
    case ThinkState::kReady:
      thinkMayRun_ = false;
      note("(the ghost is not thinking)");
      break;
    case ThinkState::kRunning:
    case ThinkState::kUnknown:
      fail(":wait: the module does not tell whether it is thinking");
      break;
  }
}

void Session::sendEvent(const Command& command) {
  std::string name;
  if (!toModuleText(command.text, name, "the event name")) return;
  std::vector<std::string> references;
  for (std::size_t n = 0; n < command.arguments.size(); ++n) {
    std::string reference;
    if (!toModuleText(command.arguments[n], reference, "Reference" + std::to_string(n))) return;
    references.push_back(std::move(reference));
  }
  std::optional<HostResponse> response = exchange(eventRequest(name, references));
  if (!response || showTalk(*response, "")) return;
  showStatus(*response, "(no talk)");
}

void Session::tick(unsigned long count) {
  unsigned long talks = 0;
  for (unsigned long k = 0; k < count; ++k) {
    // A pass still running is waited for, so the second always finds it ended: its answer
    // comes with this second however fast the machine thought.
    const bool lateAnswer = settleThinking();
    thinkMayRun_ = false;
    ++seconds_;
    std::optional<HostResponse> response =
        exchange(eventRequest("OnSecondChange", {std::to_string(seconds_)}));
    if (!response) continue;
    std::string heading = "(second " + std::to_string(seconds_);
    if (lateAnswer) {
      heading += ": the answer to \u201c" + lateSentence_ + "\u201d, thought over late";
    }
    heading += ")";
    if (showTalk(*response, heading)) {
      ++talks;
    } else if (response->code != 204) {
      showStatus(*response, "");
    } else if (lateAnswer) {
      note(heading.substr(0, heading.size() - 1) + ": no talk)");
    }
  }
  if (talks == 0 && !options_.raw) {
    note("(" + std::to_string(count) + (count == 1 ? " second" : " seconds") +
         " passed without talk)");
  }
}

void Session::touch(const std::string& part, unsigned long count) {
  std::string partSjis;
  if (!toModuleText(part, partSjis, "the part name")) return;
  unsigned long talks = 0;
  for (unsigned long k = 1; k <= count; ++k) {
    ++moves_;
    // Coordinates wander a little, as a real pointer's do; wheel 0, the main character.
    const std::vector<std::string> references = {std::to_string(100 + moves_ % 16), "120", "0",
                                                 "0", partSjis};
    std::optional<HostResponse> response = exchange(eventRequest("OnMouseMove", references));
    if (!response) continue;
    if (showTalk(*response, "(move " + std::to_string(k) + ")")) {
      ++talks;
    } else if (response->code != 204) {
      showStatus(*response, "");
    }
  }
  if (talks == 0 && !options_.raw) {
    note("(" + std::to_string(count) + (count == 1 ? " move" : " moves") + " over " + part +
         " without talk)");
  }
}

void Session::sendWord(const std::string& script) {
  std::string type;
  if (!toModuleText(script, type, "the script")) return;
  std::optional<HostResponse> response = exchange(wordRequest(type));
  if (!response || options_.raw) return;
  if (response->code == 200 && response->header("Word")) {
    out_ << "= " << shiftJisToDisplay(*response->header("Word")) << "\n";
  } else {
    showStatus(*response, "(no word)");
  }
}

void Session::sendString(const std::string& id) {
  std::string idSjis;
  if (!toModuleText(id, idSjis, "the resource ID")) return;
  std::optional<HostResponse> response = exchange(stringRequest(idSjis));
  if (!response || options_.raw) return;
  if (response->code == 200 && response->header("String")) {
    std::string shown = shiftJisToDisplay(*response->header("String"));
    if (options_.shiori3) shown = withForeignCharacters(shown);
    out_ << "= " << shown << "\n";
  } else {
    showStatus(*response, "(no string for " + id + ")");
  }
}

void Session::sendRaw(Input& input) {
  const std::size_t firstLine = input.lineNumber;
  std::vector<std::string> lines;
  for (;;) {
    std::optional<std::string> line = input.next("| ");
    if (!line) {
      if (input.mode == InputMode::kInteractive) out_ << "\n";
      fail("the input ended inside the :raw request begun at line " +
           std::to_string(firstLine) + "; it was not sent");
      return;
    }
    if (line->empty()) break;
    if (input.mode == InputMode::kPlay) out_ << "| " << utf8ForDisplay(*line) << "\n";
    lines.push_back(std::move(*line));
  }
  if (lines.empty()) {
    fail(":raw needs a request before the empty line");
    return;
  }
  std::string request;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    std::string converted;
    if (!toModuleText(lines[n], converted, "line " + std::to_string(n + 1) + " of the request")) {
      return;
    }
    request += converted + "\r\n";
  }
  request += "\r\n";
  std::optional<std::string> text = send(request);
  // A raw request may have been a heard sentence: the next second asks whether a pass runs.
  thinkMayRun_ = true;
  lateSentence_ = ":raw";
  if (!text) {
    note("(the module returned no response)");
    return;
  }
  if (options_.raw) {
    out_ << *text << std::flush;
    return;
  }
  // The response as lines, each marked as received.
  std::size_t at = 0;
  while (at < text->size()) {
    std::size_t end = text->find('\n', at);
    if (end == std::string::npos) end = text->size();
    std::string_view current(text->data() + at, end - at);
    at = end + 1;
    if (!current.empty() && current.back() == '\r') current.remove_suffix(1);
    if (current.empty()) break;
    out_ << "< " << shiftJisToDisplay(current) << "\n";
  }
}

void Session::reload(const std::string& why) {
  // What a running pass learns is saved with the rest; an answer not yet collected is lost.
  if (settleThinking()) {
    note("(the answer to \u201c" + lateSentence_ + "\u201d was not collected before the reload)");
  }
  thinkMayRun_ = false;
  out_.flush();
  std::string error;
  if (!options_.reload(error)) {
    fail(":reload: " + error);
    return;
  }
  // The load may itself change the folder (a dictionary imported and set aside): that is not
  // an edit to reload for.
  if (options_.vendorChanged) options_.vendorChanged();
  std::string ghost;
  if (!terminalToShiftJis(options_.style.mainName, ghost, error)) ghost = "Zelka";
  exchange(ownerGhostNameRequest(ghost));
  note("(" + why + ": the knowledge files were read again; what the ghost learned, its "
       "variables, the sender and the clock are kept)");
}

void Session::choose(unsigned long number) {
  if (choices_.empty()) {
    fail(":choose: the last talk offered no choice");
    return;
  }
  if (number > choices_.size()) {
    fail(":choose: the last talk offered " + std::to_string(choices_.size()) +
         (choices_.size() == 1 ? " choice" : " choices"));
    return;
  }
  const std::string id = choices_[number - 1].id;
  std::optional<HostResponse> response = exchange(eventRequest("OnChoiceSelect", {id}));
  if (!response || showTalk(*response, "")) return;
  showStatus(*response, "(no talk)");
}

void Session::setSender(const std::string& name) {
  std::string sjis;
  if (!toModuleText(name, sjis, "the sender")) return;
  senderSjis_ = std::move(sjis);
  options_.sender = name;
  options_.style.userName = name;
  if (!options_.raw) note("(plain lines now come from " + name + ")");
}

std::optional<HostResponse> Session::exchange(const std::string& request) {
  if (options_.shiori3) return exchange3(request);
  std::optional<std::string> text = send(request);
  if (!text) {
    note("(the module returned no response)");
    return std::nullopt;
  }
  if (options_.raw) out_ << *text << std::flush;
  return parseResponse(*text);
}

bool Session::showTalk(const HostResponse& response, const std::string& heading) {
  if (response.code != 200) return false;
  std::optional<std::string> talk = response.header("Sentence");
  if (!talk) return false;
  if (options_.raw) return true;
  if (!heading.empty()) out_ << dimmed(heading, options_.style.color) << "\n";
  std::string rendered = renderTalk(*talk, options_.style);
  if (options_.shiori3) rendered = withForeignCharacters(rendered);
  out_ << (rendered.empty() ? "(empty talk)\n" : rendered);
  choices_ = talkChoices(*talk);
  if (!choices_.empty()) {
    std::string list = "(:choose";
    for (std::size_t n = 0; n < choices_.size(); ++n) {
      list += (n == 0 ? " " : ", ") + std::to_string(n + 1) + " " + choices_[n].title;
    }
    note(list + ")");
  }
  return true;
}

void Session::showStatus(const HostResponse& response, const std::string& noContent) {
  if (options_.raw) return;
  if (response.code == 204) {
    if (!noContent.empty()) note(noContent);
    return;
  }
  note("(" + (response.statusText.empty() ? std::string("no status") : response.statusText) +
       ")");
}

void Session::note(const std::string& text) {
  if (options_.raw) return;
  out_ << dimmed(text, options_.style.color) << "\n";
}

bool Session::toModuleText(const std::string& utf8, std::string& sjis, const std::string& what) {
  std::string error;
  if (terminalToShiftJis(utf8, sjis, error)) return true;
  if (options_.shiori3 && toNarrowForShiori3(utf8, sjis)) return true;
  fail(what + ": " + error + "; nothing was sent");
  return false;
}

void Session::fail(const std::string& message) {
  ++failures_;
  out_.flush();
  if (input_ != nullptr && input_->mode == InputMode::kPlay) {
    err_ << input_->sourceName << ":" << input_->lineNumber << ": " << message << "\n";
  } else {
    err_ << "zelka-host: " << message << "\n";
  }
  err_.flush();
}

}  // namespace zelka::host
