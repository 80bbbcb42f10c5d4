// How well the upgrade dialog's window keeps running while it works: the longest gap between two
// runs of a 10 ms timer in the window's loop, with the dialog idle (the peer figure), during a
// 20 MB upload to tftpd-hpa and during the 10 s pause before a second attempt. Target: under
// 50 ms. Runs in network namespaces of its own; skips without them.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "appmodel/DebugMode.h"
#include "appmodel/VEPInterface.h"
#include "protocol/StartEngine.h"
#include "tests/ui/TftpdPeer.h"
#include "tests/ui/UiTest.h"
#include "appmodel/UpgradeAttempts.h"
#include "ui/MaskedAddressEdit.h"
#include "ui/QtEventLoop.h"
#include "ui/Upgrade.h"

using namespace scoutor;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kImageSize = 20 * 1000 * 1000;

// The ticks of a 10 ms timer on `loop`, and the longest gap between two of them in a span.
class TTickRecorder {
 public:
  explicit TTickRecorder(TEventLoop& loop) : Loop(loop) {
    Ticks.reserve(4096);
    Id = loop.StartTimer(10, [this] { Ticks.push_back(Clock::now()); });
  }
  ~TTickRecorder() { Loop.StopTimer(Id); }
  TTickRecorder(const TTickRecorder&) = delete;
  TTickRecorder& operator=(const TTickRecorder&) = delete;

  // Counts the gap from `from` to the first tick and from the last tick to `to` as well.
  double LongestGapMs(Clock::time_point from, Clock::time_point to) const {
    Clock::duration longest{};
    Clock::time_point last = from;
    for (Clock::time_point tick : Ticks) {
      if (tick < from) continue;
      if (tick > to) break;
      longest = std::max(longest, tick - last);
      last = tick;
    }
    longest = std::max(longest, to - last);
    return std::chrono::duration<double, std::milli>(longest).count();
  }

 private:
  TEventLoop& Loop;
  TTimerId Id;
  std::vector<Clock::time_point> Ticks;
};

// When each upload attempt started and ended.
struct TAttempts {
  std::vector<Clock::time_point> Started;
  std::vector<Clock::time_point> Ended;

  TUpload Around(TUpload upload) {
    return [this, upload](const std::string& file, const std::string& address,
                          TAttemptDone done) {
      Started.push_back(Clock::now());
      upload(file, address, [this, done](const TUpgradeOutcome& outcome) {
        Ended.push_back(Clock::now());
        done(outcome);
      });
    };
  }
};

// Presses Upgrade in the open dialog and answers the outcome's box; returns its text.
QString RunUpgrade(TUpgradeForm& form) {
  QString outcome;
  InModalLoop([&] {
    WhenBoxOpens([&](QMessageBox& box) {
      outcome = box.text();
      box.button(QMessageBox::Ok)->click();
      // A success closes the dialog; after a failure it stays open for another try.
      if (outcome != "Upgrade succeeded") WhenModal(&form, [&form] { form.reject(); });
    });
    form.UpgradeButton->click();
  });
  form.exec();
  return outcome;
}

}  // namespace

int main(int argc, char** argv) {
  if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (const std::string why = test::TNetnsBed::Unavailable(); !why.empty()) {
    std::printf("upgrade_dialog_bench skipped: needs network namespaces (root): %s\n", why.c_str());
    return 0;
  }
  test::TTftpdPeer peer;
  if (!peer.Start()) {
    std::printf("upgrade_dialog_bench: tftpd-hpa did not start\n");
    return 1;
  }
  const std::string image = peer.WriteImage(kImageSize);
  test::TNamespaceScope inClient(peer.ClientNs);
  TQtEventLoop loop;
  TMainLoopScope mainLoop(loop);
  if (!StartEngine()) return 1;
  SetDebugMode(true);  // the engine's reasons for a failure go to standard error
  TVEPInterface vep(loop);
  vep.HandleUpgradeProgress = HandleUpgradeProgress;
  TAttempts attempts;
  TUpgradeForm form(attempts.Around(EngineUpload()), loop);
  form.FileName->setText(QString::fromStdString(image));
  form.IPAddress->SetAddressText(test::TTftpdPeer::kServerAddress);
  TTickRecorder ticks(loop);

  std::printf("Upgrade dialog: longest gap between two runs of a 10 ms timer in the window's loop\n"
              "(%zu MB image to tftpd-hpa over veth; target under 50 ms)\n",
              kImageSize / (1000 * 1000));
  const auto idleFrom = Clock::now();
  QTimer::singleShot(2000, &form, [&form] { form.reject(); });
  form.exec();
  const double idle = ticks.LongestGapMs(idleFrom, Clock::now());
  std::printf("  %-32s %8.1f ms\n", "dialog open, idle (peer figure)", idle);

  const QString uploaded = RunUpgrade(form);
  const double seconds = std::chrono::duration<double>(attempts.Ended.at(0) - attempts.Started.at(0)).count();
  const double upload = ticks.LongestGapMs(attempts.Started.at(0), attempts.Ended.at(0));
  std::printf("  %-32s %8.1f ms   (%.2f s, %.1f MB/s, %s)\n", "during the upload", upload, seconds,
              kImageSize / 1e6 / seconds, uploaded.toStdString().c_str());

  peer.RefuseWrites();
  RunUpgrade(form);
  if (attempts.Started.size() != 3 || attempts.Ended.size() < 2) {
    std::printf("  the refused upload was not tried twice\n");
    return 1;
  }
  const double pauseSeconds =
      std::chrono::duration<double>(attempts.Started.at(2) - attempts.Ended.at(1)).count();
  const double pause = ticks.LongestGapMs(attempts.Ended.at(1), attempts.Started.at(2));
  std::printf("  %-32s %8.1f ms   (%.2f s)\n", "during the pause", pause, pauseSeconds);
  std::printf("  ratio to idle: upload %.2f, pause %.2f\n", upload / idle, pause / idle);
  return 0;
}
