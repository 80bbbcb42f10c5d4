#include "transport/StoppableThread.h"

#include <exception>

namespace scoutor {

TStoppableThread::TStoppableThread() : Worker([this] { Body(); }) {}

TStoppableThread::~TStoppableThread() { Finish(); }

void TStoppableThread::Finish() {
  {
    std::lock_guard lock(Mutex);
    Terminating = true;
    Resumed.notify_all();
  }
  if (Worker.joinable() && Worker.get_id() != std::this_thread::get_id()) Worker.join();
}

void TStoppableThread::StartRunning() {
  std::lock_guard lock(Mutex);
  if (!(Terminating || Stopped)) return;
  Stopped = false;
  Resumed.notify_all();
}

void TStoppableThread::StopRunning() {
  {
    std::lock_guard lock(Mutex);
    if (Terminating || Stopped) return;
    Terminating = true;
    Stopped = true;
  }
  Stopping();
}

bool TStoppableThread::IsStopped() const {
  std::lock_guard lock(Mutex);
  return Terminating || Stopped;
}

bool TStoppableThread::HasEnded() const {
  std::lock_guard lock(Mutex);
  return Done;
}

void TStoppableThread::WaitFor() {
  std::unique_lock lock(Mutex);
  EndedSignal.wait(lock, [&] { return Done; });
}

std::string TStoppableThread::TerminatingMessage() const {
  std::lock_guard lock(Mutex);
  return Message;
}

void TStoppableThread::Body() {
  try {
    for (;;) {
      {
        std::unique_lock lock(Mutex);
        Resumed.wait(lock, [&] { return Terminating || !Stopped; });
        if (Terminating) break;
      }
      BeforeRun();
      try {
        while (!IsStopped()) RunOnce();
      } catch (...) {
        AfterRun();
        throw;
      }
      AfterRun();
    }
  } catch (const std::exception& error) {
    std::lock_guard lock(Mutex);
    Message = error.what();
    Terminating = true;
  } catch (...) {
    std::lock_guard lock(Mutex);
    Message = "unknown error";
    Terminating = true;
  }
  {
    std::lock_guard lock(Mutex);
    Done = true;
    EndedSignal.notify_all();
  }
  Ended();
}

}  // namespace scoutor
