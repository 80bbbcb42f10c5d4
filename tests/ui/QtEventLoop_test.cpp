#include <QEventLoop>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "runtime/SingleShot.h"
#include "runtime/Timer.h"
#include "ui/QtEventLoop.h"

namespace scoutor {

class QtEventLoopTest : public QObject {
  Q_OBJECT

 private slots:
  void handOverRunsOnTheLoopThreadAndBlocksTheSender() {
    TQtEventLoop loop;
    std::thread::id ranOn;
    std::atomic<bool> senderReturned{false};
    QEventLoop wait;
    std::thread sender([&] {
      loop.HandOver([&] { ranOn = std::this_thread::get_id(); });
      senderReturned = true;
      QMetaObject::invokeMethod(&wait, &QEventLoop::quit, Qt::QueuedConnection);
    });
    wait.exec();
    sender.join();
    QVERIFY(senderReturned);
    QCOMPARE(ranOn, std::this_thread::get_id());
  }

  void handOverCarriesTheStepsErrorBackToTheSender() {
    TQtEventLoop loop;
    std::string caught;
    QEventLoop wait;
    std::thread sender([&] {
      try {
        loop.HandOver([] { throw std::runtime_error("step failed"); });
      } catch (const std::runtime_error& e) {
        caught = e.what();
      }
      QMetaObject::invokeMethod(&wait, &QEventLoop::quit, Qt::QueuedConnection);
    });
    wait.exec();
    sender.join();
    QCOMPARE(caught, std::string("step failed"));
  }

  // The wait dialog's reply arrives while a modal loop runs: a hand-over must be served there.
  void handOversAreServedInsideAMessageBoxsModalLoop() {
    TQtEventLoop loop;
    int steps = 0;
    std::thread sender;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      QVERIFY(box != nullptr);
      sender = std::thread([&loop, &steps, box] {
        for (int i = 0; i < 3; ++i) loop.HandOver([&] { ++steps; });
        loop.HandOver([box] { box->accept(); });
      });
    });
    QMessageBox box(QMessageBox::NoIcon, "Modal", "waiting", QMessageBox::Ok);
    box.exec();
    sender.join();
    QCOMPARE(steps, 3);
  }

  void handOverOnTheLoopThreadRunsAtOnce() {
    TQtEventLoop loop;
    int runs = 0;
    loop.HandOver([&] { ++runs; });
    QCOMPARE(runs, 1);
  }

  void serviceHandOversUntilRunsStepsWhileWaiting() {
    TQtEventLoop loop;
    std::atomic<bool> finished{false};
    int steps = 0;
    std::thread worker([&] {
      for (int i = 0; i < 3; ++i) loop.HandOver([&] { ++steps; });
      finished = true;
      loop.Wake();
    });
    loop.ServiceHandOversUntil([&] { return finished.load(); });
    worker.join();
    QCOMPARE(steps, 3);
  }

  void postedStepsRunLaterInTheirOrder() {
    TQtEventLoop loop;
    std::vector<int> order;
    loop.Post([&] { order.push_back(1); });
    loop.Post([&] { order.push_back(2); });
    QVERIFY(order.empty());
    QCoreApplication::processEvents();
    QCOMPARE(order, (std::vector<int>{1, 2}));
  }

  void realTimersAreQtTimers() {
    TQtEventLoop loop;
    int ticks = 0;
    bool shot = false;
    TTimer timer(loop);
    timer.SetInterval(5);
    timer.OnTimer = [&] {
      if (++ticks == 3) timer.SetEnabled(false);  // stopping from inside its own tick
    };
    timer.SetEnabled(true);
    TSingleShot single;
    single.Start(loop, 1, [&] { shot = true; });
    QTRY_COMPARE_WITH_TIMEOUT(ticks, 3, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(shot, 10000);
    QCOMPARE(loop.TimerCount(), std::size_t{0});
  }

  void manualClockFiresTimersInTimeOrder() {
    TManualClock clock;
    TQtEventLoop loop(clock);
    std::vector<std::pair<char, std::int64_t>> ticks;
    loop.StartTimer(500, [&] { ticks.emplace_back('a', clock.NowMs()); });
    loop.StartTimer(300, [&] { ticks.emplace_back('b', clock.NowMs()); });
    loop.StartSingleShot(700, [&] { ticks.emplace_back('s', clock.NowMs()); });
    loop.Advance(1000);
    const std::vector<std::pair<char, std::int64_t>> expected = {
        {'b', 300}, {'a', 500}, {'b', 600}, {'s', 700}, {'b', 900}, {'a', 1000}};
    QCOMPARE(ticks, expected);
    QCOMPARE(clock.NowMs(), std::int64_t{1000});
  }

  void stoppedSingleShotNeverFires() {
    TManualClock clock;
    TQtEventLoop loop(clock);
    bool fired = false;
    const TTimerId id = loop.StartSingleShot(100, [&] { fired = true; });
    loop.StopTimer(id);
    loop.Advance(1000);
    QVERIFY(!fired);
  }

  // A transfer watches its socket anew for every reply: thousands of watches on one descriptor,
  // each stopped from inside its own handler, must all report.
  void aDescriptorWatchedAnewForEveryDatagramNeverStalls() {
    TQtEventLoop loop;
    int pair[2];
    QCOMPARE(socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0, pair), 0);
    constexpr int kRounds = 20000;
    int received = 0;
    std::function<void()> watch = [&] {
      auto id = std::make_shared<TWatchId>();
      *id = loop.WatchDescriptor(pair[0], TWatchKind::Read, [&, id] {
        char byte;
        if (read(pair[0], &byte, 1) != 1) return;
        loop.StopWatching(*id);
        if (++received < kRounds) {
          watch();
          QCOMPARE(write(pair[1], "x", 1), ssize_t{1});
        }
      });
    };
    watch();
    QCOMPARE(write(pair[1], "x", 1), ssize_t{1});
    QTRY_COMPARE_WITH_TIMEOUT(received, kRounds, 60000);
    close(pair[0]);
    close(pair[1]);
  }

  void watcherReportsReadinessUntilStopped() {
    TQtEventLoop loop;
    int pair[2];
    QCOMPARE(socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0, pair), 0);
    int reads = 0;
    TWatchId id = 0;
    id = loop.WatchDescriptor(pair[0], TWatchKind::Read, [&] {
      char byte;
      while (read(pair[0], &byte, 1) == 1) ++reads;
      loop.StopWatching(id);  // from inside its own handler
    });
    QCOMPARE(write(pair[1], "x", 1), ssize_t{1});
    QTRY_COMPARE_WITH_TIMEOUT(reads, 1, 10000);
    QCOMPARE(loop.WatchCount(), std::size_t{0});
    QCOMPARE(write(pair[1], "y", 1), ssize_t{1});
    QCoreApplication::processEvents();
    QCOMPARE(reads, 1);
    close(pair[0]);
    close(pair[1]);
  }
};

}  // namespace scoutor

QTEST_MAIN(scoutor::QtEventLoopTest)
#include "QtEventLoop_test.moc"
