#include "ui/main_frame.h"

#include <QCoreApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <algorithm>
#include <cmath>
#include <atomic>
#include <filesystem>
#include <thread>

#include "convert/clip_writer.h"
#include "convert/converter.h"
#include "convert/thumbnail.h"
#include "export/exporter.h"
#include "parsers/brand_table.h"
#include "report/desktop_open.h"
#include "report/log_report.h"
#include "task/identification.h"
#include "task/command_worker.h"
#include "task/result_listing.h"
#include "task/task_runner.h"
#include "ui/child_frame.h"
#include "ui/device_sources.h"
#include "ui/dialogs.h"
#include "ui/prompter.h"
#include "ui/toolbar_icons.h"
#include "ui/ui_text.h"
#include "ui/thumbnails.h"
#include "ui/timeline_view.h"
#include "ui/views.h"

namespace norvale::ui {
namespace {
std::atomic<bool> g_workerAbandoned{false};

const QString kWarning = QStringLiteral("警告");
const QString kInfo = QStringLiteral("信息");
const QString kError = QStringLiteral("错误");

struct CommandText {
  CommandId id;
  const char* text;
};
// Toolbar order.
constexpr CommandText kToolbar[] = {
    {kCmdLoadImage, "加载镜像"}, {kCmdRefresh, "刷新设备"},  {kCmdNewTask, "新建任务"},    {kCmdLoadTask, "加载任务"},
    {kCmdTaskInfo, "任务信息"},  {kCmdAutoIdentify, "自动识别"}, {kCmdExport, "文件导出"}, {kCmdReport, "日志报表"},
    {kCmdStop, "任务停止"},      {kCmdSettings, "参数设置"}, {kCmdAbout, "关于软件"},      {kCmdExit, "软件退出"},
    {kCmdBack, "后退"},
};
constexpr CommandText kOther[] = {
    {kCmdMainWindow, "主窗口"}, {kCmdFileWindow, "文件窗口"}, {kCmdPreview, "视频预览"}, {kCmdConvert, "视频转化"}};
constexpr CommandId kDeviceGroup[] = {kCmdLoadImage, kCmdRefresh, kCmdNewTask, kCmdLoadTask, kCmdAutoIdentify, kCmdExit};
constexpr CommandId kTaskGroup[] = {kCmdTaskInfo, kCmdExport, kCmdReport, kCmdBack, kCmdStop};
constexpr int kButtonWidth = 65, kButtonHeight = 55;
}  // namespace

QRect CMainFrame::placement(const QRect& workArea) {
  const int cx = workArea.width(), cy = workArea.height();
  return {workArea.left() + cx / 20, workArea.top() + cy / 20, cx - 2 * (cx / 20), cy - 2 * (cy / 20)};
}

bool CMainFrame::workerAbandoned() { return g_workerAbandoned.load(); }

CMainFrame::CMainFrame(QWidget* parent)
    : QMainWindow(parent),
      m_state(std::make_shared<CoreState>(this)),
      m_worker(new CommandWorker),
      m_ownPrompter(std::make_unique<WidgetPrompter>()),
      m_prompter(m_ownPrompter.get()),
      m_openReport(openWithDesktop) {
  setWindowTitle(QStringLiteral("Norvale"));
  // The maker's thread keeps the state alive as a worker does.
  m_thumbnails = new ThumbnailMaker(
      [state = m_state](std::uint64_t position) {
        // Nothing else runs: a stop still raised was meant for a command that has ended.
        state->task.clearStop();
        return convert::thumbnailFor(state->task, position);
      },
      [this] { return !m_worker->busy() && !m_heldCommand; }, this);
  connect(m_thumbnails, &ThumbnailMaker::released, this, [this] {
    if (!m_heldCommand) return;
    auto command = std::move(m_heldCommand);
    m_heldCommand = nullptr;
    m_worker->start(std::move(command));
  });
  createActions();
  createToolBar();
  createMenus();

  m_progress = new QProgressBar(this);
  m_progress->setObjectName(QStringLiteral("progress"));
  m_progress->setTextVisible(false);
  m_progress->setRange(0, 100);
  m_progress->setValue(0);
  statusBar()->addPermanentWidget(m_progress, 1);

  m_mdi = new QMdiArea(this);
  m_mdi->setViewMode(QMdiArea::TabbedView);
  m_mdi->setDocumentMode(true);
  m_mdi->setTabsClosable(false);
  setCentralWidget(m_mdi);
  connect(m_mdi, &QMdiArea::subWindowActivated, this, &CMainFrame::onChildActivated);

  makeFolder(settings().taskRoot);

  auto* child = new CChildFrame(CChildFrame::kMainWindow, this);
  m_mainChild = m_mdi->addSubWindow(child);
  child->show();
  m_mainChild->showMaximized();
  m_mdi->setActiveSubWindow(m_mainChild);
  switchMenus(1);
  m_actions[kCmdMainWindow]->setEnabled(true);
  m_actions[kCmdFileWindow]->setEnabled(false);

  if (QScreen* screen = QGuiApplication::primaryScreen()) setGeometry(placement(screen->availableGeometry()));
}

CMainFrame::~CMainFrame() {
  shutDown();
  if (!m_worker->busy()) delete m_worker;  // joins a body that has just ended
}

void CMainFrame::shutDown() {
  if (m_closing) return;
  m_closing = true;
  m_state->observer.detach();
  if (m_worker->busy()) {
    // The worker keeps the state alive; it sees the stop flag at its next block.
    task().requestStop();
    m_worker->abandon();
    g_workerAbandoned.store(true);
  } else {
    m_heldCommand = nullptr;
    closeTask();
  }
}

void CMainFrame::closeTask() {
  m_thumbnails->reset();
  task().teardown();
}

void CMainFrame::setPrompter(Prompter* prompter) { m_prompter = prompter ? prompter : m_ownPrompter.get(); }

bool CMainFrame::busy() const { return m_worker->busy() || m_heldCommand; }

CChildFrame* CMainFrame::mainChild() const {
  return m_mainChild ? qobject_cast<CChildFrame*>(m_mainChild->widget()) : nullptr;
}

CChildFrame* CMainFrame::fileChild() const {
  return m_fileChild ? qobject_cast<CChildFrame*>(m_fileChild->widget()) : nullptr;
}

// ---- menus and toolbar ----

void CMainFrame::createActions() {
  using Slot = void (CMainFrame::*)();
  const std::map<int, Slot> handlers = {
      {kCmdLoadImage, &CMainFrame::onLoadImage},   {kCmdRefresh, &CMainFrame::onRefreshDevices},
      {kCmdNewTask, &CMainFrame::onNewTask},       {kCmdLoadTask, &CMainFrame::onLoadTask},
      {kCmdTaskInfo, &CMainFrame::onTaskInfo},     {kCmdAutoIdentify, &CMainFrame::onAutoIdentify},
      {kCmdExport, &CMainFrame::onExport},         {kCmdReport, &CMainFrame::onReport},
      {kCmdStop, &CMainFrame::onStop},             {kCmdSettings, &CMainFrame::onSettings},
      {kCmdAbout, &CMainFrame::onAbout},           {kCmdExit, nullptr},
      {kCmdBack, &CMainFrame::onBack},             {kCmdMainWindow, &CMainFrame::onShowMainWindow},
      {kCmdFileWindow, &CMainFrame::onShowFileWindow}, {kCmdPreview, &CMainFrame::onPreview},
      {kCmdConvert, &CMainFrame::onConvert},
  };
  auto make = [&](const CommandText& command) {
    auto* action = new QAction(commandIcon(command.id), qs(command.text), this);
    action->setObjectName(QStringLiteral("cmd%1").arg(command.id));
    action->setStatusTip(qs(command.text));
    if (command.id == kCmdExit)
      connect(action, &QAction::triggered, this, &QWidget::close);
    else
      connect(action, &QAction::triggered, this, handlers.at(command.id));
    m_actions[command.id] = action;
  };
  for (const auto& command : kToolbar) make(command);
  for (const auto& command : kOther) make(command);
}

void CMainFrame::createToolBar() {
  m_toolbar = addToolBar(QStringLiteral("Toolbar"));
  m_toolbar->setObjectName(QStringLiteral("toolbar"));
  m_toolbar->setIconSize({32, 32});
  m_toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  m_toolbar->setMovable(true);
  for (const auto& command : kToolbar) {
    QAction* action = m_actions[command.id];
    m_toolbar->addAction(action);
    if (QWidget* button = m_toolbar->widgetForAction(action)) button->setFixedSize(kButtonWidth, kButtonHeight);
  }
}

void CMainFrame::createMenus() {
  const char* titles[6] = {"文件", "任务", "功能", "设置", "窗口", "关于"};
  for (int i = 0; i < 6; ++i) m_menus[i] = menuBar()->addMenu(qs(titles[i]));
  m_menus[3]->addAction(m_actions[kCmdSettings]);
  m_menus[4]->addAction(m_actions[kCmdMainWindow]);
  m_menus[4]->addAction(m_actions[kCmdFileWindow]);
  m_menus[5]->addAction(m_actions[kCmdAbout]);
}

void CMainFrame::switchMenus(int mode) {
  m_menuMode = mode;
  for (int i = 0; i < 3; ++i) m_menus[i]->clear();
  const bool deviceMode = mode == 1;
  if (deviceMode) {
    m_menus[0]->addActions({m_actions[kCmdLoadImage], m_actions[kCmdRefresh], m_actions[kCmdExit]});
    m_menus[1]->addActions({m_actions[kCmdNewTask], m_actions[kCmdLoadTask]});
    m_menus[2]->addAction(m_actions[kCmdAutoIdentify]);
  } else {
    m_menus[0]->addActions({m_actions[kCmdExport], m_actions[kCmdBack]});
    m_menus[1]->addActions({m_actions[kCmdTaskInfo], m_actions[kCmdStop]});
    m_menus[2]->addActions({m_actions[kCmdReport], m_actions[kCmdPreview], m_actions[kCmdConvert]});
  }
  for (CommandId id : kDeviceGroup) m_actions[id]->setVisible(deviceMode);
  for (CommandId id : kTaskGroup) m_actions[id]->setVisible(!deviceMode);
}

void CMainFrame::onChildActivated(QMdiSubWindow* window) {
  if (!window) return;
  if (window == m_mainChild) {
    m_windowFlag = 0;
    switchMenus(1);
  } else if (window == m_fileChild) {
    m_windowFlag = 1;
    switchMenus(2);
  }
}

CChildFrame* CMainFrame::ensureFileWindow() {
  m_windowFlag = 1;
  if (!m_fileChild) {
    auto* child = new CChildFrame(CChildFrame::kFileWindow, this);
    connect(child->timeline(), &TimelineView::fileClicked, this, [this](quint64 p) { showFileInGrid(p); });
    connect(child->timeline(), &TimelineView::exportWindowRequested, this,
            [this](qint64 from, qint64 to) { exportWindow(from, to); });
    m_fileChild = m_mdi->addSubWindow(child);
    m_fileChild->setAttribute(Qt::WA_DeleteOnClose);
    child->show();
    m_fileChild->showMaximized();
    m_actions[kCmdFileWindow]->setEnabled(true);
  }
  m_mdi->setActiveSubWindow(m_fileChild);
  onChildActivated(m_fileChild);
  return fileChild();
}

void CMainFrame::destroyFileWindow() {
  if (QMdiSubWindow* window = m_fileChild) {
    m_fileChild = nullptr;
    m_mdi->removeSubWindow(window);
    delete window;
  }
  m_actions[kCmdFileWindow]->setEnabled(false);
  m_windowFlag = 0;
  if (m_mainChild) m_mdi->setActiveSubWindow(m_mainChild);
  onChildActivated(m_mainChild);
}

void CMainFrame::clearTaskViews() {
  if (CChildFrame* files = fileChild()) {
    files->tree()->clear();
    files->timeline()->clear();
    files->grid()->grid()->clear();
    files->grid()->grid()->clearHashes();
    files->strip()->clear();
  }
}

void CMainFrame::setStatusField(int field, const QString& text) {
  if (CChildFrame* files = fileChild()) files->strip()->setField(field, text);
}

// ---- workers and the notification ----

bool CMainFrame::startWorker(std::function<Continuation(CoreState&)> body) {
  auto state = m_state;
  // A stop applies to the work running when it is pressed, not to the next command.
  if (!busy()) state->task.clearStop();
  auto command = [state, body = std::move(body)] {
    Continuation next = body(*state);
    state->observer.flush();
    state->observer.runOnUi([&next](CMainFrame& frame) {
      if (next) next(frame);
      emit frame.workerFinished();
    });
  };
  // A thumbnail reads the task's source and store: the command waits for it, not the user.
  if (m_thumbnails->running()) {
    if (m_heldCommand || m_worker->busy()) return false;
    m_heldCommand = std::move(command);
    return true;
  }
  return m_worker->start(std::move(command));
}

void CMainFrame::onTaskStatus(const TaskStatus& status) {
  if (status.code == StatusCode::ScanStart) m_presenter.setScanRange(task().description().startOffset, task().description().length);
  if (status.code == StatusCode::ExportStart)
    m_presenter.setExportTotals(task().exportRecord.totalBytes, task().exportRecord.totalItems);
  const StatusView view = m_presenter.present(status, monotonicSeconds());
  if (view.logMessage) logLine(kInfo, qs(*view.logMessage));
  auto clampToInt = [](std::int64_t v) { return static_cast<int>(std::clamp<std::int64_t>(v, 0, INT32_MAX)); };
  if (view.progressRange) m_progress->setRange(0, std::max(1, clampToInt(*view.progressRange)));
  if (view.progressPosition) m_progress->setValue(std::min(clampToInt(*view.progressPosition), m_progress->maximum()));
  if (view.countText) setStatusField(1, qs(*view.countText));
  if (view.speedText) setStatusField(2, qs(*view.speedText));
}

void CMainFrame::logLine(const QString& kind, const QString& text) {
  CChildFrame* files = fileChild();
  if (!files) {
    m_prompter->message(this, text, QString());
    return;
  }
  files->log()->addLine(kind, qs(logTimeText()), text);
}

// ---- device list ----

void CMainFrame::startDeviceScan(std::function<void()> done) {
  if (CChildFrame* main = mainChild()) main->devices()->clear();
  const bool started = startWorker([done](CoreState&) -> Continuation {
    std::vector<DeviceRecord> devices = enumerateSources();
    std::vector<QString> brands;
    for (const DeviceRecord& device : devices) brands.push_back(signatureBrandText(device));
    return [devices = std::move(devices), brands = std::move(brands), done](CMainFrame& frame) mutable {
      frame.installDevices(std::move(devices), std::move(brands));
      if (done) done();
    };
  });
  if (!started && done) done();
}

void CMainFrame::installDevices(std::vector<DeviceRecord> devices, std::vector<QString> brands) {
  auto& state = *m_state;
  for (auto& old : state.devices) state.retired.push_back(std::move(old));
  state.devices.clear();
  for (auto& device : devices) state.devices.push_back(std::make_unique<DeviceRecord>(std::move(device)));
  m_deviceBrands = std::move(brands);
  refillDeviceList();
}

void CMainFrame::refillDeviceList() {
  CChildFrame* main = mainChild();
  if (!main) return;
  std::vector<const DeviceRecord*> devices;
  for (const auto& device : m_state->devices) devices.push_back(device.get());
  m_deviceBrands.resize(devices.size());
  main->devices()->fill(devices, m_deviceBrands);
}

void CMainFrame::addImageFiles(const QStringList& paths) {
  bool added = false;
  for (const QString& path : paths) {
    auto record = openImageSource(u8(path), static_cast<int>(m_state->devices.size()));
    if (!record) continue;
    m_deviceBrands.resize(m_state->devices.size());
    m_deviceBrands.push_back(signatureBrandText(*record));
    m_state->devices.push_back(std::make_unique<DeviceRecord>(std::move(*record)));
    added = true;
  }
  if (added) refillDeviceList();
}

DeviceSelection CMainFrame::deviceSelection() const {
  CChildFrame* main = mainChild();
  const QTreeWidgetItem* item = main ? main->devices()->currentItem() : nullptr;
  if (!item) return {};
  const int index = item->data(kColDevice, kDeviceIndexRole).toInt();
  const int partition = item->data(kColDevice, kPartitionIndexRole).toInt();
  if (index < 0 || static_cast<std::size_t>(index) >= m_state->devices.size()) return {};
  const DeviceRecord& device = *m_state->devices[static_cast<std::size_t>(index)];
  if (partition < 0) return wholeDeviceSelection(device);
  if (static_cast<std::size_t>(partition) >= device.partitions.size()) return {};
  return partitionSelection(device, device.partitions[static_cast<std::size_t>(partition)]);
}

void CMainFrame::selectBrand(int brand) {
  CChildFrame* main = mainChild();
  if (!main || brand < 0 || brand >= main->brands()->count()) return;
  main->brands()->setCurrentRow(brand);
  main->brands()->scrollToItem(main->brands()->item(brand));
  main->brands()->viewport()->update();
}

// ---- commands ----

void CMainFrame::onLoadImage() { addImageFiles(m_prompter->chooseImages(this)); }

void CMainFrame::onRefreshDevices() {
  // The list is rebuilt on the worker; a running task keeps the records it names.
  if (busy()) {
    m_prompter->message(this, qs(kBusyMessage), QString());
    return;
  }
  startDeviceScan();
}

bool CMainFrame::runIdentification(const DeviceSelection& selection, int& brand) {
  CAutoVideoDlg dialog([this] { task().requestStop(); }, this);
  QPointer<CAutoVideoDlg> shown(&dialog);
  dialog.setRunning(true);
  const bool started = startWorker([selection, shown](CoreState& state) -> Continuation {
    auto found = identifyBrands(state.task, state.observer, *selection.device, selection.startSector, selection.sectorCount,
                                YearWindow::forNewScan());
    std::vector<BrandHits> result = found ? std::move(*found) : std::vector<BrandHits>{};
    return [shown, result](CMainFrame&) {
      if (shown) shown->showCandidates(result);
    };
  });
  if (!started) dialog.showCandidates({});
  if (!m_prompter->runDialog(dialog)) return false;
  brand = dialog.brand();
  return true;
}

void CMainFrame::onNewTask() {
  if (busy()) {
    m_prompter->message(this, qs(kBusyMessage), QString());
    return;
  }
  if (fileChild()) {
    closeTask();
    clearTaskViews();
    m_windowFlag = 1;
    m_mdi->setActiveSubWindow(m_fileChild);
  }
  const DeviceSelection selection = deviceSelection();
  if (!deviceSelected(selection)) {
    m_prompter->message(this, qs(kWizardDeviceMessage), QString());
    return;
  }
  CChildFrame* main = mainChild();
  int brand = main->brands()->selectedNumber();
  if (brand <= 0) {
    if (!runIdentification(selection, brand) || brand <= 0) {
      m_prompter->message(this, qs(kWizardBrandMessage), QString());
      return;
    }
    selectBrand(brand);
  }
  const int mode = main->modes()->selectedNumber();
  if (mode < 0) {
    m_prompter->message(this, qs(kWizardModeMessage), QString());
    return;
  }
  TaskHead head;
  head.device = selection.device;
  head.description.brand = static_cast<std::uint8_t>(brand);
  head.description.parseMode = static_cast<std::uint8_t>(mode);
  head.description.years = YearWindow::forNewScan();
  CNewTaskDlg dialog(*m_prompter, head, selection.startSector, selection.sectorCount,
                     qs(proposeTaskFolder(settings().taskRoot, *selection.device)), this);
  if (!m_prompter->runDialog(dialog)) return;
  startTask(dialog.head(), true);
}

void CMainFrame::startTask(const TaskHead& chosen, bool scan, bool resume) {
  CChildFrame* files = ensureFileWindow();
  if (chosen.device) files->strip()->setField(0, qs(deviceSourceText(*chosen.device)));
  TaskHead head = chosen;
  head.scan.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));  // the scan uses every core
  task().describe(head);
  m_presenter.setScanRange(head.description.startOffset, head.description.length);
  const bool started = startWorker([scan, resume](CoreState& state) -> Continuation {
    TaskContext& task = state.task;
    // What the status strip says: nothing for a failed scan or load (the log names it); a scan
    // that completed or was stopped (the log says so) has ended its work.
    const char* done = nullptr;
    if (scan) {
      if (!resume)
        if (auto unsupported = unsupportedBrandMessage(task.description().brand)) task.postMessage(state.observer, *unsupported);
      const Result<ScanEnd> ended = resume ? runResumedTask(task, state.observer) : runNewTask(task, state.observer);
      if (ended) done = kScanDoneText;
    } else if (loadTask(task, state.observer)) {
      done = kLoadDoneText;
    }
    auto tree = channelTree(task.fileMap);
    auto timeline = std::make_shared<TimelineData>(timelineOf(task.fileMap, task.timeConvention()));
    return [done, tree = std::move(tree), timeline](CMainFrame& frame) {
      if (CChildFrame* files = frame.fileChild()) {
        files->tree()->rebuild(tree);
        files->timeline()->setData(std::move(*timeline));
        // A task that failed says so in the log; it is not reported as complete.
        if (done) files->strip()->setField(2, qs(done));
      }
      frame.m_progress->setValue(0);
    };
  });
  // The worker of a dialog opened just before may not have let go yet.
  if (!started) m_prompter->message(this, qs(kBusyMessage), QString());
}

