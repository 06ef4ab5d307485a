#include "talk_renderer.h"

#include <cstdlib>

#include "terminal_text.h"

namespace zelka::host {

namespace {

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Builds the output turn by turn. Line breaks are held back until more text follows, so a
// talk that ends with breaks, or a turn that ends with one, leaves no empty lines behind.
class TalkWriter {
 public:
  explicit TalkWriter(const TalkStyle& style) : style_(style) {}

  void text(const std::string& utf8) {
    if (utf8.empty()) return;
    openTurn();
    for (; pendingBreaks_ > 0; --pendingBreaks_) out_ += "\n";
    if (lineStart_) out_ += std::string(indent_, ' ');
    lineStart_ = false;
    out_ += utf8;
  }
  void tag(const std::string& utf8) { text(dimmed(utf8, style_.color)); }
  void lineBreak() {
    if (turnOpen_) ++pendingBreaks_, lineStart_ = true;
  }
  // Switching away and back without talk in between goes on with the same turn.
  void scope(int speaker) {
    speaker_ = speaker;
    turnOpen_ = hasTurn_ && speaker == turnSpeaker_;
  }
  std::string finish() {
    if (!out_.empty()) out_ += "\n";
    return std::move(out_);
  }

 private:
  std::string speakerName() const {
    if (speaker_ == 0) return style_.mainName;
    if (speaker_ == 1) return style_.partnerName;
    return "character " + std::to_string(speaker_);
  }
  void openTurn() {
    if (turnOpen_) return;
    if (!out_.empty()) out_ += "\n";
    const std::string name = speakerName();
    out_ += name + ": ";
    indent_ = displayWidth(name) + 2;
    turnOpen_ = true;
    hasTurn_ = true;
    turnSpeaker_ = speaker_;
    pendingBreaks_ = 0;
    lineStart_ = false;
  }

