// Renders a ghost's talk (Shift_JIS text with the host's talk tags) as readable UTF-8 lines:
// each speaker's turn starts a line with the speaker's name (\0 and \h the main character,
// \1 and \u the partner, \p[N] any other), \n breaks the line, surface changes appear as
// "[surface N]", choices as "[title]", and every other tag is shown as written (dimmed on a
// colour terminal). Bytes that are not Shift_JIS appear as <0xNN>.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zelka::host {

struct TalkStyle {
  std::string mainName = "Zelka";      // UTF-8
  std::string partnerName = "Partner";  // UTF-8
  std::string userName = "User";       // UTF-8, for %username
  bool color = false;                   // dim tags with terminal escapes
};

// The rendered talk; every line ends with a line feed. Empty talk renders as empty text.
std::string renderTalk(std::string_view talk, const TalkStyle& style);

// A choice the talk offers (\q[title,ID]): its title for display (UTF-8) and the ID a host
// sends back with OnChoiceSelect (Shift_JIS as written).
struct TalkChoice {
  std::string title;
  std::string id;
};

// The choices of a talk, in order.
std::vector<TalkChoice> talkChoices(std::string_view talk);

// Dims text for display when colour is on.
std::string dimmed(const std::string& text, bool color);

}  // namespace zelka::host