void CMainFrame::onLoadTask() {
  if (busy()) {
    m_prompter->message(this, qs(kBusyMessage), QString());
    return;
  }
  const DeviceSelection selection = deviceSelection();
  if (!deviceSelected(selection)) {
    m_prompter->message(this, qs(kSelectDeviceMessage), QString());
    return;
  }
  CLoadDlg dialog(*m_prompter, qs(task().taskFolder), this);
  if (!m_prompter->runDialog(dialog)) return;
  if (fileChild()) {
    closeTask();
    clearTaskViews();
  }
  CChildFrame* files = ensureFileWindow();
  files->strip()->setField(0, qs(deviceSourceText(*selection.device)));
  auto head = loadHead(task(), m_state->observer, u8(dialog.folder()), selection.device);
  if (!head) {
    logLine(kError, qs(kLoadFolderMessage));
    return;
  }
  // An unfinished scan with a checkpoint may go on where it stopped.
  const bool resume = head->checkpoint && m_prompter->confirm(this, qs(kResumeQuestion), QString());
  startTask(*head, resume, resume);
}

void CMainFrame::onTaskInfo() {
  CTaskInfoDlg dialog(task(), this);
  m_prompter->runDialog(dialog);
}

void CMainFrame::onAutoIdentify() {
  if (busy()) {
    m_prompter->message(this, qs(kBusyMessage), QString());
    return;
  }
  if (!deviceSelected(deviceSelection())) {
    m_prompter->message(this, qs(kSelectDeviceMessage), QString());
    return;
  }
  int brand = 0;
  if (runIdentification(deviceSelection(), brand)) selectBrand(brand);
}

