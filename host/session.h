// The authoring session: plays the host for a loaded module. It boots the ghost (telling it
// its name and raising OnBoot), turns each input line into requests (heard sentences, events,
// seconds passing, mouse moves, words, resource strings, raw requests) and prints what the
// ghost says in readable form, or exactly as received with the raw option. Input comes from
// a terminal (prompted) or a play file (echoed as a transcript, errors with line numbers).
//
// After every request it asks the module for the problems that request caused and shows them
// right below the talk ("! error: vender/talk.tlk:5: ..."); with the raw option they go to
// the error stream instead ("zelka: error: ..."), so that the output stays the responses.
#pragma once

#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "host_protocol.h"
#include "module_problems.h"
#include "session_command.h"
#include "talk_renderer.h"
#include "think_watch.h"

namespace zelka::host {

using RequestFunction = std::function<std::optional<std::string>(const std::string&)>;

struct SessionOptions {
  std::string sender = "User";   // UTF-8
  bool raw = false;              // print responses exactly as received
  bool boot = true;              // raise OnBoot at the start and OnClose at the end
  bool showComments = false;     // a play file's # comments are printed in the transcript
  TalkStyle style;               // names and colour of the rendered talk
  bool shiori3 = false;          // speak SHIORI/3.0 (UTF-8) instead of 2.x
  // Prints what the ghost has learned (:learned); unset, the command says it is not available.
  std::function<void(std::ostream&)> showLearned;
  // Unloads and loads the module again, so that it reads its knowledge files afresh (:reload);
  // false with the error set when the load failed. Unset, :reload is not available.
  std::function<bool(std::string& error)> reload;
  // Asked before each line: true when a file of the vendor folder changed (--watch).
  std::function<bool()> vendorChanged;
  // Reads a line at a prompt in an interactive session (line editing); unset, the session
  // prints the prompt and reads the input stream.
  std::function<std::optional<std::string>(const std::string& prompt)> readLine;
};

enum class InputMode {
  kInteractive,  // prompts, errors without line numbers
  kPlay,         // echoes every line, errors carry the file name and line number
};

class Session {
 public:
  Session(RequestFunction send, std::ostream& out, std::ostream& err, SessionOptions options);

  // Tells the module the ghost's name and, with boot on, raises OnBoot.
  void start();
  // Waits for a think pass still running (so that what it learns is saved whole), then, with
  // boot on, raises OnClose. The caller unloads the module afterwards.
  void finish();

  // Runs the input to its end or to :quit. Answers the number of lines that failed
  // (unknown commands, arguments, text that cannot be sent, a raw request cut short).
  int run(std::istream& in, InputMode mode, const std::string& sourceName);

  // Asks the module for its problems now (after load, after unload) and shows them.
  void reportProblems();
  // Problems shown so far that say something learned could not be saved.
  int criticalProblems() const { return critical_; }

 private:
  struct Input;

  void execute(const Command& command, Input& input);
  void sendSentence(const std::string& utf8);
  void sendEvent(const Command& command);
  void tick(unsigned long count);
  // :wait: waits until no think pass runs, without letting a second pass.
  void waitForThinking();
  // Before a heard sentence or a second: waits for a running pass. Answers true when a pass
  // has ended whose answer the next OnSecondChange brings (the late answer).
  bool settleThinking();
  void touch(const std::string& part, unsigned long count);
  void sendWord(const std::string& script);
  void sendString(const std::string& id);
  void sendRaw(Input& input);
  void setSender(const std::string& name);
  // :choose N: raises OnChoiceSelect with the ID of the N-th choice of the last talk shown.
  void choose(unsigned long number);
  // :reload and --watch: the module is unloaded (saving what it learned and its variables)
  // and loaded again; the session keeps its sender, clock, mouse moves and transcript, and
  // tells the module the ghost's name again, without a second OnBoot.
  void reload(const std::string& why);

  // Sends a request and collects the problems it caused, to be shown before the next output
  // of the module's.
  std::optional<std::string> send(const std::string& request);
  void showPendingProblems();
  // Sends one request; prints the raw response with the raw option. nullopt when the
  // module returned nothing (reported).
  std::optional<HostResponse> exchange(const std::string& request);
  // Prints the talk of a response; answers whether there was talk.
  bool showTalk(const HostResponse& response, const std::string& heading);
  // Prints a short note for a response without talk.
  void showStatus(const HostResponse& response, const std::string& noContent);
  // SHIORI/3.0 (session_shiori3.cpp): the request restated in 3.0, its answer read back in
  // the 2.x shape, and the problems it reports shown.
  std::optional<HostResponse> exchange3(const std::string& request);
  void showAnswerProblems(const std::string& answer);
  // Terminal text in the module's narrow form, characters without a Shift_JIS form as
  // references (they travel to the module in UTF-8). False when it holds a control character
  // or is not UTF-8.
  static bool toNarrowForShiori3(const std::string& utf8, std::string& narrow);
  void note(const std::string& text);
  // Converts UTF-8 to Shift_JIS; reports and answers false when it cannot.
  bool toModuleText(const std::string& utf8, std::string& sjis, const std::string& what);
  void fail(const std::string& message);

  RequestFunction send_;
  std::ostream& out_;
  std::ostream& err_;
  SessionOptions options_;
  std::string senderSjis_;
  unsigned long seconds_ = 0;  // seconds passed, the first reference of OnSecondChange
  unsigned long moves_ = 0;    // mouse moves so far, for their coordinates
  Input* input_ = nullptr;     // the input being run, for error positions
  // A heard sentence was answered 204 while its pass ran: until the pass's answer is
  // collected, the session asks the module before each sentence and second.
  std::vector<TalkChoice> choices_;  // of the last talk shown
  bool thinkMayRun_ = false;
  std::string lateSentence_;   // that sentence (UTF-8), named with its late answer
  int failures_ = 0;
  std::vector<ModuleProblem> pending_;  // caused by the last request, not shown yet
  int critical_ = 0;
};

}  // namespace zelka::host
