#pragma once
// Scans the built-in sample image through the windows, as a user would, exports and converts
// its first day's files and writes pictures of the windows and dialogs for review.
#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>

namespace norvale::ui {

class CMainFrame;
class ScriptedPrompter;

class ScreenshotRun final : public QObject {
  Q_OBJECT
 public:
  ScreenshotRun(CMainFrame& frame, QString outputDir);
  ~ScreenshotRun() override;
  void start();

 signals:
  void finished(bool ok, const QString& message);

 private:
  void scanSample(const QString& image);
  void exportAndConvert();
  bool saveTimeline();
  // Shows the grid's thumbnails and saves the window once every row has its own.
  void saveThumbnails(std::function<void()> then);
  void whenIdle(std::function<void()> next);
  bool save(QWidget& widget, const QString& name);
  void fail(const QString& message);

  CMainFrame& m_frame;
  QString m_outputDir;
  QTemporaryDir m_work;
  std::unique_ptr<ScriptedPrompter> m_prompter;
  QTimer m_poll;
  std::function<void()> m_next;
  bool m_sawFinish = false;
  bool m_previewShown = false;
};

}  // namespace norvale::ui