void CMainFrame::listFiles(std::uint64_t key, std::optional<std::uint64_t> select) {
  if (busy()) {
    logLine(kWarning, qs(kBusyMessage));
    return;
  }
  CChildFrame* files = fileChild();
  if (!files) return;
  files->grid()->grid()->clear();
  startWorker([key, select](CoreState& state) -> Continuation {
    auto rows = std::make_shared<std::vector<FileRow>>(filesUnderKey(state.task.fileMap, key));
    const TimeConvention convention = state.task.timeConvention();
    return [rows, convention, select](CMainFrame& frame) {
      CChildFrame* files = frame.fileChild();
      if (!files) return;
      files->grid()->grid()->setRows(std::move(*rows), convention);
      if (!select) return;
      const auto& listed = files->grid()->grid()->rows();
      for (std::size_t i = 0; i < listed.size(); ++i)
        if (listed[i].position == *select) {
          files->grid()->selectRow(static_cast<int>(i));
          files->grid()->scrollTo(files->grid()->model()->index(static_cast<int>(i), 0));
        }
    };
  });
}

void CMainFrame::showFileInGrid(std::uint64_t position) {
  if (position >= task().fileMap.size()) return;
  const auto it = std::next(task().fileMap.begin(), static_cast<std::ptrdiff_t>(position));
  listFiles(it->first, position);
}