  const TalkStyle& style_;
  std::string out_;
  int speaker_ = 0;
  bool turnOpen_ = false;
  bool hasTurn_ = false;
  int turnSpeaker_ = 0;
  bool lineStart_ = false;
  std::size_t pendingBreaks_ = 0;
  std::size_t indent_ = 0;
};

// Reads a bracketed argument at `at` (which holds '['): up to the matching ']', with double
// quotes and "\]" protecting brackets; stepping over two-byte characters. Answers the text
// between the brackets and moves `at` past the closing one (to the end when it is missing).
std::string bracketArgument(std::string_view talk, std::size_t& at) {
  std::size_t i = at + 1;
  bool quoted = false;
  std::string argument;
  while (i < talk.size()) {
    const std::size_t length = shiftJisCharLength(talk, i);
    if (length == 2) {
      argument.append(talk.substr(i, 2));
      i += 2;
      continue;
    }
    const char c = talk[i];
    if (c == '"') quoted = !quoted;
    if (c == '\\' && i + 1 < talk.size() && talk[i + 1] == ']') {
      argument += ']';
      i += 2;
      continue;
    }
    if (c == ']' && !quoted) {
      at = i + 1;
      return argument;
    }
    argument += c;
    ++i;
  }
  at = talk.size();
  return argument;
}

}  // namespace

std::string dimmed(const std::string& text, bool color) {
  if (!color || text.empty()) return text;
  return "\x1b[2m" + text + "\x1b[22m";
}

std::string renderTalk(std::string_view talk, const TalkStyle& style) {
  TalkWriter writer(style);
  std::string plain;  // Shift_JIS text waiting to be written
  auto flush = [&] {
    writer.text(shiftJisToDisplay(plain));
    plain.clear();
  };
  std::size_t i = 0;
  while (i < talk.size()) {
    const std::size_t length = shiftJisCharLength(talk, i);
    const char c = talk[i];
    if (length == 2 || (c != '\\' && c != '%')) {
      // A byte that is no character is kept for the display, which shows it as <0xNN>.
      const std::size_t step = length == 0 ? 1 : length;
      plain.append(talk.substr(i, step));
      i += step;
      continue;
    }
    if (c == '%') {
      // The host's own names in the talk.
      static constexpr std::string_view kSelf = "%selfname", kKero = "%keroname",
                                        kUser = "%username";
      const std::string_view rest = talk.substr(i);
      if (rest.starts_with(kSelf) && !rest.starts_with("%selfname2")) {
        flush(), writer.text(style.mainName), i += kSelf.size();
      } else if (rest.starts_with(kKero)) {
        flush(), writer.text(style.partnerName), i += kKero.size();
      } else if (rest.starts_with(kUser)) {
        flush(), writer.text(style.userName), i += kUser.size();
      } else {
        plain += c, ++i;
      }
      continue;
    }
    // A tag.
    if (i + 1 >= talk.size()) {
      plain += c, ++i;
      continue;
    }
    const char name = talk[i + 1];
    if (name == '\\' || name == '%') {
      plain += name, i += 2;
      continue;
    }
    if (static_cast<unsigned char>(name) >= 0x80 || name < 0x21) {
      plain += c, ++i;  // a lone backslash before text
      continue;
    }
    flush();
    const std::size_t start = i;
    i += 2;
    auto argument = [&]() -> std::string {
      if (i < talk.size() && talk[i] == '[') return bracketArgument(talk, i);
      return {};
    };
    auto written = [&] { return shiftJisToDisplay(talk.substr(start, i - start)); };
    switch (name) {
      case '0': case 'h': writer.scope(0); break;
      case '1': case 'u': writer.scope(1); break;
      case 'p': {
        const bool bracket = i < talk.size() && talk[i] == '[';
        const std::string arg = argument();
        if (bracket && !arg.empty() && arg.size() < 6 &&
            arg.find_first_not_of("0123456789") == std::string::npos) {
          writer.scope(std::atoi(arg.c_str()));
        } else {
          writer.tag(written());
        }
        break;
      }
      case 's': {
        std::string surface;
        if (i < talk.size() && talk[i] == '[') {
          surface = shiftJisToDisplay(argument());
        } else if (i < talk.size() && isDigit(talk[i])) {
          surface.assign(1, talk[i++]);
        }
        writer.tag(surface.empty() ? written() : "[surface " + surface + "]");
        break;
      }
      case 'n':
        argument();
        writer.lineBreak();
        break;
      case 'q': {
        const std::string arg = argument();
        const std::size_t comma = arg.find(',');
        if (arg.empty()) {
          writer.tag(written());
        } else {
          writer.text("[" + shiftJisToDisplay(arg.substr(0, comma)) + "]");
        }
        break;
      }
      case '_':
        while (i < talk.size() && (talk[i] == '_' || isAsciiLetter(talk[i]))) ++i;
        argument();
        writer.tag(written());
        break;
      default:
        if ((name == 'w' || name == 'b' || name == 'i') && i < talk.size() && isDigit(talk[i])) {
          ++i;
        }
        argument();
        writer.tag(written());
        break;
    }
  }
  flush();
  return writer.finish();
}

std::vector<TalkChoice> talkChoices(std::string_view talk) {
  std::vector<TalkChoice> choices;
  std::size_t i = 0;
  while (i < talk.size()) {
    if (shiftJisCharLength(talk, i) == 2) {
      i += 2;
      continue;
    }
    if (talk[i] != '\\' || i + 1 >= talk.size()) {
      ++i;
      continue;
    }
    if (talk[i + 1] != 'q' || i + 2 >= talk.size() || talk[i + 2] != '[') {
      i += 2;  // another tag, or an escaped backslash or percent sign
      continue;
    }
    i += 2;
    const std::string argument = bracketArgument(talk, i);
    const std::size_t comma = argument.find(',');
    if (argument.empty() || comma == std::string::npos) continue;
    choices.push_back({shiftJisToDisplay(argument.substr(0, comma)), argument.substr(comma + 1)});
  }
  return choices;
}

}  // namespace zelka::host
