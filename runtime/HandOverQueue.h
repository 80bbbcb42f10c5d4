#pragma once
// The blocking hand-over that every event loop offers (TEventLoop::HandOver): another thread
// queues a step and waits until the loop's thread has run it; an exception the step raises
// goes back to that thread. The loop tells how it is woken; the queue keeps the steps, runs
// them, and lets the loop's thread wait for hand-overs alone (ServiceUntil).
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>

namespace scoutor {

class THandOverQueue {
 public:
  // Queues `step`, calls `wakeLoop` and blocks until RunAll has run the step. Not on the loop's
  // thread.
  void Send(std::function<void()>& step, const std::function<void()>& wakeLoop);
  // Runs the queued steps, also those queued meanwhile. Loop thread.
  void RunAll();
  // Runs hand-overs as they arrive until `done` holds; Wake() makes it look again.
  void ServiceUntil(const std::function<bool()>& done);
  void Wake();
  // Whether a step waits or Wake() was called since the last call. Loop thread.
  bool TakePending();

 private:
  // Lives on the stack of the thread that handed the step over, which waits until Done.
  struct TPendingStep {
    std::function<void()>* Step;
    std::exception_ptr Error;
    bool Done = false;
  };

  std::mutex Mutex;
  std::condition_variable Changed;  // a step arrived or finished, or Wake()
  std::deque<TPendingStep*> Queue;
  bool WakeRequested = false;
};

}  // namespace scoutor