bool CMainFrame::askOutputFolder(QString& folder, bool& overwrite, const QString& title) {
  CExportDlg dialog(*m_prompter, folder.isEmpty() ? qs(task().exportRecord.folder) : folder, overwrite, this, title);
  if (!m_prompter->runDialog(dialog)) return false;
  folder = dialog.folder();
  overwrite = dialog.overwrite();
  return true;
}

void CMainFrame::exportWindow(std::int64_t from, std::int64_t to) {
  if (busy()) {
    m_prompter->message(this, qs(kBusyMessage), QString());
    return;
  }
  if (!askOutputFolder(m_clipFolder, m_clipOverwrite, QStringLiteral("导出时段"))) return;
  const convert::ClipWriteOptions options{u8(m_clipFolder), m_clipOverwrite};
  startWorker([window = ClipSpan{from, to}, options](CoreState& state) -> Continuation {
    TaskContext& task = state.task;
    const std::string windowText = windowTimeText(window.from) + " — " + windowTimeText(window.to);
    auto plans = planClips(task.fileMap, task.timeConvention(), window, {});
    if (!plans) {
      task.postMessage(state.observer, plans.error().message);
      return {};
    }
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::u8path(options.folder), ec);
    auto written = ec ? Result<std::vector<convert::ClipWritten>>(fail(ErrorCode::WriteFailed, "无法创建文件夹 " +
                                                                                                 options.folder + ": " + ec.message()))
                      : convert::writeClips(task, state.observer, *plans, options);
    if (!written) {
      task.postMessage(state.observer, written.error().message);
      return {};
    }
    std::size_t withRecordings = 0, whole = 0;
    for (std::size_t i = 0; i < plans->size() && i < written->size(); ++i) {
      const ClipPlan& plan = (*plans)[i];
      const convert::ClipWritten& clip = (*written)[i];
      if (!plan.hasRecordings()) {
        task.postMessage(state.observer, "通道" + std::to_string(plan.channel) + " 在此时段没有录像");
        continue;
      }
      ++withRecordings;
      if (clip.written && clip.complete) ++whole;
      else task.postMessage(state.observer, "通道" + std::to_string(plan.channel) + (clip.written ? " 导出不完整: " : " 未能导出: ") +
                            clip.error);
    }
    task.postMessage(state.observer, "导出时段 " + windowText + " 完成: " + std::to_string(whole) + " / " +
                     std::to_string(withRecordings) + " 个有录像的通道 → " + options.folder);
    return {};
  });
}

