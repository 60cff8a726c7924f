// The task commands through the windows: wizard checks, task dialog, scan, tree and grid against
// the core's file map, busy refusals, load and export.
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QRadioButton>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "export/exporter.h"
#include "parsers/brand_table.h"
#include "task/brand_registry.h"
#include "task/result_listing.h"
#include "task/status_text.h"
#include "task/task_workflow.h"
#include "support/test_support.h"
#include "ui/dialogs.h"
#include "ui_test_support.h"

using namespace norvale;
using namespace norvale::ui;
using norvale::ui::test::FrameFixture;

namespace {
const QString kBusy = QStringLiteral("当前还有其他任务在执行,请等待其他任务完成");

QTreeWidgetItem* firstDay(CChildFrame* files) {
  QTreeWidgetItem* root = files->tree()->topLevelItem(0);
  return root && root->childCount() && root->child(0)->childCount() ? root->child(0)->child(0) : nullptr;
}
}  // namespace

class WizardTest : public QObject {
  Q_OBJECT

 private slots:
  void noDeviceNamesTheDeviceStep() {
    FrameFixture f;
    f.frame->onNewTask();
    QCOMPARE(f.prompter.messages.size(), 1u);
    QCOMPARE(f.prompter.messages[0].text, QStringLiteral("【选择设备】 -> 选择品牌 -> 解析方式"));
    QCOMPARE(f.prompter.messages[0].caption, QString());
    QVERIFY(!f.frame->busy());
  }

  void brandZeroOpensIdentificationAndCancelNamesTheBrandStep() {
    FrameFixture f;
    // A source without any recorder packet: the sampling finds nothing.
    const QString blank = qs(f.dir.file("blank.img"));
    norvale::test::writeFile(u8(blank), std::vector<std::uint8_t>(3 << 20, 0));
    f.frame->addImageFiles({blank});
    f.main().devices()->setCurrentItem(f.main().devices()->topLevelItem(0));
    QString runningStatus, endStatus;
    bool closedWhileRunning = true;
    int listed = -1;
    f.prompter.onDialog = [&](QDialog& dialog) {
      auto* identify = qobject_cast<CAutoVideoDlg*>(&dialog);
      if (!identify) return false;
      runningStatus = identify->statusText();
      // Neither button closes the dialog while the sampling runs.
      identify->setResult(QDialog::Accepted);
      identify->reject();
      closedWhileRunning = identify->result() != QDialog::Accepted;
      ScriptedPrompter::pressOk(dialog);
      closedWhileRunning = closedWhileRunning || identify->result() == QDialog::Accepted;
      if (!f.waitIdle()) return false;
      endStatus = identify->statusText();
      listed = identify->list()->count();
      return false;
    };
    f.frame->onNewTask();
    QCOMPARE(runningStatus, QStringLiteral("正在识别监控类型,请稍等..."));
    QVERIFY(!closedWhileRunning);
    QCOMPARE(endStatus, QStringLiteral("从存储设备底层没有判断出监控类型,请手工选择"));
    QCOMPARE(listed, 0);
    QCOMPARE(f.messageTexts(), QStringList{QStringLiteral("选择设备 -> 【选择品牌】 -> 解析方式")});
    QVERIFY(!f.frame->busy());
  }

  void identificationFindsTheSampleBrandAndTheWizardGoesOn() {
    FrameFixture f;
    f.addSample();
    QStringList candidates;
    f.prompter.onDialog = [&](QDialog& dialog) {
      if (auto* identify = qobject_cast<CAutoVideoDlg*>(&dialog)) {
        if (!f.waitIdle()) return false;
        for (int i = 0; i < identify->list()->count(); ++i) candidates << identify->list()->item(i)->text();
        const auto found = identify->list()->findItems(QStringLiteral("[18]"), Qt::MatchStartsWith);
        if (found.isEmpty()) return false;
        identify->list()->setCurrentItem(found.front());
      }
      return ScriptedPrompter::pressOk(dialog);
    };
    f.main().modes()->setCurrentRow(1);
    f.frame->onNewTask();
    QVERIFY2(candidates.contains(qs(brandName(18))), qPrintable(candidates.join(QLatin1Char(','))));
    QCOMPARE(f.main().brands()->selectedNumber(), 18);
    QVERIFY(f.waitIdle());
    QVERIFY(f.files());
    QCOMPARE(f.files()->strip()->field(2), QStringLiteral("解析完成"));
    QCOMPARE(f.frame->task().fileMap.size(), 24u);
  }

