#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "transport/StoppableThread.h"

namespace scoutor {
namespace {

// A thread that records its steps and can be told to fail in one.
class TRecordingThread final : public TStoppableThread {
 public:
  ~TRecordingThread() override { Finish(); }

  std::atomic<int> Steps{0};
  std::atomic<bool> FailNext{false};
  std::vector<std::string> Events() {
    std::lock_guard lock(Mutex);
    return Log;
  }

 protected:
  void BeforeRun() override { Record("before"); }
  void RunOnce() override {
    ++Steps;
    if (FailNext) throw std::runtime_error("step failed");
    std::this_thread::yield();
  }
  void AfterRun() override { Record("after"); }

 private:
  void Record(const std::string& event) {
    std::lock_guard lock(Mutex);
    Log.push_back(event);
  }
  std::mutex Mutex;
  std::vector<std::string> Log;
};

TEST(StoppableThread, IsCreatedSuspendedAndStopped) {
  TRecordingThread thread;
  EXPECT_TRUE(thread.IsStopped());
  EXPECT_FALSE(thread.HasEnded());
  EXPECT_EQ(thread.Steps.load(), 0);
  EXPECT_TRUE(thread.Events().empty());
}

TEST(StoppableThread, StopOnANeverStartedThreadLeavesItSuspendedUntilDestroyed) {
  TRecordingThread thread;
  thread.StopRunning();  // not running: nothing to stop
  EXPECT_TRUE(thread.IsStopped());
  EXPECT_FALSE(thread.HasEnded());
}

TEST(StoppableThread, RunsStepsUntilStoppedAndThenEnds) {
  TRecordingThread thread;
  thread.StartRunning();
  EXPECT_FALSE(thread.IsStopped());
  while (thread.Steps.load() < 3) std::this_thread::yield();
  thread.StopRunning();
  EXPECT_TRUE(thread.IsStopped());
  thread.WaitFor();
  EXPECT_TRUE(thread.HasEnded());
  EXPECT_EQ(thread.Events(), (std::vector<std::string>{"before", "after"}));
  EXPECT_EQ(thread.TerminatingMessage(), "");
}

TEST(StoppableThread, StartingAStoppedThreadAgainDoesNotRunItAgain) {
  TRecordingThread thread;
  thread.StartRunning();
  while (thread.Steps.load() < 1) std::this_thread::yield();
  thread.StopRunning();
  thread.WaitFor();
  thread.StartRunning();
  EXPECT_EQ(thread.Events(), (std::vector<std::string>{"before", "after"}));
}

TEST(StoppableThread, ErrorInAStepEndsTheThreadAfterTheAfterRunStep) {
  TRecordingThread thread;
  thread.FailNext = true;
  thread.StartRunning();
  thread.WaitFor();
  EXPECT_TRUE(thread.IsStopped());
  EXPECT_EQ(thread.TerminatingMessage(), "step failed");
  EXPECT_EQ(thread.Steps.load(), 1);
  EXPECT_EQ(thread.Events(), (std::vector<std::string>{"before", "after"}));
}

}  // namespace
}  // namespace scoutor
