// The configuration file zelkaconf.xml of the module directory: the ghost's profile and
// timings, the run level, the vendor and learning directories, the category names, the
// reference separation expressions and event renames. Read once; only queried afterwards.
#pragma once

#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

namespace zelka {

class ZelkaConfig {
 public:
  ZelkaConfig() = default;                       // empty configuration
  explicit ZelkaConfig(const std::u16string& directory);  // read(directory)

  // Reads directory + "zelkaconf.xml" (plain concatenation). False when the directory is
  // empty or the file does not load; the configuration then stays empty (no defaults).
  bool read(const std::u16string& directory);

  // Lookups answer empty when the key is not known; eventRename answers the name itself.
  std::u16string profile(std::u16string_view key) const;
  int runlevel() const { return runlevel_; }
  std::u16string directory(std::u16string_view section, std::u16string_view key) const;
  std::u16string category(std::u16string_view code) const;
  std::u16string referenceSeparation(std::u16string_view event, unsigned reference) const;
  std::u16string eventRename(std::u16string_view name) const;
  // The "version" of the Protocol element: the protocol the module tells hosts it speaks
  // when they ask for its version ("3.0"); empty when the element or attribute is missing.
  const std::u16string& protocolVersion() const { return protocolVersion_; }

  const std::u16string& moduleDirectory() const { return directory_; }

 private:
  std::u16string directory_;
  std::vector<std::pair<std::u16string, std::u16string>> profiles_;
  int runlevel_ = 0;
  std::vector<std::tuple<std::u16string, std::u16string, std::u16string>> directories_;
  std::vector<std::pair<std::u16string, std::u16string>> categories_;
  std::vector<std::tuple<std::u16string, std::u16string, std::u16string>> separations_;
  std::vector<std::pair<std::u16string, std::u16string>> renames_;
  std::u16string protocolVersion_;
};

}  // namespace zelka
