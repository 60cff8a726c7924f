#include "app/screenshot_run.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTreeWidget>

#include "sample/sample_image.h"
#include "ui/child_frame.h"
#include "ui/dialogs.h"
#include "ui/main_frame.h"
#include "ui/prompter.h"
#include "ui/thumbnails.h"
#include "ui/timeline_view.h"
#include "ui/ui_text.h"
#include "ui/views.h"

namespace norvale::ui {
namespace {
constexpr int kDeepMode = 1;
}  // namespace

ScreenshotRun::ScreenshotRun(CMainFrame& frame, QString outputDir)
    : m_frame(frame), m_outputDir(std::move(outputDir)), m_prompter(std::make_unique<ScriptedPrompter>()) {
  m_poll.setInterval(50);
  connect(&m_poll, &QTimer::timeout, this, [this] {
    if (!m_sawFinish || m_frame.busy()) return;
    m_poll.stop();
    auto next = std::move(m_next);
    next();
  });
  connect(&m_frame, &CMainFrame::workerFinished, this, [this] { m_sawFinish = true; });
}

ScreenshotRun::~ScreenshotRun() { m_frame.setPrompter(nullptr); }

void ScreenshotRun::whenIdle(std::function<void()> next) {
  m_next = std::move(next);
  m_poll.start();
}

bool ScreenshotRun::save(QWidget& widget, const QString& name) {
  const QString path = QDir(m_outputDir).filePath(name);
  if (widget.grab().save(path, "PNG")) return true;
  fail(QStringLiteral("cannot write ") + path);
  return false;
}

void ScreenshotRun::fail(const QString& message) { emit finished(false, message); }

void ScreenshotRun::start() {
  if (!QDir().mkpath(m_outputDir) || !m_work.isValid()) return fail(QStringLiteral("cannot create the output folder"));
  const QString image = m_work.filePath(QStringLiteral("sample.img"));
  if (!sample::writeSampleImage(u8(image))) return fail(QStringLiteral("cannot write the sample image"));
  m_frame.settings().taskRoot = u8(m_work.filePath(QStringLiteral("tasks")));
  m_frame.setPrompter(m_prompter.get());
  m_prompter->onDialog = [this](QDialog& dialog) {
    if (qobject_cast<CNewTaskDlg*>(&dialog)) {
      dialog.ensurePolished();
      save(dialog, QStringLiteral("new_task_dialog.png"));
    }
    if (qobject_cast<CPreviewDlg*>(&dialog)) {
      dialog.ensurePolished();
      dialog.adjustSize();
      m_previewShown = save(dialog, QStringLiteral("preview_dialog.png"));
    }
    if (auto* choice = qobject_cast<CExportDlg*>(&dialog)) {
      const bool converting = dialog.windowTitle() == QStringLiteral("视频转化");
      choice->folderEdit()->setText(m_work.filePath(converting ? QStringLiteral("converted") : QStringLiteral("exported")));
      if (converting) {
        dialog.ensurePolished();
        save(dialog, QStringLiteral("convert_dialog.png"));
      }
    }
    return ScriptedPrompter::pressOk(dialog);
  };

  // The machine's own disks first, as at start-up; the sample is added after them.
  m_sawFinish = false;
  m_frame.startDeviceScan();
  whenIdle([this, image] { scanSample(image); });
}

void ScreenshotRun::scanSample(const QString& image) {
  m_frame.addImageFiles({image});
  CChildFrame* main = m_frame.mainChild();
  auto* devices = main->devices();
  if (devices->topLevelItemCount() == 0) return fail(QStringLiteral("the sample image could not be listed"));
  devices->setCurrentItem(devices->topLevelItem(devices->topLevelItemCount() - 1));
  m_frame.selectBrand(sample::sampleBrandRow().first);
  main->modes()->setCurrentRow(kDeepMode);
  if (!save(m_frame, QStringLiteral("main_window.png"))) return;

  m_sawFinish = false;
  m_frame.onNewTask();
  whenIdle([this] {
    CChildFrame* files = m_frame.fileChild();
    QTreeWidgetItem* root = files ? files->tree()->topLevelItem(0) : nullptr;
    if (!root || root->childCount() == 0 || root->child(0)->childCount() == 0)
      return fail(QStringLiteral("the scan of the sample found no files"));
    root->child(0)->setExpanded(true);
    m_sawFinish = false;
    files->tree()->setCurrentItem(root->child(0)->child(0));
    whenIdle([this] {
      CChildFrame* files = m_frame.fileChild();
      if (files->grid()->grid()->rowCount() == 0) return fail(QStringLiteral("the file grid stayed empty"));
      files->grid()->selectRow(0);
      if (!save(m_frame, QStringLiteral("file_window.png"))) return;
      exportAndConvert();
    });
  });
}

void ScreenshotRun::exportAndConvert() {
  // Export the day's files: the grid's "校验" column then shows their hashes.
  m_sawFinish = false;
  m_frame.onExport();
  whenIdle([this] {
    CChildFrame* files = m_frame.fileChild();
    auto* model = files->grid()->grid();
    if (model->data(model->index(0, FileGridModel::kCheck), Qt::DisplayRole).toString().size() != 64)
      return fail(QStringLiteral("the exported file shows no SHA-256"));
    model->setData(model->index(0, FileGridModel::kChannel), Qt::Checked, Qt::CheckStateRole);
    files->grid()->selectRow(0);
    if (!save(m_frame, QStringLiteral("file_window_exported.png"))) return;
    m_sawFinish = false;
    m_frame.onPreview();
    whenIdle([this] {
      // The dialog opens right after the worker has let go.
      QTimer::singleShot(200, this, [this] {
        if (!m_previewShown) return fail(QStringLiteral("the preview dialog did not open"));
        m_sawFinish = false;
        m_frame.onConvert();
        whenIdle([this] {
          if (!QDir(m_work.filePath(QStringLiteral("converted"))).exists(QStringLiteral("SHA256SUMS")))
            return fail(QStringLiteral("the conversion wrote nothing"));
          if (!save(m_frame, QStringLiteral("file_window_converted.png"))) return;
          if (!saveTimeline()) return;
          saveThumbnails([this] { emit finished(true, QStringLiteral("screenshots written to ") + m_outputDir); });
        });
      });
    });
  });
}

void ScreenshotRun::saveThumbnails(std::function<void()> then) {
  CChildFrame* files = m_frame.fileChild();
  files->thumbnailToggle()->setChecked(true);
  auto* timer = new QTimer(this);
  auto waited = std::make_shared<QElapsedTimer>();
  waited->start();
  timer->setInterval(50);
  connect(timer, &QTimer::timeout, this, [this, timer, waited, then = std::move(then)] {
    CChildFrame* files = m_frame.fileChild();
    const auto& rows = files->grid()->grid()->rows();
    const bool allMade = std::all_of(rows.begin(), rows.end(), [this](const FileRow& row) {
      return m_frame.thumbnails()->find(row.position) != nullptr;
    });
    if (!allMade && waited->elapsed() < 30000) return;
    timer->deleteLater();
    timer->stop();
    if (!allMade) return fail(QStringLiteral("the thumbnails were not made"));
    files->grid()->viewport()->update();
    if (!save(m_frame, QStringLiteral("file_window_thumbnails.png"))) return;
    then();
  });
  timer->start();
}

bool ScreenshotRun::saveTimeline() {
  // The whole task (three days, four channels, recordings twice a day) with a window chosen,
  // then zoomed in to minutes around the first recording.
  TimelineView* timeline = m_frame.fileChild()->timeline();
  const TimelineData& data = timeline->data();
  if (data.rows.empty() || data.whole.seconds() <= 0) {
    fail(QStringLiteral("the timeline shows no recordings"));
    return false;
  }
  timeline->showWhole();
  const ClipSpan whole = data.whole;
  timeline->setSelection(ClipSpan{whole.from + whole.seconds() / 3, whole.from + whole.seconds() / 2});
  if (!save(*timeline, QStringLiteral("timeline.png"))) return false;
  const std::int64_t first = data.rows.front().bars.front().span.from;
  timeline->setSelection(std::nullopt);
  timeline->setView(first - 60, 240);
  return save(*timeline, QStringLiteral("timeline_minutes.png"));
}

}  // namespace norvale::ui