void CMainFrame::onExport() {
  if (CChildFrame* files = fileChild()) exportPositions(files->grid()->grid()->positions(false));
}

void CMainFrame::onExportChecked() {
  if (CChildFrame* files = fileChild()) exportPositions(files->grid()->grid()->positions(true));
}

void CMainFrame::exportPositions(std::vector<std::uint64_t> positions) {
  if (busy()) {
    m_prompter->message(this, qs(kBusyMessage), QString());
    return;
  }
  if (positions.empty()) return;
  const QString folder = m_exportFolder.isEmpty() ? qs(task().exportRecord.folder) : m_exportFolder;
  CExportDlg dialog(*m_prompter, folder, m_exportOverwrite, this);
  if (!m_prompter->runDialog(dialog)) return;
  m_exportFolder = dialog.folder();
  m_exportOverwrite = dialog.overwrite();
  ExportOptions options{u8(dialog.folder()), dialog.overwrite(), u8(QCoreApplication::arguments().join(' '))};
  startWorker([positions = std::move(positions), options](CoreState& state) -> Continuation {
    TaskContext& task = state.task;
    auto exported = exportFiles(task, state.observer, positions, options);
    if (!exported) {
      task.postMessage(state.observer, exported.error().message);
      return {};
    }
    std::vector<std::pair<std::uint64_t, std::string>> hashes;
    for (const ExportedFile& file : *exported) {
      if (!file.complete) task.postMessage(state.observer, file.error + ": " + file.path);
      if (!file.sha256.empty()) hashes.emplace_back(file.index - 1, file.sha256);
    }
    return [hashes = std::move(hashes)](CMainFrame& frame) {
      if (CChildFrame* files = frame.fileChild())
        for (const auto& [position, sha] : hashes) files->grid()->grid()->setHash(position, qs(sha));
    };
  });
}