  void autoIdentifyCommandSelectsTheChosenBrand() {
    FrameFixture f;
    f.frame->onAutoIdentify();
    QCOMPARE(f.messageTexts(), QStringList{QStringLiteral("请在设备列表中选择存储设备")});
    f.addSample();
    QString lastRow;
    f.prompter.onDialog = [&](QDialog& dialog) {
      auto* identify = qobject_cast<CAutoVideoDlg*>(&dialog);
      if (!identify || !f.waitIdle() || identify->list()->count() == 0) return false;
      identify->list()->setCurrentRow(identify->list()->count() - 1);
      lastRow = identify->list()->currentItem()->text();
      return ScriptedPrompter::pressOk(dialog);
    };
    f.frame->onAutoIdentify();
    QVERIFY(!lastRow.isEmpty());
    // The last row holds the brand with the most hits: the sample's own.
    QCOMPARE(lastRow, qs(brandName(norvale::ui::test::kSampleBrand)));
    QCOMPARE(f.main().brands()->selectedNumber(), norvale::ui::test::kSampleBrand);
  }

  void reportIsWrittenIntoTheTaskFolderAndOpened() {
    FrameFixture f;
    f.startSampleScan();
    QVERIFY(f.waitIdle());
    std::string opened;
    f.frame->setReportOpener([&](const std::string& path) -> Result<void> {
      opened = path;
      return {};
    });
    f.frame->onReport();
    QVERIFY(f.waitIdle());
    const std::string expected = f.frame->task().taskFolder + "/日志报表.html";
    QCOMPARE(qs(opened), qs(expected));
    QVERIFY(std::filesystem::exists(std::filesystem::u8path(expected)));
    QVERIFY(f.logLines().contains(QStringLiteral("信息|生成日志报表完成")));
  }

  void identificationOkWithAnEmptyListAsksForCancel() {
    CAutoVideoDlg dialog;
    dialog.showCandidates({});
    QVERIFY(!ScriptedPrompter::pressOk(dialog));
    QCOMPARE(dialog.statusText(), QStringLiteral("请点击取消按钮,然后手工选择监控类型"));
    dialog.showCandidates({{2, 3}, {18, 9}});
    QCOMPARE(dialog.statusText(), QStringLiteral("已经识别出2种监控类型,请选择后确定"));
    QCOMPARE(dialog.list()->item(0)->text(), qs(brandName(2)));
    QVERIFY(!ScriptedPrompter::pressOk(dialog));
    QCOMPARE(dialog.statusText(), QStringLiteral("请在列表中选择监控类型,然后确定"));
    dialog.list()->setCurrentRow(1);
    QVERIFY(ScriptedPrompter::pressOk(dialog));
    QCOMPARE(dialog.brand(), 18);
  }

  void noModeNamesTheModeStep() {
    FrameFixture f;
    f.addSample();
    f.frame->selectBrand(norvale::ui::test::kSampleBrand);
    f.main().modes()->clearSelection();
    f.frame->onNewTask();
    QCOMPARE(f.messageTexts(), QStringList{QStringLiteral("选择设备 -> 选择品牌 -> 【解析方式】")});
    QVERIFY(!f.files());
  }

  void taskDialogProposesAndChecks() {
    FrameFixture f;
    f.addSample();
    f.frame->selectBrand(norvale::ui::test::kSampleBrand);
    QString folder, start, end;
    QStringList refusals;
    f.prompter.onDialog = [&](QDialog& dialog) {
      auto* task = qobject_cast<CNewTaskDlg*>(&dialog);
      if (!task) return false;
      folder = task->folderEdit()->text();
      start = task->startEdit()->text();
      end = task->endEdit()->text();
      task->endEdit()->setText(start);
      ScriptedPrompter::pressOk(dialog);
      task->endEdit()->setText(end);
      task->folderEdit()->setText(QStringLiteral(".hidden"));
      ScriptedPrompter::pressOk(dialog);
      for (const auto& shown : f.prompter.messages) refusals << shown.caption + QLatin1Char('|') + shown.text;
      return false;
    };
    f.frame->onNewTask();
    QCOMPARE(folder, qs(f.dir.file("tasks/sample")));
    QCOMPARE(start, QStringLiteral("0"));
    const auto size = std::filesystem::file_size(f.dir.file("sample.img"));
    QCOMPARE(end, QString::number((size + 511) / 512));
    QCOMPARE(refusals, (QStringList{QStringLiteral("错误|请正确填写开始扇区和结束扇区 【开始扇区<结束扇区】"),
                                    QStringLiteral("错误|【请选择任务路径】")}));
    QVERIFY(!f.frame->busy());
  }

