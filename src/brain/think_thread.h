// The think thread: a heard text is cut into expressions by walking it through the bind
// network on a worker thread, learning as it goes. The caller waits a short time for it and
// otherwise polls it once a second; a think wait in seconds cuts off a pass that takes too
// long. The same pass can run synchronously on the calling thread.
//
// Phase: 1 ready, 0 running, 2 finished (a positive value set by the caller also asks a
// running pass to stop). The phase, ticks and the handle are shared race-free: atomics and a
// join that only the owner performs.
#pragma once

#include <atomic>
#include <deque>
#include <string>
#include <thread>

namespace zelka {

class BindNetworkStore;

class ThinkThread {
 public:
  explicit ThinkThread(BindNetworkStore& bindNetwork);
  ~ThinkThread();   // stops and joins a running pass

  void setThinkWait(int seconds) { thinkWait_ = seconds; }

  int startThinking(const std::u16string& sender, const std::u16string& securityLevel,
                    const std::u16string& text, int timeoutMs);
  int thinkNow(const std::u16string& sender, const std::u16string& securityLevel,
               const std::u16string& text, std::deque<std::u16string>& segments);
  int acceptThinking(int level);
  int tickThinking();
  void takeSegments(std::deque<std::u16string>& out) const;

  int thinkPhase() const { return phase_.load(); }
  int thinkResult() const { return result_.load(); }
  int thinkTicks() const { return ticks_.load(); }
  int thinkWait() const { return thinkWait_; }
  bool threadRunning() const;

  // The segmentation pass itself.
  bool segmentText(const std::u16string& sender, const std::u16string& securityLevel,
                   const std::u16string& text, std::deque<std::u16string>& segments);

 private:
  BindNetworkStore& bind_;
  std::atomic<int> phase_{1};
  std::atomic<int> result_{0};
  std::atomic<int> ticks_{0};
  int thinkWait_ = 5;
  // (thread, request strings, segments, synchronisation: implementation's choice)
};

}  // namespace zelka