void CMainFrame::onPreview() {
  if (busy()) {
    m_prompter->message(this, qs(kBusyMessage), QString());
    return;
  }
  CChildFrame* files = fileChild();
  const auto position = files ? files->grid()->currentPosition() : std::nullopt;
  if (!position) {
    m_prompter->message(this, QStringLiteral("请在文件列表中选择要预览的文件"), QString());
    return;
  }
  startWorker([position = *position](CoreState& state) -> Continuation {
    TaskContext& task = state.task;
    auto summary = convert::summariseFile(task, position, true);
    PreviewInfo info;
    const TimeConvention convention = task.timeConvention();
    const auto entries = fileMapEntries(task);
    if (position < entries.size()) {
      const FileEntry& entry = entries[position].second;
      info.channel = entry.channel;
      info.start = qs(timeText(convention, entry.startTime));
      info.end = qs(timeText(convention, entry.endTime));
    }
    if (!summary) {
      info.problem = qs(summary.error().message);
    } else {
      info.codec = qs(summary->codec);
      info.frames = summary->frames;
      info.keyFrames = summary->keyFrames;
      info.streamRead = true;
      info.audio = qs(summary->audio);
      info.clockTrack = summary->clockTrack;
      if (summary->picture) {
        const auto& p = *summary->picture;
        info.picture = QImage(p.rgb.data(), p.width, p.height, p.width * 3, QImage::Format_RGB888).copy();
      } else {
        info.problem = qs(summary->pictureError);
      }
    }
    return [info = std::move(info)](CMainFrame& frame) {
      // Shown once the worker has let go, so the busy rule does not hold while it is open.
      QMetaObject::invokeMethod(
          &frame,
          [&frame, info] {
            CPreviewDlg dialog(info, &frame);
            frame.m_prompter->runDialog(dialog);
          },
          Qt::QueuedConnection);
    };
  });
}