  void taskDialogAsksBeforeItReplacesATask() {
    FrameFixture f;
    const std::string folder = f.dir.file("tasks/sample");
    std::filesystem::create_directories(folder);
    norvale::test::writeFile(folder + "/source.txt", {'x', '\n'});  // one file of a task is a task
    f.addSample();
    f.frame->selectBrand(norvale::ui::test::kSampleBrand);
    f.main().modes()->setCurrentRow(1);
    bool accepted = true;
    f.prompter.onDialog = [&](QDialog& dialog) {
      if (!qobject_cast<CNewTaskDlg*>(&dialog)) return false;
      accepted = ScriptedPrompter::pressOk(dialog);
      return accepted;
    };
    // No: the dialog stays, and nothing of the folder changes.
    f.prompter.confirmAnswer = false;
    f.frame->onNewTask();
    QVERIFY(f.waitIdle());
    QVERIFY(!accepted);
    QCOMPARE(f.prompter.questions.size(), std::size_t{1});
    QCOMPARE(f.prompter.questions.back().text, QStringLiteral("该目录已存在任务,是否覆盖?"));
    QVERIFY(!std::filesystem::exists(folder + "/Attr001.map"));
    QCOMPARE(norvale::test::readFile(folder + "/source.txt"), (std::vector<std::uint8_t>{'x', '\n'}));
    // Yes: the task is replaced by the new scan.
    f.prompter.confirmAnswer = true;
    f.frame->onNewTask();
    QVERIFY(f.waitIdle());
    QVERIFY(accepted);
    QCOMPARE(f.prompter.questions.size(), std::size_t{2});
    QCOMPARE(f.files()->strip()->field(2), QStringLiteral("解析完成"));
    QCOMPARE(f.frame->task().fileMap.size(), std::size_t{24});
  }

  void taskDialogTakesTheRecordersClock() {
    FrameFixture f;
    f.addSample();
    f.frame->selectBrand(norvale::ui::test::kSampleBrand);
    f.main().modes()->setCurrentRow(1);
    QString proposedZone, proposedCorrection;
    QStringList refusals;
    f.prompter.onDialog = [&](QDialog& dialog) {
      auto* task = qobject_cast<CNewTaskDlg*>(&dialog);
      if (!task) return false;
      proposedZone = task->zoneEdit()->text();
      proposedCorrection = task->correctionEdit()->text();
      task->zoneEdit()->setText(QStringLiteral("Nowhere/City"));
      ScriptedPrompter::pressOk(dialog);
      task->zoneEdit()->setText(QStringLiteral(" Asia/Tokyo "));
      task->correctionEdit()->setText(QStringLiteral("-"));
      ScriptedPrompter::pressOk(dialog);
      for (const auto& shown : f.prompter.messages) refusals << shown.caption + QLatin1Char('|') + shown.text;
      task->correctionEdit()->setText(QStringLiteral("-32400"));
      return ScriptedPrompter::pressOk(dialog);
    };
    f.frame->onNewTask();
    QVERIFY(f.waitIdle());
    QCOMPARE(proposedZone, QStringLiteral("Asia/Shanghai"));  // the workstation's (TZ of the suite)
    QCOMPARE(proposedCorrection, QStringLiteral("0"));
    QCOMPARE(refusals, (QStringList{QStringLiteral("错误|请正确填写录像机时区 【时区名称,例如 Asia/Shanghai】"),
                                    QStringLiteral("错误|请正确填写时钟校正 【加到录像机时钟上的秒数,例如 -3600】")}));
    const TaskContext& task = f.frame->task();
    QCOMPARE(QString::fromStdString(task.description().recorderZone), QStringLiteral("Asia/Tokyo"));
    QCOMPARE(task.description().clockCorrection, std::int64_t{-32400});
    // The grid shows the corrected times: 09:00 in Tokyo, nine hours slow.
    CChildFrame* files = f.files();
    QVERIFY(files);
    QTreeWidgetItem* firstDay = files->tree()->topLevelItem(0)->child(0)->child(0);
    files->tree()->setCurrentItem(firstDay);
    QVERIFY(f.waitIdle());
    auto* grid = files->grid()->grid();
    QVERIFY(grid->rowCount() > 0);
    QCOMPARE(grid->data(grid->index(0, FileGridModel::kStart), Qt::DisplayRole).toString(),
             QStringLiteral("2016年05月17日 00时00分00秒"));
  }

