#pragma once
// A worker thread that repeats one step until it is stopped: created suspended, started with
// StartRunning, stopped for good with StopRunning (stopping also ends the thread). A condition
// variable stands in for suspending and resuming. An error raised by a step ends the thread;
// its message is kept as the terminating message.
// Threads: StartRunning, StopRunning and destruction belong to the owner's thread; the steps run
// on the worker. A subclass calls Finish() first thing in its destructor, so that no step runs
// on a half-destroyed object.
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace scoutor {

class TStoppableThread {
 public:
  TStoppableThread();
  virtual ~TStoppableThread();
  TStoppableThread(const TStoppableThread&) = delete;
  TStoppableThread& operator=(const TStoppableThread&) = delete;

  // Resumes a stopped thread; does nothing otherwise.
  void StartRunning();
  // Requests termination and sets the stop flag; does nothing when already stopped.
  void StopRunning();
  // True once termination is requested or the stop flag is set.
  bool IsStopped() const;
  // True once the thread function has returned or is about to (after Ended()).
  bool HasEnded() const;
  // Blocks until the thread function has returned.
  void WaitFor();
  // The message of the error that ended the thread; empty when none did.
  std::string TerminatingMessage() const;

 protected:
  virtual void BeforeRun() {}
  virtual void RunOnce() = 0;
  // Runs after the steps, also when a step raised.
  virtual void AfterRun() {}
  // Called on the owner's thread by StopRunning, after the stop flag is set: a chance to wake
  // a step that is waiting.
  virtual void Stopping() {}
  // The last thing the thread does, after HasEnded() turned true.
  virtual void Ended() {}
  // Requests termination, resumes the thread if suspended and waits until it has ended.
  void Finish();

 private:
  void Body();

  mutable std::mutex Mutex;
  std::condition_variable Resumed;
  std::condition_variable EndedSignal;
  bool Stopped = true;
  bool Terminating = false;
  bool Done = false;
  std::string Message;
  std::thread Worker;  // last: starts once the flags above exist
};

}  // namespace scoutor
