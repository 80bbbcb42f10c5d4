#include "runtime/HandOverQueue.h"

namespace scoutor {

void THandOverQueue::Send(std::function<void()>& step, const std::function<void()>& wakeLoop) {
  // No allocation: the step and its outcome stay here until the loop's thread set Done, after
  // which that thread no longer touches them.
  TPendingStep pending{&step, nullptr, false};
  std::unique_lock lock(Mutex);
  Queue.push_back(&pending);
  Changed.notify_all();
  wakeLoop();
  Changed.wait(lock, [&] { return pending.Done; });
  if (pending.Error) std::rethrow_exception(pending.Error);
}

void THandOverQueue::RunAll() {
  for (;;) {
    TPendingStep* pending;
    {
      std::lock_guard lock(Mutex);
      if (Queue.empty()) return;
      pending = Queue.front();
      Queue.pop_front();
    }
    try {
      (*pending->Step)();
    } catch (...) {
      pending->Error = std::current_exception();
    }
    std::lock_guard lock(Mutex);
    pending->Done = true;
    Changed.notify_all();
  }
}

void THandOverQueue::ServiceUntil(const std::function<bool()>& done) {
  for (;;) {
    RunAll();
    if (done()) return;
    std::unique_lock lock(Mutex);
    Changed.wait(lock, [&] { return !Queue.empty() || WakeRequested; });
    WakeRequested = false;
  }
}

void THandOverQueue::Wake() {
  std::lock_guard lock(Mutex);
  WakeRequested = true;
  Changed.notify_all();
}

bool THandOverQueue::TakePending() {
  std::lock_guard lock(Mutex);
  const bool pending = !Queue.empty() || WakeRequested;
  WakeRequested = false;
  return pending;
}

}  // namespace scoutor
