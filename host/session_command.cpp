#include "session_command.h"

namespace zelka::host {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimBlanks(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Splits at blanks; a double-quoted stretch is one word (without its quotes), so "" is an
// empty word. False when a quote is left open.
bool splitWords(std::string_view text, std::vector<std::string>& words) {
  words.clear();
  std::size_t i = 0;
  while (i < text.size()) {
    if (isBlank(text[i])) {
      ++i;
      continue;
    }
    std::string word;
    while (i < text.size() && !isBlank(text[i])) {
      if (text[i] == '"') {
        const std::size_t close = text.find('"', i + 1);
        if (close == std::string_view::npos) return false;
        word.append(text.substr(i + 1, close - i - 1));
        i = close + 1;
      } else {
        word += text[i++];
      }
    }
    words.push_back(std::move(word));
  }
  return true;
}

// Reads an optional repeat count; false with `error` set when it is not a number in range.
bool readCount(const std::vector<std::string>& words, std::size_t index, unsigned long& count,
               std::string& error) {
  count = 1;
  if (words.size() <= index) return true;
  const std::string& word = words[index];
  if (word.empty() || word.size() > 7 || word.find_first_not_of("0123456789") != std::string::npos ||
      std::stoul(word) == 0 || std::stoul(word) > kMaxRepeat) {
    error = "the count must be a number from 1 to " + std::to_string(kMaxRepeat) + ", not '" +
            word + "'";
    return false;
  }
  count = std::stoul(word);
  return true;
}

}  // namespace

std::optional<Command> parseCommand(std::string_view line, std::string& error) {
  error.clear();
  Command command;
  if (trimBlanks(line).empty()) return command;
  if (line.front() == '#') {
    command.kind = CommandKind::kComment;
    return command;
  }
  if (line.front() != ':' || line.starts_with("::")) {
    command.kind = CommandKind::kSentence;
    command.text = std::string(line.starts_with("::") ? line.substr(1) : line);
    return command;
  }

  std::size_t end = 1;
  while (end < line.size() && !isBlank(line[end])) ++end;
  const std::string name(line.substr(1, end - 1));
  const std::string_view rest = trimBlanks(line.substr(end));
  std::vector<std::string> words;
  auto needText = [&](CommandKind kind, const char* what) -> std::optional<Command> {
    if (rest.empty()) {
      error = ":" + name + " needs " + what;
      return std::nullopt;
    }
    command.kind = kind;
    command.text = std::string(rest);
    return command;
  };
  auto noArguments = [&](CommandKind kind) -> std::optional<Command> {
    if (!rest.empty()) {
      error = ":" + name + " takes no arguments";
      return std::nullopt;
    }
    command.kind = kind;
    return command;
  };

  if (name == "word") return needText(CommandKind::kWord, "a script");
  if (name == "string") return needText(CommandKind::kString, "a resource ID");
  if (name == "sender") return needText(CommandKind::kSender, "a name");
  if (name == "raw") return noArguments(CommandKind::kRaw);
  if (name == "help") return noArguments(CommandKind::kHelp);
  if (name == "wait") return noArguments(CommandKind::kWait);
  if (name == "reload") return noArguments(CommandKind::kReload);
  if (name == "learned") return noArguments(CommandKind::kLearned);
  if (name == "quit") return noArguments(CommandKind::kQuit);

  const bool known = name == "event" || name == "tick" || name == "touch" || name == "choose";
  if (!known) {
    error = "unknown command :" + name + " (:help lists the commands)";
    return std::nullopt;
  }
  if (!splitWords(rest, words)) {
    error = ":" + name + ": a double quote is not closed";
    return std::nullopt;
  }
  if (name == "event") {
    if (words.empty() || words[0].empty()) {
      error = ":event needs an event name";
      return std::nullopt;
    }
    if (words.size() - 1 > 8) {
      error = ":event takes at most 8 references";
      return std::nullopt;
    }
    command.kind = CommandKind::kEvent;
    command.text = words[0];
    command.arguments.assign(words.begin() + 1, words.end());
    return command;
  }
  if (name == "choose") {
    if (words.size() != 1) {
      error = ":choose needs the number of a choice";
      return std::nullopt;
    }
    if (!readCount(words, 0, command.count, error)) return std::nullopt;
    command.kind = CommandKind::kChoose;
    return command;
  }
  if (name == "tick") {
    if (words.size() > 1) {
      error = ":tick takes one count";
      return std::nullopt;
    }
    if (!readCount(words, 0, command.count, error)) return std::nullopt;
    command.kind = CommandKind::kTick;
    return command;
  }
  // :touch PART [N]
  if (words.empty() || words[0].empty() || words.size() > 2) {
    error = ":touch needs a part name and an optional count";
    return std::nullopt;
  }
  if (!readCount(words, 1, command.count, error)) return std::nullopt;
  command.kind = CommandKind::kTouch;
  command.text = words[0];
  return command;
}

std::string commandHelp() {
  return "A plain line is a sentence heard from another character (the sender).\n"
         "Commands:\n"
         "  :event NAME [REF0 ... REF7]  raise an event with up to eight references\n"
         "                               (\"double quotes\" keep blanks in one reference)\n"
         "  :tick [N]                    let N seconds pass (OnSecondChange), showing all talk;\n"
         "                               a think pass still running is waited for first\n"
         "  :wait                        wait until the ghost has finished thinking\n"
         "  :touch PART [N]              move the mouse N times over a body part (OnMouseMove)\n"
         "  :word SCRIPT                 run a script and show its word (GET Word)\n"
         "  :string ID                   ask for a resource string (GET String)\n"
         "  :raw                         send a raw request typed up to an empty line\n"
         "  :sender NAME                 who speaks the plain lines (now and later)\n"
         "  :choose N                    pick the N-th choice of the last talk (OnChoiceSelect)\n"
         "  :reload                      read the knowledge files again (learning is kept)\n"
         "  :learned                     what the ghost has learned, as last saved to its files\n"
         "  :help                        this list\n"
         "  :quit                        close the ghost and save what it learned\n"
         "A line beginning with # is a comment; begin a sentence with :: to start it with ':'.\n";
}

}  // namespace zelka::host
