#include "runtime/HeadlessLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <system_error>

namespace scoutor {

namespace {

constexpr std::int64_t kNever = TTimerTable::kNever;

// A descriptor with an error, a hang-up or closed under the watcher counts as ready for both
// kinds, so that its owner's next call finds out instead of the loop spinning.
bool IsReady(short revents, TWatchKind kind) {
  const short wanted = kind == TWatchKind::Read ? POLLIN : POLLOUT;
  return (revents & (wanted | POLLERR | POLLHUP | POLLNVAL)) != 0;
}

}  // namespace

THeadlessLoop::THeadlessLoop(TClock& clock)
    : Clock(clock), LoopThread(std::this_thread::get_id()), Timers(clock) {
  WakeDescriptor = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (WakeDescriptor < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

THeadlessLoop::~THeadlessLoop() {
  // A sender must never stay blocked on a loop that is gone.
  RunHandOvers();
  close(WakeDescriptor);
}

void THeadlessLoop::HandOver(std::function<void()> step) {
  if (IsLoopThread()) {
    step();
    return;
  }
  HandOvers.Send(step, [this] { SignalWake(); });
}

void THeadlessLoop::Post(std::function<void()> step) {
  std::lock_guard lock(Mutex);
  Posted.push_back(std::move(step));
  SignalWake();
}

void THeadlessLoop::RunHandOvers() { HandOvers.RunAll(); }

// Only the steps posted before this call: a step that posts another lets the loop serve
// everything else before the new one runs.
void THeadlessLoop::RunPosts() {
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard lock(Mutex);
    if (Posted.empty()) return;  // the common case: no deque to make and drop
    batch.swap(Posted);
  }
  for (auto& step : batch) step();
}

TTimerId THeadlessLoop::StartTimer(int intervalMs, std::function<void()> tick) {
  return Timers.AddPeriodic(intervalMs, std::move(tick));
}

TTimerId THeadlessLoop::StartSingleShot(int delayMs, std::function<void()> step) {
  return Timers.AddSingleShot(delayMs, std::move(step));
}

void THeadlessLoop::StopTimer(TTimerId id) { Timers.Remove(id); }

TWatchId THeadlessLoop::WatchDescriptor(int descriptor, TWatchKind kind,
                                        std::function<void()> ready) {
  const TWatchId id = NextWatchId++;
  Watches.emplace(id, TWatchEntry{descriptor, kind, std::move(ready)});
  return id;
}

void THeadlessLoop::StopWatching(TWatchId id) { Watches.erase(id); }

void THeadlessLoop::ServeDescriptors(int waitMs) {
  // A round runs once per packet of a transfer: a few watchers fit on the stack, so the wait
  // costs no allocation.
  constexpr std::size_t kFewWatches = 16;
  std::array<pollfd, kFewWatches + 1> fewPolled;
  std::array<TWatchId, kFewWatches> fewIds;
  std::vector<pollfd> manyPolled;
  std::vector<TWatchId> manyIds;
  const bool few = Watches.size() <= kFewWatches;
  if (!few) {
    manyPolled.resize(Watches.size() + 1);
    manyIds.resize(Watches.size());
  }
  pollfd* const polled = few ? fewPolled.data() : manyPolled.data();
  TWatchId* const ids = few ? fewIds.data() : manyIds.data();
  polled[0] = {WakeDescriptor, POLLIN, 0};
  std::size_t count = 0;
  for (const auto& [id, watch] : Watches) {
    polled[count + 1] = {watch.Descriptor,
                         static_cast<short>(watch.Kind == TWatchKind::Read ? POLLIN : POLLOUT), 0};
    ids[count++] = id;
  }
  const int ready = poll(polled, count + 1, waitMs);
  if (ready <= 0) return;  // nothing, or a signal came first: the caller loops
  if (polled[0].revents != 0) DrainWake();
  for (std::size_t i = 0; i < count; ++i) {
    auto it = Watches.find(ids[i]);  // an earlier watcher may have stopped it
    if (it == Watches.end() || !IsReady(polled[i + 1].revents, it->second.Kind)) continue;
    auto handler = it->second.Ready;  // the handler may stop its own watch
    handler();
  }
}

void THeadlessLoop::SignalWake() {
  const std::uint64_t one = 1;
  // The counter only saturates after 2^64-2 unread wake-ups; a failed write changes nothing.
  [[maybe_unused]] const auto written = write(WakeDescriptor, &one, sizeof one);
}

void THeadlessLoop::DrainWake() {
  std::uint64_t count = 0;
  [[maybe_unused]] const auto drained = read(WakeDescriptor, &count, sizeof count);
}

void THeadlessLoop::Pump() {
  RunHandOvers();
  RunPosts();
  ServeDescriptors(0);
  Timers.FireDue();
  RunHandOvers();
}

bool THeadlessLoop::RunUntil(const std::function<bool()>& done, int timeoutMs) {
  const std::int64_t deadline = timeoutMs < 0 ? kNever : Clock.NowMs() + timeoutMs;
  {
    std::lock_guard lock(Mutex);
    QuitRequested = false;
  }
  // Descriptors are served by the wait at the end of each round, so a round polls once (a
  // transfer driven by readiness pays one poll per packet); what is ready at the start still
  // comes before the timers that are due, as in Pump.
  ServeDescriptors(0);
  for (;;) {
    RunHandOvers();
    RunPosts();
    Timers.FireDue();
    RunHandOvers();
    if (done && done()) return true;
    const std::int64_t now = Clock.NowMs();
    const std::int64_t until = std::min(deadline, Timers.NextDueMs());
    int waitMs;
    {
      std::lock_guard lock(Mutex);
      if (QuitRequested) {
        QuitRequested = false;
        return false;
      }
      if (now >= deadline) return false;
      const bool pending = HandOvers.TakePending() || !Posted.empty();
      if (pending || until <= now)
        waitMs = 0;
      else if (until == kNever)
        waitMs = -1;
      else
        waitMs = static_cast<int>(std::min<std::int64_t>(until - now, 1 << 30));
    }
    ServeDescriptors(waitMs);
  }
}

void THeadlessLoop::ServiceHandOversUntil(const std::function<bool()>& done) {
  HandOvers.ServiceUntil(done);
}

void THeadlessLoop::Wake() {
  HandOvers.Wake();
  SignalWake();
}

void THeadlessLoop::Quit() {
  std::lock_guard lock(Mutex);
  QuitRequested = true;
  SignalWake();
}

bool THeadlessLoop::IsLoopThread() const { return std::this_thread::get_id() == LoopThread; }

void THeadlessLoop::Advance(TManualClock& clock, std::int64_t ms) {
  Timers.Advance(clock, ms, [this] { Pump(); });
}

}  // namespace scoutor
