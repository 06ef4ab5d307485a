// Periodic saving, so that what a ghost learned survives a host that crashes or is killed.
//
// Session time is counted in the host's OnSecondChange events, the clock every timing of the
// module runs on (free talk, listen time-out, think ticks). Every `autosave_interval` seconds
// (a GhostProfile setting; 600 when absent, 0 switches saving off) the stores edited since
// their last save, and reflex.txt when the variables differ from what was last written, are
// saved with the crash-safe replacement unload uses. The save rides on an OnSecondChange,
// never on a request for talk, and never runs while a think pass runs: a due save waits for
// the next second on which none does.
//
// The OnSecondChange that saves only serialises the changed files (the stores must not change
// under the serialiser); writing and flushing them to disk happens on a writer thread, so the
// host does not wait for the disk. The writer touches nothing but the bytes it was given. Its
// results are collected on a later OnSecondChange (with no think pass running, since marking a
// store saved reads it): a file that could not be written stays edited and is taken again at
// the next interval, and is reported to the session's problem list once, until it saves again.
// One write at a time: a save that falls due while the writer still works waits for it.
//
// start, stop and the destructor wait for a write in progress and forget its results, so that
// nothing the writer does can land after the saves of unload (which writes everything).
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace zelka {

class LearningEngine;
class ProblemList;
class VariableTable;
class ZelkaConfig;

class Autosave {
 public:
  static constexpr std::uint32_t kDefaultIntervalSeconds = 600;

  Autosave() = default;
  ~Autosave();
  Autosave(const Autosave&) = delete;
  Autosave& operator=(const Autosave&) = delete;

  // The configured interval in seconds: "autosave_interval" of the GhostProfile, a decimal
  // number. An empty or missing value gives the default; a value that is not a number of
  // seconds gives the default too and a warning to the problem list, so that a typing
  // mistake never switches saving off unnoticed.
  static std::uint32_t configuredInterval(const ZelkaConfig* config, ProblemList* problems);

  // Starts a session: counting from 0, every file to be checked at the first save.
  void start(std::uint32_t intervalSeconds);
  // Ends the session; nothing is saved until the next start.
  void stop() { start(0); }

  std::uint32_t intervalSeconds() const { return interval_; }
  // Saves started since start (one that found nothing to write counts too).
  std::uint64_t savesStarted() const { return savesStarted_; }

  // One OnSecondChange. Counts the second, collects what the writer finished, and when a save
  // is due and no think pass runs, hands the edited stores and the changed variables (for
  // reflexPath) to the writer. True when a save was started.
  bool secondElapsed(LearningEngine& learning, const VariableTable& variables,
                     const std::string& reflexPath, ProblemList* problems);

  // Waits until the writer has finished its files (they are on disk then); its results are
  // collected as usual. For tests and tools that must know the files are written.
  void waitForWriter();

 private:
  struct FileWrite {
    std::string path;
    std::string bytes;
    int store = -1;            // the store's number, or -1 for reflex.txt
    std::uint64_t edits = 0;   // the store's edit count when it was serialised
    bool written = false;
  };

  // False, with nothing taken, when the stores cannot be taken yet (a pass still holds them).
  bool startWriting(LearningEngine& learning, const VariableTable& variables,
                    const std::string& reflexPath);
  void collect(LearningEngine& learning, ProblemList* problems);
  // Tells the problem list of a failed file once; a file that saved may fail (and be told of)
  // again.
  void noteResult(const std::string& file, bool saved, ProblemList* problems);
  static void writeAll(std::vector<FileWrite>& files);

  std::uint32_t interval_ = 0;
  std::uint32_t seconds_ = 0;
  std::uint64_t savesStarted_ = 0;
  std::optional<std::string> writtenVariables_;  // what this session last wrote to reflex.txt
  std::set<std::string> failing_;                // files whose last save failed (and were told)

  // Owned by the writer from its start until it signals `writing_` false; then by the caller,
  // which joins it before reading.
  std::vector<FileWrite> files_;
  std::thread writer_;
  std::atomic<bool> writing_{false};
};

}  // namespace zelka
