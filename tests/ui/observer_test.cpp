// The task notification across threads: delivered on the interface thread while the worker
// waits, progress thinned out without losing the last state, nothing once the frame is gone.
#include <QProgressBar>
#include <atomic>
#include <thread>

#include "ui/gui_observer.h"
#include "ui_test_support.h"

using namespace norvale;
using namespace norvale::ui;
using norvale::ui::test::FrameFixture;

namespace {
// Runs body on a thread of its own and processes events until it has ended: the thread's
// notifications need this thread to deliver them.
bool runOnThread(const std::function<void()>& body) {
  std::atomic<bool> done{false};
  std::thread thread([&] {
    body();
    done = true;
  });
  const bool ended = QTest::qWaitFor([&] { return done.load(); }, 30000);
  thread.join();
  return ended;
}

TaskStatus loadProgress(std::int64_t value) {
  TaskStatus status;
  status.code = StatusCode::LoadProgress;
  status.value = value;
  status.foundCount = static_cast<std::uint64_t>(value);
  status.foundBytes = 1024;
  return status;
}
}  // namespace

class ObserverTest : public QObject {
  Q_OBJECT

 private slots:
  void notificationsReachTheFrameOnItsThreadAndTheLastProgressIsKept() {
    FrameFixture f;
    f.startSampleScan();
    QVERIFY(f.waitIdle());
    GuiObserver observer(f.frame.get());
    std::atomic<int> onUiThread{0};
    std::atomic<int> delivered{0};
    QThread* ui = QThread::currentThread();
    QVERIFY(runOnThread([&] {
      TaskStatus start;
      start.code = StatusCode::LoadStart;
      start.value = 100000;
      observer.onTaskStatus(start);
      for (int i = 1; i <= 100000; ++i) observer.onTaskStatus(loadProgress(i));
      observer.flush();
      observer.runOnUi([&](CMainFrame&) {
        onUiThread += QThread::currentThread() == ui;
        ++delivered;
      });
    }));
    QCOMPARE(onUiThread.load(), 1);
    QCOMPARE(delivered.load(), 1);
    QCOMPARE(f.frame->progressBar()->maximum(), 100000);
    QCOMPARE(f.frame->progressBar()->value(), 100000);
    QCOMPARE(f.files()->strip()->field(1), QStringLiteral("文件数量: 100000  大小: 1.0 KB"));
  }

  void aHeldProgressOfAnotherKindIsDeliveredFirst() {
    FrameFixture f;
    f.startSampleScan();
    QVERIFY(f.waitIdle());
    GuiObserver observer(f.frame.get());
    QVERIFY(runOnThread([&] {
      observer.onTaskStatus(loadProgress(1));
      observer.onTaskStatus(loadProgress(7));  // held: too soon after the first
      TaskStatus message;
      message.code = StatusCode::Message;
      message.message = "done";
      observer.onTaskStatus(message);
    }));
    QCOMPARE(f.files()->strip()->field(1), QStringLiteral("文件数量: 7  大小: 1.0 KB"));
    QCOMPARE(f.logLines().back(), QStringLiteral("信息|done"));
  }

  void aDetachedObserverDeliversNothing() {
    FrameFixture f;
    GuiObserver observer(f.frame.get());
    observer.detach();
    int calls = 0;
    QVERIFY(runOnThread([&] { observer.runOnUi([&](CMainFrame&) { ++calls; }); }));
    QCOMPARE(calls, 0);
  }

  void aFrameThatIsGoneIsNotCalled() {
    auto frame = std::make_unique<CMainFrame>();
    GuiObserver observer(frame.get());
    frame.reset();
    int calls = 0;
    QVERIFY(runOnThread([&] { observer.runOnUi([&](CMainFrame&) { ++calls; }); }));
    QCOMPARE(calls, 0);
  }
};

QTEST_MAIN(ObserverTest)
#include "observer_test.moc"