  void taskDialogTakesTheYearWindow() {
    FrameFixture f;
    f.addSample();
    f.frame->selectBrand(norvale::ui::test::kSampleBrand);
    f.main().modes()->setCurrentRow(1);
    QString proposed;
    QStringList refusals;
    f.prompter.onDialog = [&](QDialog& dialog) {
      auto* task = qobject_cast<CNewTaskDlg*>(&dialog);
      if (!task) return false;
      proposed = task->yearsEdit()->text();
      task->yearsEdit()->setText(QStringLiteral("2030-2000"));
      ScriptedPrompter::pressOk(dialog);
      for (const auto& shown : f.prompter.messages) refusals << shown.caption + QLatin1Char('|') + shown.text;
      task->yearsEdit()->setText(QStringLiteral("2000-2030"));
      return ScriptedPrompter::pressOk(dialog);
    };
    f.frame->onNewTask();
    QVERIFY(f.waitIdle());
    QCOMPARE(proposed, QString::fromStdString(norvale::YearWindow::forNewScan().text()));
    QCOMPARE(refusals, (QStringList{QStringLiteral("错误|请正确填写录像年份范围 【起始年份-结束年份,例如 2010-2027】")}));
    QCOMPARE(f.frame->task().description().years, (norvale::YearWindow{2000, 2030}));
    QVERIFY(f.frame->task().fileMap.size() > 0);
  }

  void browserDropsOneTrailingSeparator() {
    ScriptedPrompter prompter;
    QLineEdit edit(QStringLiteral("/keep"));
    prompter.folderAnswer = QString();
    browseFolderInto(nullptr, prompter, &edit);
    QCOMPARE(edit.text(), QStringLiteral("/keep"));
    prompter.folderAnswer = QStringLiteral("/cases/a/");
    browseFolderInto(nullptr, prompter, &edit);
    QCOMPARE(edit.text(), QStringLiteral("/cases/a"));
  }

  void scanFillsTreeAndGridFromTheFileMap() {
    FrameFixture f;
    f.startSampleScan();
    QVERIFY(f.waitIdle());
    CChildFrame* files = f.files();
    QVERIFY(files);
    QCOMPARE(files->strip()->field(2), QStringLiteral("解析完成"));
    QCOMPARE(files->strip()->field(0), QStringLiteral("[#0] [sample] [%1]").arg(f.image));
    QCOMPARE(f.frame->progressBar()->value(), 0);
    const TaskContext& task = f.frame->task();
    QVERIFY(!task.fileMap.empty());
    QCOMPARE(files->strip()->field(1),
             QStringLiteral("文件数量: %1  大小: %2").arg(task.fileMap.size()).arg(qs(sizeTextNarrow(task.status.foundBytes))));

    const auto channels = channelTree(task.fileMap);
    QCOMPARE(files->tree()->topLevelItemCount(), 1);
    QTreeWidgetItem* root = files->tree()->topLevelItem(0);
    QCOMPARE(root->text(0), QStringLiteral("监控录像文件目录"));
    QVERIFY(root->isExpanded());
    QCOMPARE(root->childCount(), 4);
    QCOMPARE(static_cast<std::size_t>(root->childCount()), channels.size());
    const TimeConvention convention = timeConventionFor(task.description().brand, task.description().parseMode);
    std::size_t listedFiles = 0;
    for (int c = 0; c < root->childCount(); ++c) {
      QTreeWidgetItem* channel = root->child(c);
      QCOMPARE(channel->text(0), QStringLiteral("通道%1").arg(c + 1));
      QCOMPARE(static_cast<std::size_t>(channel->childCount()), channels[c].days.size());
      for (int d = 0; d < channel->childCount(); ++d) {
        QCOMPARE(channel->child(d)->text(0), qs(channels[c].days[d].text));
        files->tree()->setCurrentItem(channel->child(d));
        QVERIFY(f.waitIdle());
        const auto expected = filesUnderKey(task.fileMap, channels[c].days[d].key);
        auto* grid = files->grid()->grid();
        QCOMPARE(static_cast<std::size_t>(grid->rowCount()), expected.size());
        for (int r = 0; r < grid->rowCount(); ++r) {
          const FileEntry& entry = expected[r].entry;
          auto cell = [&](int column) { return grid->data(grid->index(r, column), Qt::DisplayRole).toString(); };
          QCOMPARE(cell(FileGridModel::kChannel), QString::number(entry.channel));
          QCOMPARE(cell(FileGridModel::kSize), qs(sizeTextNarrow(entry.size)));
          QCOMPARE(cell(FileGridModel::kStart), qs(timeText(convention, entry.startTime)));
          QCOMPARE(cell(FileGridModel::kEnd), qs(timeText(convention, entry.endTime)));
          QCOMPARE(cell(FileGridModel::kCheck), QString::number(expected[r].position));
          QVERIFY(cell(FileGridModel::kStart).startsWith(QStringLiteral("2016年05月")));
        }
        listedFiles += expected.size();
      }
    }
    QCOMPARE(listedFiles, task.fileMap.size());

    // A channel node has children: selecting it leaves the grid alone.
    const int rows = files->grid()->grid()->rowCount();
    files->tree()->setCurrentItem(root->child(0));
    QVERIFY(!f.frame->busy());
    QCOMPARE(files->grid()->grid()->rowCount(), rows);
  }

