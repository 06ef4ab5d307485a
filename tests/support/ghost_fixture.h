// Test support: a temporary ghost directory with a configuration and knowledge files, and a
// guard that runs a test inside a directory (the diagnostic log goes to the current one).
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace zelka::testing {

struct ConfigOptions {
  int runlevel = 0;
  std::string locale = "Japanese";
  std::string profileExtra;   // further GhostProfile attributes
  std::string sections;       // further elements under ZelkaConfiguration
  std::string vender = "vender/";       // the configured directory names (Shift_JIS)
  std::string learning = "_learning/";
};

inline std::string makeConfig(const ConfigOptions& o = {}) {
  return "<?xml version='1.0' encoding='Shift_JIS'?>\r\n"
         "<ZelkaConfiguration>\r\n"
         "  <GhostProfile locale=\"" + o.locale + "\" ghost_id=\"test\" ghost_name=\"Test\""
         " birthday=\"2001/05/03\" talk_interval=\"120\" listen_wait=\"16\" think_wait=\"5\"" +
         o.profileExtra + "/>\r\n"
         "  <RunEnvironment runlevel=\"" + std::to_string(o.runlevel) + "\">\r\n"
         "    <Directory type=\"vender\" name=\"" + o.vender + "\"/>\r\n"
         "    <Directory type=\"learning\" name=\"" + o.learning + "\"/>\r\n"
         "  </RunEnvironment>\r\n" +
         o.sections +
         "</ZelkaConfiguration>\r\n";
}

// One knowledge block: token, optional conditional, one script.
inline std::string knowledgeBlock(std::string_view token, std::string_view script,
                                  std::string_view conditional = {}) {
  std::string block = "{\ntoken: " + std::string(token) + "\n";
  if (!conditional.empty()) block += "conditional: " + std::string(conditional) + "\n";
  block += "script: " + std::string(script) + "\n}\n";
  return block;
}

inline std::string knowledgeFile(std::string_view blocks) {
  return "[ZELKA KNOWLEDGE 2.0]\n" + std::string(blocks);
}

class TempGhost {
 public:
  explicit TempGhost(const std::string& config = makeConfig()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "zelka-ghost-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    if (made != nullptr) dir_ = std::string(made) + "/";
    std::filesystem::create_directories(dir_ + "vender");
    if (!config.empty()) write("zelkaconf.xml", config);
  }
  ~TempGhost() {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  TempGhost(const TempGhost&) = delete;
  TempGhost& operator=(const TempGhost&) = delete;

  const std::string& dir() const { return dir_; }
  std::string path(std::string_view relative) const { return dir_ + std::string(relative); }

  void write(std::string_view relative, std::string_view content) const {
    std::filesystem::path p = path(relative);
    std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
  }
  std::string read(std::string_view relative) const {
    std::ifstream in(path(relative), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool exists(std::string_view relative) const {
    return std::filesystem::exists(path(relative));
  }

 private:
  std::string dir_;
};

// Runs the enclosed code with the given directory as the current one.
class CurrentDirectory {
 public:
  explicit CurrentDirectory(const std::string& dir) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~CurrentDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
  }

 private:
  std::filesystem::path previous_;
};

}  // namespace zelka::testing