void CMainFrame::onConvert() {
  if (busy()) {
    m_prompter->message(this, qs(kBusyMessage), QString());
    return;
  }
  CChildFrame* files = fileChild();
  std::vector<std::uint64_t> positions = files ? files->grid()->grid()->positions(true) : std::vector<std::uint64_t>{};
  if (positions.empty()) {
    m_prompter->message(this, QStringLiteral("请在文件列表中勾选要转化的文件"), QString());
    return;
  }
  if (!askOutputFolder(m_convertFolder, m_convertOverwrite, QStringLiteral("视频转化"))) return;
  convert::ConvertOptions options{u8(m_convertFolder), m_convertOverwrite};
  options.commandLine = u8(QCoreApplication::arguments().join(' '));
  startWorker([positions = std::move(positions), options](CoreState& state) -> Continuation {
    TaskContext& task = state.task;
    auto converted = convert::convertFiles(task, state.observer, positions, options);
    if (!converted) {
      task.postMessage(state.observer, converted.error().message);
      return {};
    }
    std::size_t whole = 0;
    bool described = false;
    for (const convert::ConvertedFile& file : *converted) {
      if (file.complete) ++whole;
      else task.postMessage(state.observer, (file.written ? "转化不完整: " : "未能转化: ") + file.error + ": " + file.path);
      // What a converted file holds, once: its pictures, the recorder's clock, its audio.
      if (file.written && !described) {
        described = true;
        std::string sound = "无";
        if (file.audioWritten)
          sound = "AAC " + std::to_string(std::lround(file.audioSeconds)) + " 秒" +
                  (file.audioEncoded ? " (由 " + file.audioFound + " 转码)" : " (原样复制)");
        else if (!file.audioFound.empty())
          sound = file.audioFound + " 未转入: " + file.audioError;
        task.postMessage(state.observer, file.path + ": " + std::to_string(file.frames) + " 帧, 时钟字幕 " + std::to_string(file.clockCues) +
                         " 秒 (录像机时间), 音频: " + sound + " (原始导出保留原始数据)");
      }
    }
    task.postMessage(state.observer, "视频转化完成: " + std::to_string(whole) + " / " + std::to_string(positions.size()) + " 个文件 → " +
                     options.folder);
    return {};
  });
}