  void newTaskWhileScanningIsRefusedWithTheBusyBox() {
    FrameFixture f;
    f.startSampleScan();
    QVERIFY(f.frame->busy());
    f.frame->onNewTask();
    f.frame->onLoadTask();
    f.frame->onAutoIdentify();
    QCOMPARE(f.messageTexts(), (QStringList{kBusy, kBusy, kBusy}));
    QVERIFY(f.waitIdle());
  }

  void treeSelectionWhileBusyOnlyLogsAWarning() {
    FrameFixture f;
    f.startSampleScan();
    QVERIFY(f.waitIdle());
    CChildFrame* files = f.files();
    QTreeWidgetItem* root = files->tree()->topLevelItem(0);
    files->tree()->setCurrentItem(root->child(0)->child(0));
    // The file-list worker now waits for this thread to take its rows.
    QVERIFY(f.frame->busy());
    files->tree()->setCurrentItem(root->child(1)->child(0));
    QCOMPARE(f.logLines().back(), QStringLiteral("警告|") + kBusy);
    f.frame->onReport();
    QCOMPARE(f.logLines().back(), QStringLiteral("警告|") + kBusy);
    QVERIFY(f.waitIdle());
    // The grid holds the files of the first selection.
    const auto expected = filesUnderKey(f.frame->task().fileMap, root->child(0)->child(0)->data(0, kFileMapKeyRole).toULongLong());
    QCOMPARE(static_cast<std::size_t>(files->grid()->grid()->rowCount()), expected.size());
  }

  void stopDuringAScanStillEndsWithATree() {
    FrameFixture f;
    f.startSampleScan();
    QVERIFY(f.frame->busy());
    f.frame->action(kCmdStop)->trigger();
    QVERIFY(f.waitIdle());
    QCOMPARE(f.files()->strip()->field(2), QStringLiteral("解析完成"));
    QVERIFY(f.frame->task().fileMap.size() <= 24u);
  }

  void loadTaskGivesTheSameTree() {
    FrameFixture f;
    f.startSampleScan();
    QVERIFY(f.waitIdle());
    const FileMap scanned = f.frame->task().fileMap;
    const QString folder = qs(f.frame->task().taskFolder);
    f.frame->onBack();
    QVERIFY(!f.files());
    QString shownFolder;
    f.prompter.onDialog = [&](QDialog& dialog) {
      auto* load = qobject_cast<CLoadDlg*>(&dialog);
      if (!load) return false;
      shownFolder = load->folderEdit()->text();
      return ScriptedPrompter::pressOk(dialog);
    };
    f.frame->onLoadTask();
    QCOMPARE(shownFolder, folder);
    QVERIFY(f.waitIdle());
    QCOMPARE(f.files()->strip()->field(2), QStringLiteral("加载任务完成"));
    QCOMPARE(f.frame->task().fileMap.size(), scanned.size());
    QVERIFY(std::equal(scanned.begin(), scanned.end(), f.frame->task().fileMap.begin()));
    QCOMPARE(f.files()->tree()->topLevelItem(0)->childCount(), 4);
  }

