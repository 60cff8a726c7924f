#pragma once
// The two child windows: "主窗口" (devices, brands, modes) and "文件窗口" (status strip, channel
// tree, file grid, log list).
#include <QWidget>

class QCheckBox;
class QLabel;
class QSplitter;

namespace norvale::ui {

class CMainFrame;
class CKivView1;
class CKivView2;
class CKivView3;
class CKivView4;
class CKivView5;
class CKivView6;
class TimelineView;

// The file window's status strip: the source, and the two lines of "状态信息".
class CStatusStrip final : public QWidget {
  Q_OBJECT
 public:
  explicit CStatusStrip(QWidget* parent = nullptr);
  // field 0: source device, 1: counts, 2: position, speed and remaining time.
  void setField(int field, const QString& text);
  QString field(int field) const;
  void clear();

 private:
  QLabel* m_fields[3];
};

class CChildFrame final : public QWidget {
  Q_OBJECT
 public:
  enum Kind { kMainWindow = 1, kFileWindow = 2 };
  CChildFrame(Kind kind, CMainFrame* frame);
  Kind kind() const { return m_kind; }

  // Main window panes (null in the file window) and file window panes (null in the main window).
  CKivView1* devices() const { return m_devices; }
  CKivView2* brands() const { return m_brands; }
  CKivView3* modes() const { return m_modes; }
  CStatusStrip* strip() const { return m_strip; }
  CKivView4* tree() const { return m_tree; }
  CKivView5* grid() const { return m_grid; }
  CKivView6* log() const { return m_log; }
  TimelineView* timeline() const { return m_timeline; }
  // "显示缩略图" above the file grid.
  QCheckBox* thumbnailToggle() const { return m_thumbnailToggle; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  Kind m_kind;
  QSplitter* m_outer = nullptr;
  QSplitter* m_inner = nullptr;
  CKivView1* m_devices = nullptr;
  CKivView2* m_brands = nullptr;
  CKivView3* m_modes = nullptr;
  CStatusStrip* m_strip = nullptr;
  CKivView4* m_tree = nullptr;
  CKivView5* m_grid = nullptr;
  CKivView6* m_log = nullptr;
  QSplitter* m_filesAndTimeline = nullptr;  // the grid above the timeline
  TimelineView* m_timeline = nullptr;
  QCheckBox* m_thumbnailToggle = nullptr;
};

}  // namespace norvale::ui
