#include "learning/think_thread.h"

#include <chrono>
#include <exception>
#include <utility>

#include "stores/bind_network.h"

namespace zelka {

namespace {

// Lookup modes: the first character of a text may follow the root along any link; within a
// segment a character must have followed its predecessor often enough (distance <= 0.5).
constexpr int kModeAny = 0;
constexpr int kModeFrequent = 1;

}  // namespace

ThinkThread::ThinkThread(BindNetworkStore& bindNetwork) : bind_(bindNetwork) {}

ThinkThread::~ThinkThread() {
  if (worker_.joinable()) {
    phase_.store(kThinkReady);  // asks the pass to stop at its next character
    joinWorker();
  }
}

bool ThinkThread::threadRunning() const {
  return worker_.joinable() && !workerDone_.load();
}

void ThinkThread::joinWorker() {
  if (worker_.joinable()) worker_.join();
  workerDone_.store(false);
}

void ThinkThread::reapFinished() {
  if (worker_.joinable() && workerDone_.load()) joinWorker();
}

bool ThinkThread::claimPhase() {
  int seen = phase_.load();
  while (seen != kThinkRunning) {
    if (phase_.compare_exchange_weak(seen, kThinkRunning)) return true;
  }
  return false;
}

int ThinkThread::startThinking(const std::u16string& sender, const std::u16string& securityLevel,
                               const std::u16string& text, int timeoutMs) {
  (void)securityLevel;  // carried with the request; the pass does not consult it
  if (phase_.load() == kThinkRunning) return kStartRefused;
  // A worker that has already ended (its result not yet collected) is joined before a new one
  // replaces it; its unaccepted segments are discarded below.
  if (worker_.joinable()) joinWorker();

  const int previousPhase = phase_.load();
  const int previousResult = result_.load();
  const int previousTicks = ticks_.load();
  try {
    std::u16string senderCopy = sender;
    std::u16string textCopy = text;
    {
      std::lock_guard<std::mutex> lock(segmentsMutex_);
      segments_.clear();
    }
    // The pass is claimed here, before the worker exists, so that a stop set by the caller
    // right after this call can never be overwritten by the worker's start.
    ticks_.store(0);
    result_.store(kThinkUnset);
    phase_.store(kThinkRunning);
    workerDone_.store(false);
    worker_ = std::thread(&ThinkThread::threadBody, this, std::move(senderCopy),
                          std::move(textCopy));
  } catch (...) {
    // No thread: nothing was started and no handle is held.
    phase_.store(previousPhase);
    result_.store(previousResult);
    ticks_.store(previousTicks);
    return kStartRefused;
  }

  const auto wait = std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
  bool ended;
  {
    std::unique_lock<std::mutex> lock(doneMutex_);
    ended = doneSignal_.wait_for(lock, wait, [this] { return workerDone_.load(); });
  }
  if (!ended) return kStartStillRunning;
  joinWorker();
  return kStartEnded;
}

void ThinkThread::threadBody(std::u16string sender, std::u16string text) {
  bool walked = false;
  try {
    {
      std::lock_guard<std::mutex> lock(segmentsMutex_);
      segments_.clear();
    }
    walked = walk(sender, text, segments_, &segmentsMutex_);
  } catch (...) {
    walked = false;
  }
  bool anySegment;
  {
    std::lock_guard<std::mutex> lock(segmentsMutex_);
    anySegment = !segments_.empty();
  }
  result_.store(walked ? kThinkWalked : anySegment ? kThinkCutWithSegments : kThinkCutEmpty);
  // The end of the pass overwrites a level a caller set meanwhile; acceptThinking restores it
  // after joining.
  phase_.store(kThinkFinished);
  {
    std::lock_guard<std::mutex> lock(doneMutex_);
    workerDone_.store(true);
  }
  doneSignal_.notify_all();
}

bool ThinkThread::segmentText(const std::u16string& sender, const std::u16string& securityLevel,
                              const std::u16string& text, std::deque<std::u16string>& segments) {
  (void)securityLevel;
  if (!claimPhase()) return false;
  ticks_.store(0);
  result_.store(kThinkUnset);
  bool walked = false;
  try {
    walked = walk(sender, text, segments, nullptr);
  } catch (...) {
    walked = false;
  }
  phase_.store(kThinkFinished);
  return walked;
}

bool ThinkThread::walk(const std::u16string& sender, const std::u16string& text,
                       std::deque<std::u16string>& out, std::mutex* guard) {
  const bool reinforcing = std::u16string_view(sender) != kKernelSender;
  const BindNode root = bind_.root();
  if (root.empty()) return false;

  auto emit = [&](const std::u16string& segment) {
    if (guard != nullptr) {
      std::lock_guard<std::mutex> lock(*guard);
      out.push_back(segment);
    } else {
      out.push_back(segment);
    }
  };

  std::u16string segment;
  BindNode current = root;
  int mode = kModeAny;
  // The previous character's node was refused (see below): the walk starts afresh from the
  // root, as at the start of the text, and the previous character is a segment of its own.
  bool startAfresh = false;
  for (char16_t c : text) {
    if (phase_.load() != kThinkRunning || ticks_.load() >= thinkWait_.load()) {
      return false;  // cut off: the unfinished segment is dropped
    }
    if (startAfresh) {
      emit(segment);
      segment.clear();
      current = root;
      mode = kModeAny;
      startAfresh = false;
    }
    const std::u16string_view name(&c, 1);
    BindNode next = current.findChild(name, mode);
    if (next) {
      current = next;
      if (reinforcing) current.reinforce();
    } else {
      // The segment ends here. Record that c was heard after the current path, then start
      // the next segment from c's node under the root.
      BindNode added;
      added.addChild(current, name);
      next = root.findChild(name, kModeAny);
      if (next) {
        current = next;
        if (reinforcing) current.reinforce();
      } else {
        BindNode fresh;
        fresh.addChild(root, name);
        if (fresh) {
          current = fresh;
        } else {
          // The root has a child c that no lookup returns (a link never to be followed, such
          // as a hand-edited infinite distance): c cannot be walked from, and nothing may
          // follow it within its segment.
          current = root;
          startAfresh = true;
        }
      }
      if (!segment.empty()) {
        emit(segment);
        segment.clear();
      }
    }
    mode = kModeFrequent;
    segment.push_back(c);
  }
  if (!segment.empty()) emit(segment);
  return true;
}

int ThinkThread::thinkNow(const std::u16string& sender, const std::u16string& securityLevel,
                          const std::u16string& text, std::deque<std::u16string>& segments) {
  bool walked = false;
  try {
    walked = segmentText(sender, securityLevel, text, segments);
  } catch (...) {
    walked = false;
  }
  if (walked) return kThinkWalked;
  return segments.empty() ? kThinkCutEmpty : kThinkCutWithSegments;
}

int ThinkThread::acceptThinking(int level) {
  if (level < 1) return phase_.load();
  phase_.store(level);
  if (worker_.joinable()) {
    joinWorker();
    phase_.store(level);
  }
  return phase_.load();
}

int ThinkThread::tickThinking() {
  reapFinished();
  if (worker_.joinable()) return ticks_.fetch_add(1) + 1;
  return ticks_.load();
}

void ThinkThread::takeSegments(std::deque<std::u16string>& out) const {
  std::lock_guard<std::mutex> lock(segmentsMutex_);
  out = segments_;
}

}  // namespace zelka