void CMainFrame::onReport() {
  if (busy()) {
    logLine(kWarning, qs(kBusyMessage));
    return;
  }
  startWorker([open = m_openReport](CoreState& state) -> Continuation {
    auto written = writeLogReport(state.task, state.observer);
    if (written && open)
      if (auto opened = open(*written); !opened) state.task.postMessage(state.observer, opened.error().message);
    return {};
  });
}

void CMainFrame::onStop() { task().requestStop(); }

void CMainFrame::onSettings() {
  CSettingDlg dialog(*m_prompter, settings(), this);
  m_prompter->runDialog(dialog);
}

void CMainFrame::onAbout() {
  CAboutDlg dialog(this);
  m_prompter->runDialog(dialog);
}

void CMainFrame::onBack() {
  if (busy()) {
    logLine(kInfo, qs(kBusyMessage));
    return;
  }
  closeTask();
  destroyFileWindow();
}

void CMainFrame::onShowMainWindow() {
  if (m_mainChild) m_mdi->setActiveSubWindow(m_mainChild);
}

void CMainFrame::onShowFileWindow() {
  if (m_fileChild) m_mdi->setActiveSubWindow(m_fileChild);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (m_closing) {
    event->accept();
    return;
  }
  const QString question = busy() ? QStringLiteral("当前还有其他任务在执行,是否确定强制退出程序？")
                                  : QStringLiteral("是否确定退出程序？");
  if (!m_prompter->confirm(this, question, QStringLiteral("确认"))) {
    event->ignore();
    return;
  }
  shutDown();
  event->accept();
}

}  // namespace norvale::ui
