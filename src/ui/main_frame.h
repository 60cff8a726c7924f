#pragma once
// CMainFrame: the main window with its menus, toolbar, status bar and progress bar, the two
// child windows, every command, the workers and the task notification.
#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <map>
#include <optional>
#include <memory>
#include <vector>

#include "base/error.h"
#include "storage/device_record.h"
#include "task/status_text.h"
#include "task/task_context.h"
#include "task/task_workflow.h"
#include "ui/gui_observer.h"

class QAction;
class QMdiArea;
class QMdiSubWindow;
class QProgressBar;
class QToolBar;

namespace norvale {
class CommandWorker;
}

namespace norvale::ui {

class CChildFrame;
class Prompter;
class ThumbnailMaker;

// Command ids of the menus and the toolbar.
enum CommandId {
  kCmdLoadImage = 32791,
  kCmdExit = 32792,
  kCmdNewTask = 32793,
  kCmdLoadTask = 32794,
  kCmdAutoIdentify = 32795,
  kCmdMainWindow = 32796,
  kCmdFileWindow = 32797,
  kCmdAbout = 32798,
  kCmdSettings = 32799,
  kCmdRefresh = 32800,
  kCmdExport = 32801,
  kCmdPreview = 32802,
  kCmdConvert = 32803,
  kCmdReport = 32804,
  kCmdTaskInfo = 32805,
  kCmdBack = 32806,
  kCmdStop = 32807,
};

// What the program shares with its workers. A worker keeps it alive until it ends, so a
// forced exit never frees what a running worker still uses.
struct CoreState {
  explicit CoreState(class CMainFrame* frame) : observer(frame) {}
  TaskContext task;
  TaskSettings settings;  // the workstation's, which outlive the task in hand
  GuiObserver observer;
  std::vector<std::unique_ptr<DeviceRecord>> devices;
  // Devices refreshed out of the list; a task may still name one.
  std::vector<std::unique_ptr<DeviceRecord>> retired;
};

class CMainFrame final : public QMainWindow {
  Q_OBJECT
 public:
  explicit CMainFrame(QWidget* parent = nullptr);
  ~CMainFrame() override;

  // The frame's rectangle inside a work area: a twentieth of it left free on every side.
  static QRect placement(const QRect& workArea);
  // True once a frame let a running worker go on at exit (the process must not wait for it).
  static bool workerAbandoned();

  void setPrompter(Prompter* prompter);  // not owned; null restores the message boxes
  // How a written report is shown (the desktop's default handler unless replaced).
  using DocumentOpener = std::function<Result<void>(const std::string& path)>;
  void setReportOpener(DocumentOpener opener) { m_openReport = std::move(opener); }
  Prompter& prompter() const { return *m_prompter; }
  CoreState& state() const { return *m_state; }
  std::weak_ptr<CoreState> stateHandle() const { return m_state; }
  TaskContext& task() const { return m_state->task; }
  TaskSettings& settings() const { return m_state->settings; }
  // A command worker runs, or one is held back until the thumbnail being made is done.
  bool busy() const;
  ThumbnailMaker* thumbnails() const { return m_thumbnails; }
  int windowFlag() const { return m_windowFlag; }
  int menuMode() const { return m_menuMode; }
  QAction* action(CommandId id) const { return m_actions.at(id); }
  CChildFrame* mainChild() const;
  CChildFrame* fileChild() const;
  QProgressBar* progressBar() const { return m_progress; }
  QToolBar* toolBar() const { return m_toolbar; }

  // The start-up device scan on a worker; done runs on the interface thread after it.
  void startDeviceScan(std::function<void()> done = {});
  // Adds image files to the device list (those that cannot be opened are left out).
  void addImageFiles(const QStringList& paths);
  // The device list selection (device row: the whole device; partition row: its range).
  DeviceSelection deviceSelection() const;
  // Selects a brand in the brand list (the device list's "Type" column, the identification).
  void selectBrand(int brand);
  // Fills the file grid with the files of a day node on the file-list worker; the row of the
  // file at position select becomes the current one.
  void listFiles(std::uint64_t key, std::optional<std::uint64_t> select = std::nullopt);
  // Lists the day of the file at a file-map position and selects its row (a timeline click).
  void showFileInGrid(std::uint64_t position);
  // Writes the clips of a window of shown time (seconds, as the timeline gives them) for every
  // channel, as the clip command does: "导出时段".
  void exportWindow(std::int64_t from, std::int64_t to);
  // Appends a log line, or shows a message box while there is no file window.
  void logLine(const QString& kind, const QString& text);
  // The task notification, on the interface thread while the worker waits.
  void onTaskStatus(const TaskStatus& status);

 public slots:
  void onLoadImage();
  void onRefreshDevices();
  void onNewTask();
  void onLoadTask();
  void onTaskInfo();
  void onAutoIdentify();
  void onExport();
  void onExportChecked();
  void onReport();
  void onStop();
  void onSettings();
  void onAbout();
  void onBack();
  void onShowMainWindow();
  void onShowFileWindow();
  void onPreview();
  void onConvert();

 signals:
  // A worker's body has ended and its results are shown (the busy flag drops right after).
  void workerFinished();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // The output-folder dialog, proposing the folder last chosen for this command (else the
  // export's); false when cancelled. On OK both keep what was chosen.
  bool askOutputFolder(QString& folder, bool& overwrite, const QString& title);
  using Continuation = std::function<void(CMainFrame&)>;
  void createActions();
  void createToolBar();
  void createMenus();
  void switchMenus(int mode);
  void onChildActivated(QMdiSubWindow* window);
  CChildFrame* ensureFileWindow();
  void destroyFileWindow();
  void clearTaskViews();
  void setStatusField(int field, const QString& text);
  // Starts body on the one worker; its continuation runs on the interface thread at the end.
  bool startWorker(std::function<Continuation(CoreState&)> body);
  // Closes the task once no thumbnail reads it.
  void closeTask();
  void installDevices(std::vector<DeviceRecord> devices, std::vector<QString> brands);
  void refillDeviceList();
  // scan: a new scan; resume: the unfinished scan of a loaded task goes on from its checkpoint.
  void startTask(const TaskHead& head, bool scan, bool resume = false);
  bool runIdentification(const DeviceSelection& selection, int& brand);
  void exportPositions(std::vector<std::uint64_t> positions);
  void shutDown();

  std::shared_ptr<CoreState> m_state;
  CommandWorker* m_worker;  // left alive when abandoned at exit
  ThumbnailMaker* m_thumbnails;
  // A command that came while a thumbnail was being made: it starts when that one is done.
  std::function<void()> m_heldCommand;
  std::unique_ptr<Prompter> m_ownPrompter;
  Prompter* m_prompter;
  StatusPresenter m_presenter;
  std::map<int, QAction*> m_actions;
  QToolBar* m_toolbar = nullptr;
  QMenu* m_menus[6] = {};
  QProgressBar* m_progress = nullptr;
  QMdiArea* m_mdi = nullptr;
  QPointer<QMdiSubWindow> m_mainChild;
  QPointer<QMdiSubWindow> m_fileChild;
  int m_windowFlag = 0;
  int m_menuMode = 1;
  bool m_closing = false;
  bool m_exportOverwrite = false;
  QString m_exportFolder;
  bool m_convertOverwrite = false;
  QString m_convertFolder;
  bool m_clipOverwrite = false;
  QString m_clipFolder;
  DocumentOpener m_openReport;
  std::vector<QString> m_deviceBrands;  // the "Type" column, per device
};

}  // namespace norvale::ui