  void loadingAStoppedTaskOffersToContinueIt() {
    FrameFixture f;
    constexpr std::size_t kSampleFiles = 24;
    // A scan slowed at each step, stopped once it walks: the stop lands mid-scan.
    struct SlowSteps final : TaskProbe {
      std::atomic<bool> walking{false};
      void reached(ScanMoment moment) override {
        if (moment != ScanMoment::Progress) return;
        walking = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    } slow;
    f.frame->task().probe = &slow;
    f.startSampleScan();
    QTRY_VERIFY_WITH_TIMEOUT(slow.walking.load(), 20000);
    f.frame->action(kCmdStop)->trigger();
    QVERIFY(f.waitIdle());
    f.frame->task().probe = nullptr;
    if (f.frame->task().fileMap.size() == kSampleFiles) QSKIP("the scan finished before the stop");
    const QString folder = qs(f.frame->task().taskFolder);
    f.frame->onBack();
    f.prompter.onDialog = [&](QDialog& dialog) {
      auto* load = qobject_cast<CLoadDlg*>(&dialog);
      if (!load) return false;
      load->folderEdit()->setText(folder);
      return ScriptedPrompter::pressOk(dialog);
    };
    // No: the stopped task is loaded as it is, and is still unfinished.
    f.prompter.confirmAnswer = false;
    f.frame->onLoadTask();
    QVERIFY(f.waitIdle());
    QCOMPARE(f.prompter.questions.size(), std::size_t{1});
    QCOMPARE(f.prompter.questions.back().text, QStringLiteral("该任务尚未解析完成,是否从断点继续解析?"));
    QVERIFY(f.frame->task().fileMap.size() < kSampleFiles);
    // Yes: the scan goes on from its checkpoint and ends as the whole scan did.
    f.frame->onBack();
    f.prompter.confirmAnswer = true;
    f.frame->onLoadTask();
    QVERIFY(f.waitIdle());
    QCOMPARE(f.prompter.questions.size(), std::size_t{2});
    QCOMPARE(f.frame->task().fileMap.size(), kSampleFiles);
    QCOMPARE(f.files()->strip()->field(2), QStringLiteral("解析完成"));
    // Finished now: loading it again asks nothing.
    f.frame->onBack();
    f.frame->onLoadTask();
    QVERIFY(f.waitIdle());
    QCOMPARE(f.prompter.questions.size(), std::size_t{2});
  }

  void loadTaskNeedsADevice() {
    FrameFixture f;
    f.frame->onLoadTask();
    QCOMPARE(f.messageTexts(), QStringList{QStringLiteral("请在设备列表中选择存储设备")});
  }

  void loadingAFolderWithoutTaskLogsBothMessages() {
    FrameFixture f;
    f.addSample();
    f.prompter.onDialog = [&](QDialog& dialog) {
      auto* load = qobject_cast<CLoadDlg*>(&dialog);
      if (!load) return false;
      load->folderEdit()->setText(qs(f.dir.str()));
      return ScriptedPrompter::pressOk(dialog);
    };
    f.frame->onLoadTask();
    QVERIFY(!f.frame->busy());
    QCOMPARE(f.logLines(), (QStringList{QStringLiteral("信息|访问任务路径失败,请确认是否是原始任务路径"),
                                        QStringLiteral("错误|请选择正确的任务路径")}));
  }

  void loadDialogStaysOpenWithoutAFolder() {
    ScriptedPrompter prompter;
    CLoadDlg dialog(prompter, QString());
    QVERIFY(!ScriptedPrompter::pressOk(dialog));
    dialog.folderEdit()->setText(QStringLiteral("/cases/x"));
    QVERIFY(ScriptedPrompter::pressOk(dialog));
    QCOMPARE(dialog.folder(), QStringLiteral("/cases/x"));
  }

  void settingsRefuseAnEmptyRootAndCreateTheFolder() {
    FrameFixture f;
    QString root = qs(f.dir.file("elsewhere/root"));
    f.prompter.onDialog = [&](QDialog& dialog) {
      auto* settings = qobject_cast<CSettingDlg*>(&dialog);
      if (!settings) return false;
      settings->rootEdit()->clear();
      ScriptedPrompter::pressOk(dialog);
      settings->rootEdit()->setText(root);
      return ScriptedPrompter::pressOk(dialog);
    };
    f.frame->onSettings();
    QCOMPARE(f.prompter.messages.size(), 1u);
    QCOMPARE(f.prompter.messages[0].text, QStringLiteral("请正确设置任务路径"));
    QCOMPARE(f.prompter.messages[0].caption, QStringLiteral("错误"));
    QCOMPARE(qs(f.frame->settings().taskRoot), root);
    QVERIFY(std::filesystem::is_directory(u8(root)));
  }

  void taskInformationShowsTheTask() {
    FrameFixture f;
    f.startSampleScan();
    QVERIFY(f.waitIdle());
    QString device, brand, mode, end, state, reached;
    f.prompter.onDialog = [&](QDialog& dialog) {
      auto* info = qobject_cast<CTaskInfoDlg*>(&dialog);
      if (!info) return false;
      state = info->field(QStringLiteral("扫描状态："));
      reached = info->field(QStringLiteral("扫描位置："));
      device = info->field(QStringLiteral("设备名称："));
      brand = info->field(QStringLiteral("监控类型："));
      mode = info->field(QStringLiteral("解析方式："));
      end = info->field(QStringLiteral("结束位置："));
      return true;
    };
    f.frame->onTaskInfo();
    QCOMPARE(device, f.image);
    QCOMPARE(brand, QStringLiteral("[18]  中视安防监控录像系统"));
    QCOMPARE(mode, QStringLiteral("[1] 深度解析(速度慢)"));
    const auto size = std::filesystem::file_size(f.dir.file("sample.img"));
    QCOMPARE(end, QString::number((size + 511) / 512));
    QCOMPARE(state, QStringLiteral("扫描已完成"));
    QCOMPARE(reached, QString::number((size + 511) / 512));
  }

  void exportWritesTheCheckedFilesAndSkipsThemTheSecondTime() {
    FrameFixture f;
    f.startSampleScan();
    QVERIFY(f.waitIdle());
    CChildFrame* files = f.files();
    files->tree()->setCurrentItem(firstDay(files));
    QVERIFY(f.waitIdle());
    auto* grid = files->grid()->grid();
    QVERIFY(grid->rowCount() >= 2);
    grid->setData(grid->index(1, 0), Qt::Checked, Qt::CheckStateRole);
    const QString out = qs(f.dir.file("out"));
    bool overwrite = false;
    f.prompter.onDialog = [&](QDialog& dialog) {
      auto* exportDialog = qobject_cast<CExportDlg*>(&dialog);
      if (!exportDialog) return false;
      exportDialog->folderEdit()->setText(out);
      exportDialog->overwriteButton()->setChecked(overwrite);
      return ScriptedPrompter::pressOk(dialog);
    };
    f.frame->onExportChecked();
    QVERIFY(f.waitIdle());
    const auto paths = exportRelativePaths(f.frame->task());
    const std::uint64_t position = grid->rows()[1].position;
    const std::string written = u8(out) + "/" + paths[position];
    QVERIFY2(std::filesystem::exists(written), written.c_str());
    QCOMPARE(std::filesystem::file_size(written), grid->rows()[1].entry.size);
    // Every file written is listed in the folder's SHA256SUMS and report.dfxml, not counted here.
    auto exported = [&] {
      std::size_t n = 0;
      for (auto& e : std::filesystem::recursive_directory_iterator(u8(out)))
        n += e.is_regular_file() && e.path().filename() != "SHA256SUMS" && e.path().filename() != "report.dfxml";
      return n;
    };
    std::size_t count = exported();
    QCOMPARE(count, 1u);
    QVERIFY(std::filesystem::exists(u8(out) + "/SHA256SUMS"));
    QCOMPARE(files->strip()->field(2).left(13), QStringLiteral("数量: 1 / 1  大小"));

    // Skip: the file is left as it is.
    std::filesystem::resize_file(written, 5);
    f.frame->onExportChecked();
    QVERIFY(f.waitIdle());
    QCOMPARE(std::filesystem::file_size(written), 5u);
    // Overwrite: written again.
    overwrite = true;
    f.frame->onExportChecked();
    QVERIFY(f.waitIdle());
    QCOMPARE(std::filesystem::file_size(written), grid->rows()[1].entry.size);

    // "文件导出" takes every row of the grid.
    f.frame->onExport();
    QVERIFY(f.waitIdle());
    count = exported();
    QCOMPARE(count, static_cast<std::size_t>(grid->rowCount()));
  }
};

QTEST_MAIN(WizardTest)
#include "wizard_test.moc"
