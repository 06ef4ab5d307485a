// The command language of the interactive and scripted sessions. A line is a heard sentence
// unless it begins with ':' (a command; "::" sends a sentence that begins with ':') or '#'
// (a comment). Command words are matched exactly; arguments are UTF-8 as typed.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelka::host {

enum class CommandKind {
  kEmpty,     // blank line
  kComment,   // # ...
  kSentence,  // a sentence heard from another character
  kEvent,     // :event NAME [REF0 ... REF7]
  kTick,      // :tick [N]
  kWait,      // :wait
  kReload,    // :reload
  kChoose,    // :choose N
  kTouch,     // :touch PART [N]
  kWord,      // :word SCRIPT
  kString,    // :string ID
  kRaw,       // :raw, followed by a request up to an empty line
  kSender,    // :sender NAME
  kLearned,   // :learned
  kHelp,      // :help
  kQuit,      // :quit
};

struct Command {
  CommandKind kind = CommandKind::kEmpty;
  std::string text;                    // sentence, event name, part, script, id or sender
  std::vector<std::string> arguments;  // event references
  unsigned long count = 1;             // ticks, moves or the choice
};

// Largest count :tick and :touch accept.
inline constexpr unsigned long kMaxRepeat = 1000000;

// Parses one line (without its line end). nullopt with `error` set for an unknown command or
// wrong arguments.
std::optional<Command> parseCommand(std::string_view line, std::string& error);

// The text :help prints.
std::string commandHelp();

}  // namespace zelka::host
