// The think thread: a heard text is cut into expressions by walking it through the bind
// network on a worker thread, learning as it goes. The caller waits a short time for it and
// otherwise polls it once a second; a think wait in seconds cuts off a pass that takes too
// long. The same pass can run synchronously on the calling thread.
//
// Phase: 1 ready, 0 running, 2 finished (a positive value set by the caller also asks a
// running pass to stop); the phases, the results and the kernel sender (whose passes reinforce
// nothing) are named in script/think_codes.h. All operations except the worker's own body are
// called from one owner thread. The phase, result, ticks and wait are atomics; the worker
// thread is created, joined and forgotten only by the owner, so "a thread is held" is exact
// from the owner's view. The segments are guarded by a lock; callers read them once the phase
// shows 2 or after acceptThinking has joined the worker. While a pass runs the owner must leave
// the bind network alone.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "script/think_codes.h"

namespace zelka {

class BindNetworkStore;

class ThinkThread {
 public:
  explicit ThinkThread(BindNetworkStore& bindNetwork);
  ~ThinkThread();   // stops and joins a running pass
  ThinkThread(const ThinkThread&) = delete;
  ThinkThread& operator=(const ThinkThread&) = delete;

  void setThinkWait(int seconds) { thinkWait_.store(seconds); }

  // What startThinking answers (how the first wait went, not how the pass ended).
  enum StartOutcome : int {
    kStartRefused = 0,       // a pass is running, or no thread could be created
    kStartEnded = 1,         // the pass ended within the wait
    kStartStillRunning = 2,  // the wait ran out with the pass still running
  };

  // Starts a pass on the worker thread and waits up to timeoutMs (negative: not at all).
  int startThinking(const std::u16string& sender, const std::u16string& securityLevel,
                    const std::u16string& text, int timeoutMs);
  // Runs the pass on the calling thread, appending to segments. kThinkWalked: walked the
  // whole text; otherwise kThinkCutWithSegments when segments is not empty, else
  // kThinkCutEmpty.
  int thinkNow(const std::u16string& sender, const std::u16string& securityLevel,
               const std::u16string& text, std::deque<std::u16string>& segments);
  // Level >= 1: sets the phase to it, waits without limit for a held worker and sets the
  // phase to the level again. Level < 1 changes nothing. Answers the phase.
  int acceptThinking(int level);
  // Counts one second while a worker is held; answers the ticks.
  int tickThinking();
  // Replaces out with a copy of the last threaded pass's segments.
  void takeSegments(std::deque<std::u16string>& out) const;

  int thinkPhase() const { return phase_.load(); }
  int thinkResult() const { return result_.load(); }
  int thinkTicks() const { return ticks_.load(); }
  int thinkWait() const { return thinkWait_.load(); }
  // A worker thread exists that has not finished its pass.
  bool threadRunning() const;

  // The segmentation pass itself. False, with nothing changed, while another pass runs;
  // otherwise true when the whole text was walked. Ends with the phase at 2.
  bool segmentText(const std::u16string& sender, const std::u16string& securityLevel,
                   const std::u16string& text, std::deque<std::u16string>& segments);

 private:
  // Sets the phase to 0 unless it is 0 already; false when a pass holds it.
  bool claimPhase();
  // The walk over the text once the phase is claimed; true when it reached the end. Segments
  // are appended to out, under guard when one is given.
  bool walk(const std::u16string& sender, const std::u16string& text,
            std::deque<std::u16string>& out, std::mutex* guard);
  void threadBody(std::u16string sender, std::u16string text);
  // Joins a worker that has signalled its end; a running one is left alone.
  void reapFinished();
  void joinWorker();

  BindNetworkStore& bind_;
  std::atomic<int> phase_{1};
  std::atomic<int> result_{0};
  std::atomic<int> ticks_{0};
  std::atomic<int> thinkWait_{5};

  std::thread worker_;                 // touched by the owner only
  std::atomic<bool> workerDone_{false};
  std::mutex doneMutex_;
  std::condition_variable doneSignal_;

  mutable std::mutex segmentsMutex_;
  std::deque<std::u16string> segments_;
};

}  // namespace zelka
