#pragma once
// The modal dialogs of the commands.
#include <QDialog>
#include <QImage>
#include <cstdint>
#include <functional>
#include <vector>
#include <string>

#include "task/identification.h"
#include "task/task_context.h"
#include "task/task_workflow.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QRadioButton;

namespace norvale::ui {

class Prompter;

// The "..." buttons: a folder from the browser, one trailing separator removed.
void browseFolderInto(QWidget* parent, Prompter& prompter, QLineEdit* edit);

// "任务": confirms the task folder and the sector range of a new task.
class CNewTaskDlg final : public QDialog {
  Q_OBJECT
 public:
  // The head's brand, mode and source as chosen; the range proposed is the selected sectors.
  CNewTaskDlg(Prompter& prompter, const TaskHead& head, std::uint64_t startSector, std::uint64_t sectorCount,
              const QString& proposedFolder, QWidget* parent = nullptr);
  // On OK: the head with the folder and the range in bytes.
  const TaskHead& head() const { return m_head; }
  QLineEdit* folderEdit() const { return m_folder; }
  QLineEdit* startEdit() const { return m_start; }
  QLineEdit* endEdit() const { return m_end; }
  QLineEdit* zoneEdit() const { return m_zone; }
  QLineEdit* correctionEdit() const { return m_correction; }
  QLineEdit* yearsEdit() const { return m_years; }

 public slots:
  void accept() override;

 private:
  Prompter& m_prompter;
  TaskHead m_head;
  QLineEdit* m_folder;
  QLineEdit* m_start;
  QLineEdit* m_end;
  QLineEdit* m_zone;
  QLineEdit* m_correction;
  QLineEdit* m_years;
};

// "设置": the task root.
class CSettingDlg final : public QDialog {
  Q_OBJECT
 public:
  CSettingDlg(Prompter& prompter, TaskSettings& settings, QWidget* parent = nullptr);
  QLineEdit* rootEdit() const { return m_root; }

 public slots:
  void accept() override;

 private:
  Prompter& m_prompter;
  TaskSettings& m_settings;
  QLineEdit* m_root;
};

// "任务信息": read-only fields of the current task.
class CTaskInfoDlg final : public QDialog {
  Q_OBJECT
 public:
  explicit CTaskInfoDlg(const TaskContext& task, QWidget* parent = nullptr);
  // The value shown after a label, for checks.
  QString field(const QString& label) const;
};

// "加载任务": the folder of a saved task.
class CLoadDlg final : public QDialog {
  Q_OBJECT
 public:
  CLoadDlg(Prompter& prompter, const QString& folder, QWidget* parent = nullptr);
  QString folder() const { return m_chosen; }
  QLineEdit* folderEdit() const { return m_folder; }

 public slots:
  void accept() override;

 private:
  QLineEdit* m_folder;
  QString m_chosen;
};

// "自动识别": candidate brands found by sampling the device.
class CAutoVideoDlg final : public QDialog {
  Q_OBJECT
 public:
  // stop: what "取消" does while the sampling runs (it raises the task's stop flag).
  explicit CAutoVideoDlg(std::function<void()> stop = {}, QWidget* parent = nullptr);
  // While the sampling runs, "确定" is ignored and "取消" only asks it to stop.
  void setRunning(bool running) { m_running = running; }
  bool running() const { return m_running; }
  // Fills the list from the identification result (fewest hits first) and sets the status line.
  void showCandidates(const std::vector<BrandHits>& result);
  int brand() const { return m_brand; }
  QString statusText() const;
  QListWidget* list() const { return m_list; }

 public slots:
  void accept() override;
  void reject() override;

 private:
  std::function<void()> m_stop;
  QListWidget* m_list;
  QLabel* m_status;
  int m_brand = 0;
  bool m_running = false;
};

// "文件导出": the export folder and what to do with files that exist.
class CExportDlg final : public QDialog {
  Q_OBJECT
 public:
  // The same choice of folder and of what to do with existing files serves "视频转化".
  CExportDlg(Prompter& prompter, const QString& folder, bool overwrite, QWidget* parent = nullptr,
             const QString& title = QStringLiteral("文件导出"));
  QString folder() const { return m_chosen; }
  bool overwrite() const;
  QLineEdit* folderEdit() const { return m_folder; }
  QRadioButton* overwriteButton() const { return m_overwrite; }

 public slots:
  void accept() override;

 private:
  QLineEdit* m_folder;
  QRadioButton* m_skip;
  QRadioButton* m_overwrite;
  QString m_chosen;
};

// What "视频预览" shows of one file.
struct PreviewInfo {
  unsigned channel = 0;
  QString start, end;
  QString codec;            // "h264", "hevc", or what the file holds instead
  std::uint64_t frames = 0;
  std::uint64_t keyFrames = 0;
  QImage picture;           // null when no key frame decodes
  QString problem;          // why there is no picture
  bool streamRead = false;  // the file's stream was read: audio and clock below are known
  QString audio;            // the recorder's audio codec; empty: none
  bool clockTrack = false;  // the converted MP4 carries the recorder's clock
};

// What the preview says of a file's audio and of what its MP4 makes of it.
QString previewAudioText(const QString& codec);
QString previewClockText(bool clockTrack);

// "视频预览": the first picture of the selected file with its channel, times, frames and codec,
// its audio and whether its MP4 carries the recorder's clock.
class CPreviewDlg final : public QDialog {
  Q_OBJECT
 public:
  explicit CPreviewDlg(const PreviewInfo& info, QWidget* parent = nullptr);
  QLabel* pictureLabel() const { return m_picture; }

 private:
  QLabel* m_picture;
};

// "关于软件".
class CAboutDlg final : public QDialog {
  Q_OBJECT
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

// The start-up picture, shown while the devices are enumerated.
class CSplashDlg final : public QDialog {
  Q_OBJECT
 public:
  explicit CSplashDlg(QWidget* parent = nullptr);
};

// The program's picture (splash and about).
QPixmap productPicture(const QSize& size);

}  // namespace norvale::ui
