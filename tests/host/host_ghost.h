// A small ghost for the host tests, written by the test into a temporary directory: a
// configuration and one knowledge file, both Shift_JIS (the texts are written here in UTF-8
// and converted with the module's own codec).
#pragma once

#include <string>

#include "support/temp_dir.h"
#include "platform/text_codec.h"
#include "support/ghost_fixture.h"

namespace zelka::testing {

inline std::string sjis(const std::string& utf8) { return toNarrow(utf8ToUtf16(utf8)); }

inline std::string hostGhostConfig(const std::string& talkInterval = "3") {
  return sjis("<?xml version='1.0' encoding='Shift_JIS'?>\r\n"
              "<ZelkaConfiguration>\r\n"
              "  <GhostProfile ghost_name=\"エミリ\" birthday=\"2001/05/03\" talk_interval=\"" +
              talkInterval + "\" listen_wait=\"1000\"/>\r\n"
              "  <RunEnvironment runlevel=\"0\">\r\n"
              "    <Directory type=\"vender\" name=\"vender/\"/>\r\n"
              "  </RunEnvironment>\r\n"
              "</ZelkaConfiguration>\r\n");
}

inline std::string hostGhostTalk() {
  return sjis("[ZELKA KNOWLEDGE 2.0]\n"
              "{\ntoken: OnBoot\nscript: \\0[5]こんにちは。\\n今日は\\1[10]……ふん。\n}\n"
              "{\ntoken: OnClose\nscript: \\0またね。\n}\n"
              "{\ntoken: OnZelkaFreeTalk\nscript: ひまだなあ。\n}\n"
              "{\ntoken: OnZelkaCommunicate\n"
              "script: 「%reflex[__Sentence]」と%reflex[__Sender]さんが言った。\n}\n"
              "{\ntoken: OnZelkaBodyTouch\nscript: %ref4はだめ（%ref5回目）\n}\n"
              "{\ntoken: OnEcho\nscript: echo=%ref0/%ref1\n}\n"
              "{\ntoken: OnZelkaGetResource\nscript: id=%reflex[__ID]\n}\n");
}

// The ghost in its own directory, and a separate working directory for the host process
// (its stdin and stderr files, and any log, stay out of the ghost).
struct HostGhost {
  TempGhost ghost{hostGhostConfig()};
  TempDir work;
  HostGhost() { ghost.write("vender/talk.tlk", hostGhostTalk()); }
  std::string dir() const { return ghost.dir(); }
};

}  // namespace zelka::testing
