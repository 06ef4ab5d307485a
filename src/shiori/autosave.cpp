#include "shiori/autosave.h"

#include <exception>
#include <limits>
#include <string_view>
#include <utility>

#include "config/zelka_config.h"
#include "learning/knowledge_set.h"
#include "learning/learning_engine.h"
#include "platform/file_system.h"
#include "platform/text_codec.h"
#include "script/think_codes.h"
#include "script/variable_table.h"
#include "util/problem_list.h"

namespace zelka {

namespace {

// Digits only, blanks around them allowed; nullopt for anything else or a number past 32 bits.
std::optional<std::uint32_t> secondsOf(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

constexpr int kVariableFile = -1;

}  // namespace

Autosave::~Autosave() {
  if (writer_.joinable()) writer_.join();
}

std::uint32_t Autosave::configuredInterval(const ZelkaConfig* config, ProblemList* problems) {
  if (config == nullptr) return kDefaultIntervalSeconds;
  const std::string text = toNarrow(config->profile(u"autosave_interval"));
  if (text.empty()) return kDefaultIntervalSeconds;
  if (std::optional<std::uint32_t> seconds = secondsOf(text)) return *seconds;
  if (problems != nullptr) {
    problems->report({Problem::Severity::Warning,
                      toNarrow(config->moduleDirectory()) + "zelkaconf.xml",
                      "autosave_interval \"" + text +
                          "\" is not a number of seconds; what is learned is saved every " +
                          std::to_string(kDefaultIntervalSeconds) +
                          " seconds (write 0 to save only at unload)"});
  }
  return kDefaultIntervalSeconds;
}

void Autosave::start(std::uint32_t intervalSeconds) {
  // A write in progress finishes before anything else may write the same files; its results
  // belong to the session that is over.
  if (writer_.joinable()) writer_.join();
  files_.clear();
  interval_ = intervalSeconds;
  seconds_ = 0;
  savesStarted_ = 0;
  writtenVariables_.reset();
  failing_.clear();
}

void Autosave::waitForWriter() {
  if (writer_.joinable()) writer_.join();
}

bool Autosave::secondElapsed(LearningEngine& learning, const VariableTable& variables,
                             const std::string& reflexPath, ProblemList* problems) {
  if (interval_ == 0) return false;
  if (seconds_ < interval_) ++seconds_;
  if (writing_.load()) return false;
  if (writer_.joinable()) writer_.join();
  // A running pass is changing the bind network: results and snapshots wait for a second
  // without one (the think wait bounds how long that takes).
  if (learning.thinkPhase() == kThinkRunning) return false;
  collect(learning, problems);
  if (seconds_ < interval_) return false;
  // The pass may have finished without its thread having ended yet: then the stores are not
  // taken and the save stays due for the next second.
  if (!startWriting(learning, variables, reflexPath)) return false;
  seconds_ = 0;
  ++savesStarted_;
  return true;
}

bool Autosave::startWriting(LearningEngine& learning, const VariableTable& variables,
                            const std::string& reflexPath) {
  try {
    std::vector<StoreSnapshot> snapshots;
    if (!learning.snapshotChangedStores(snapshots)) return false;
    for (StoreSnapshot& snapshot : snapshots) {
      files_.push_back({std::move(snapshot.path), std::move(snapshot.bytes), snapshot.store,
                        snapshot.edits, false});
    }
    // The variables are small: their file text is compared whole with what was last written.
    std::string text = variables.fileText();
    if (!writtenVariables_ || *writtenVariables_ != text) {
      files_.push_back({reflexPath, std::move(text), kVariableFile, 0, false});
    }
  } catch (const std::exception&) {
    // Out of memory while serialising: the files not taken are tried at the next interval.
  }
  if (files_.empty()) return true;
  writing_.store(true);
  try {
    writer_ = std::thread([this] {
      writeAll(files_);
      writing_.store(false);
    });
  } catch (const std::exception&) {
    // No thread: the host waits for the disk this once.
    writeAll(files_);
    writing_.store(false);
  }
  return true;
}

void Autosave::writeAll(std::vector<FileWrite>& files) {
  for (FileWrite& file : files) {
    // A store that cannot be serialised gives no bytes; an empty variable file is valid.
    const bool writable = !file.path.empty() && (file.store == kVariableFile || !file.bytes.empty());
    try {
      file.written = writable && replaceFileAtomically(file.path, file.bytes);
    } catch (const std::exception&) {
      file.written = false;
    }
  }
}

void Autosave::collect(LearningEngine& learning, ProblemList* problems) {
  for (FileWrite& file : files_) {
    if (file.store == kVariableFile) {
      if (file.written) writtenVariables_ = std::move(file.bytes);
    } else if (file.written) {
      learning.markStoreSaved({file.path, {}, file.store, file.edits});
    }
    noteResult(file.path, file.written, problems);
  }
  files_.clear();
}

void Autosave::noteResult(const std::string& file, bool saved, ProblemList* problems) {
  if (saved) {
    failing_.erase(file);
    return;
  }
  if (!failing_.insert(file).second || problems == nullptr) return;
  problems->report({Problem::Severity::Error, file,
                    "could not be saved; what was learned since the last save is kept in "
                    "memory and saving is tried again every " +
                        std::to_string(interval_) + " seconds and at unload"});
}

}  // namespace zelka
