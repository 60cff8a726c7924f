// The main frame: placement, toolbar, menus, child windows, back, exit and the notification.
#include <QMdiArea>
#include <QMenuBar>
#include <QProgressBar>
#include <QToolBar>

#include <QElapsedTimer>

#include "app/start_up.h"
#include "storage/device_record.h"
#include "task/brand_registry.h"
#include "ui_test_support.h"

using namespace norvale;
using namespace norvale::ui;
using norvale::ui::test::FrameFixture;

class ShellTest : public QObject {
  Q_OBJECT

 private slots:
  void placementLeavesATwentiethOnEachSide() {
    QCOMPARE(CMainFrame::placement(QRect(0, 0, 1920, 1040)), QRect(96, 52, 1728, 936));
    QCOMPARE(CMainFrame::placement(QRect(100, 0, 1000, 999)), QRect(150, 49, 900, 901));
  }

  void toolbarHasThirteenButtonsInOrderWithTextUnderIcon() {
    FrameFixture f;
    const QStringList expected = {"加载镜像", "刷新设备", "新建任务", "加载任务", "任务信息", "自动识别", "文件导出",
                                  "日志报表", "任务停止", "参数设置", "关于软件", "软件退出", "后退"};
    QStringList texts;
    for (QAction* action : f.frame->toolBar()->actions()) texts << action->text();
    QCOMPARE(texts, expected);
    QCOMPARE(f.frame->toolBar()->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    QCOMPARE(f.frame->toolBar()->iconSize(), QSize(32, 32));
    QWidget* button = f.frame->toolBar()->widgetForAction(f.frame->action(kCmdNewTask));
    QVERIFY(button);
    QCOMPARE(button->size(), QSize(65, 55));
    QVERIFY(!f.frame->action(kCmdNewTask)->icon().isNull());
  }

  void deviceModeMenusAndButtons() {
    FrameFixture f;
    QCOMPARE(f.frame->menuMode(), 1);
    QCOMPARE(f.frame->windowFlag(), 0);
    const auto menus = f.frame->menuBar()->actions();
    QStringList titles;
    for (QAction* menu : menus) titles << menu->text();
    QCOMPARE(titles, (QStringList{"文件", "任务", "功能", "设置", "窗口", "关于"}));
    auto items = [&](int i) {
      QStringList texts;
      for (QAction* a : menus[i]->menu()->actions()) texts << a->text();
      return texts;
    };
    QCOMPARE(items(0), (QStringList{"加载镜像", "刷新设备", "软件退出"}));
    QCOMPARE(items(1), (QStringList{"新建任务", "加载任务"}));
    QCOMPARE(items(2), (QStringList{"自动识别"}));
    QCOMPARE(items(3), (QStringList{"参数设置"}));
    QCOMPARE(items(4), (QStringList{"主窗口", "文件窗口"}));
    QCOMPARE(items(5), (QStringList{"关于软件"}));
    for (CommandId id : {kCmdLoadImage, kCmdRefresh, kCmdNewTask, kCmdLoadTask, kCmdAutoIdentify, kCmdExit, kCmdSettings, kCmdAbout})
      QVERIFY2(f.frame->action(id)->isVisible(), qPrintable(f.frame->action(id)->text()));
    for (CommandId id : {kCmdTaskInfo, kCmdExport, kCmdReport, kCmdBack, kCmdStop})
      QVERIFY2(!f.frame->action(id)->isVisible(), qPrintable(f.frame->action(id)->text()));
    QVERIFY(f.frame->action(kCmdMainWindow)->isEnabled());
    QVERIFY(!f.frame->action(kCmdFileWindow)->isEnabled());
  }

  void mainWindowListsBrandsAndModes() {
    FrameFixture f;
    auto* brands = f.main().brands();
    QCOMPARE(brands->count(), 49);
    for (int i = 0; i < brands->count(); ++i) QCOMPARE(brands->item(i)->text(), qs(brandName(i)));
    QCOMPARE(brands->item(0)->text(), QStringLiteral("[0]  未知监控录像系统"));
    QCOMPARE(brands->item(48)->text(), QStringLiteral("[48]  华氏H265监控录像系统"));
    QCOMPARE(brands->selectedNumber(), 0);
    auto* modes = f.main().modes();
    QCOMPARE(modes->count(), 2);
    QCOMPARE(modes->item(0)->text(), QStringLiteral("[0]  快速解析(速度快)"));
    QCOMPARE(modes->item(1)->text(), QStringLiteral("[1]  深度解析(速度慢)"));
    QCOMPARE(modes->selectedNumber(), 0);
    QVERIFY(brands->font().families().contains(QStringLiteral("微软雅黑")));
    QCOMPARE(brands->font().pointSize(), 10);
  }

  void scanSwitchesToTaskModeAndBackReturns() {
    FrameFixture f;
    f.startSampleScan();
    QVERIFY(f.waitIdle());
    QVERIFY(f.files());
    QCOMPARE(f.frame->menuMode(), 2);
    QCOMPARE(f.frame->windowFlag(), 1);
    QVERIFY(f.frame->action(kCmdExport)->isVisible());
    QVERIFY(!f.frame->action(kCmdNewTask)->isVisible());
    QVERIFY(f.frame->action(kCmdFileWindow)->isEnabled());
    QCOMPARE(f.frame->menuBar()->actions()[0]->menu()->actions().size(), 2);

    f.frame->action(kCmdMainWindow)->trigger();
    QCOMPARE(f.frame->windowFlag(), 0);
    QCOMPARE(f.frame->menuMode(), 1);
    f.frame->action(kCmdFileWindow)->trigger();
    QCOMPARE(f.frame->windowFlag(), 1);

    QVERIFY(!f.frame->task().fileMap.empty());
    f.frame->action(kCmdBack)->trigger();
    QVERIFY(!f.files());
    QCOMPARE(f.frame->windowFlag(), 0);
    QCOMPARE(f.frame->menuMode(), 1);
    QVERIFY(f.frame->task().fileMap.empty());
    QVERIFY(!f.frame->task().store);
    QVERIFY(!f.frame->action(kCmdFileWindow)->isEnabled());
  }

  void backWhileBusyOnlyLogs() {
    FrameFixture f;
    f.startSampleScan();
    // The worker waits in its first notification until this thread handles events.
    QVERIFY(f.frame->busy());
    f.frame->onBack();
    QVERIFY(f.files());
    QCOMPARE(f.logLines(), QStringList{QStringLiteral("信息|当前还有其他任务在执行,请等待其他任务完成")});
    QVERIFY(f.waitIdle());
    QVERIFY(f.files());
  }

  void exitAsksAndCancelKeepsTheWindow() {
    FrameFixture f;
    f.frame->show();
    f.prompter.confirmAnswer = false;
    QVERIFY(!f.frame->close());
    QVERIFY(f.frame->isVisible());
    QCOMPARE(f.prompter.questions.size(), 1u);
    QCOMPARE(f.prompter.questions[0].text, QStringLiteral("是否确定退出程序？"));
    QCOMPARE(f.prompter.questions[0].caption, QStringLiteral("确认"));
    f.prompter.confirmAnswer = true;
    f.frame->action(kCmdExit)->trigger();
    QVERIFY(!f.frame->isVisible());
    QCOMPARE(f.prompter.questions.back().text, QStringLiteral("是否确定退出程序？"));
  }

  void exitWhileBusyAsksTheForcedQuestionAndCancelKeepsRunning() {
    FrameFixture f;
    f.frame->show();
    f.startSampleScan();
    QVERIFY(f.frame->busy());
    f.prompter.confirmAnswer = false;
    QVERIFY(!f.frame->close());
    QCOMPARE(f.prompter.questions.back().text, QStringLiteral("当前还有其他任务在执行,是否确定强制退出程序？"));
    QVERIFY(f.waitIdle());
    QCOMPARE(f.files()->strip()->field(2), QStringLiteral("解析完成"));
  }

  void forcedExitLetsTheWorkerEndWithoutTheFrame() {
    auto f = std::make_unique<FrameFixture>();
    f->frame->show();
    f->startSampleScan();
    QVERIFY(f->frame->busy());
    std::weak_ptr<CoreState> state = f->frame->stateHandle();
    QVERIFY(f->frame->close());
    QVERIFY(CMainFrame::workerAbandoned());
    // The frame goes away while the worker may still run or wait in a notification.
    f->frame.reset();
    // The worker sees no frame, notices the stop flag and ends; the last owner frees the state.
    QVERIFY(QTest::qWaitFor([&] { return state.expired(); }, 60000));
  }

  void startUpScanRunsUnderTheBusyFlagAndThenCallsBack() {
    FrameFixture f;
    bool done = false;
    f.frame->startDeviceScan([&] { done = true; });
    QVERIFY(f.frame->busy());
    QVERIFY(!done);
    // Refreshing while the scan runs is refused.
    f.frame->onRefreshDevices();
    QCOMPARE(f.messageTexts(), QStringList{QStringLiteral("当前还有其他任务在执行,请等待其他任务完成")});
    QVERIFY(f.waitIdle());
    QVERIFY(done);
  }

  void splashStaysForTheScanAndTheDelayThenCloses() {
    FrameFixture f;
    QElapsedTimer timer;
    timer.start();
    showSplashWhileScanning(*f.frame, 300);
    QVERIFY(timer.elapsed() >= 300);
    QVERIFY(!f.frame->busy());
  }

  void refreshDropsAddedImagesButKeepsTheRecordATaskNames() {
    FrameFixture f;
    f.startSampleScan();
    QVERIFY(f.waitIdle());
    const DeviceRecord* named = f.frame->task().device;
    QVERIFY(named);
    f.frame->action(kCmdMainWindow)->trigger();
    f.frame->action(kCmdRefresh)->trigger();
    QVERIFY(f.waitIdle());
    QVERIFY(f.main().devices()->topLevelItemCount() == static_cast<int>(f.frame->state().devices.size()));
    for (const auto& device : f.frame->state().devices) QVERIFY(device->path != u8(f.image));
    // The task still names a live record: its information can be shown.
    QCOMPARE(f.frame->task().device, named);
    QCOMPARE(qs(named->name), f.image);
  }

  void logLineWithoutFileWindowIsAMessageBox() {
    FrameFixture f;
    f.frame->logLine(QStringLiteral("信息"), QStringLiteral("hello"));
    QCOMPARE(f.messageTexts(), QStringList{QStringLiteral("hello")});
  }

  void previewAndConvertWithoutATaskAskForAFileAndStartNothing() {
    FrameFixture f;
    f.frame->action(kCmdPreview)->trigger();
    f.frame->action(kCmdConvert)->trigger();
    QCOMPARE(f.messageTexts(), (QStringList{QStringLiteral("请在文件列表中选择要预览的文件"),
                                            QStringLiteral("请在文件列表中勾选要转化的文件")}));
    QVERIFY(!f.files());
    QVERIFY(!f.frame->busy());
  }

  void stopWhenIdleHasNoEffectAndTheNextScanClearsIt() {
    FrameFixture f;
    f.frame->action(kCmdStop)->trigger();
    QVERIFY(f.frame->task().stopRequested());
    f.startSampleScan();
    QVERIFY(f.waitIdle());
    QCOMPARE(f.files()->strip()->field(2), QStringLiteral("解析完成"));
    QCOMPARE(f.frame->task().fileMap.size(), 24u);
  }

  void scanProgressTextsAndProgressBar() {
    FrameFixture f;
    f.addSample();
    f.frame->selectBrand(norvale::ui::test::kSampleBrand);
    f.frame->onNewTask();
    QVERIFY(f.waitIdle());
    TaskStatus status;
    status.code = StatusCode::ScanStart;
    status.value = 1000;
    f.frame->onTaskStatus(status);
    QCOMPARE(f.frame->progressBar()->maximum(), 1000);
    QCOMPARE(f.frame->progressBar()->value(), 0);
    status.code = StatusCode::ScanProgress;
    status.value = 10;
    status.foundCount = 7;
    status.foundBytes = 1572864;
    status.currentSector = 4;
    const QString before = f.files()->strip()->field(2);
    f.frame->onTaskStatus(status);
    QCOMPARE(f.files()->strip()->field(1), QStringLiteral("数量: 7  大小: 1.5 MB"));
    QCOMPARE(f.frame->progressBar()->value(), 10);
    // In the second the scan started no speed can be computed: the line keeps its text.
    QCOMPARE(f.files()->strip()->field(2), before);
    status.code = StatusCode::LoadProgress;
    status.value = 3;
    status.foundCount = 2;
    status.foundBytes = 0;
    f.frame->onTaskStatus(status);
    QCOMPARE(f.files()->strip()->field(1), QStringLiteral("文件数量: 2  大小: 0.0 Bytes"));
    status.code = StatusCode::Message;
    status.message = "读取源设备失败,可能存在坏道";
    f.frame->onTaskStatus(status);
    QCOMPARE(f.logLines().back(), QStringLiteral("信息|读取源设备失败,可能存在坏道"));
    QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}-\\d{2}-\\d{2}$"))
                .match(f.files()->log()->topLevelItem(0)->text(1))
                .hasMatch());
  }
};

QTEST_MAIN(ShellTest)
#include "shell_test.moc"
