#pragma once
// "时间轴": the task's recordings along time, one row per channel. Bars are file entries, the
// pale stretches between them the gaps; the wheel and the buttons zoom from the whole task down
// to minutes, the scroll bar moves along it. A click on a bar names its file; a drag chooses a
// window, which "导出时段" asks to write as clips.
#include <QWidget>
#include <cstdint>
#include <optional>
#include <vector>

#include "export/clip_plan.h"
#include "format/records.h"
#include "format/time_convention.h"

class QLabel;
class QPushButton;
class QScrollBar;

namespace norvale::ui {

struct TimelineBar {
  std::uint64_t position = 0;  // in the file map
  ClipSpan span;
};

struct TimelineRow {
  std::uint8_t channel = 0;
  std::vector<TimelineBar> bars;  // in time order
  std::vector<ClipSpan> gaps;     // within the task's span
};

struct TimelineData {
  ClipSpan whole;  // first start to last end of the task; empty without dated entries
  std::vector<TimelineRow> rows;
};

// The rows of a file map in shown time (made on a worker: it walks the whole map).
TimelineData timelineOf(const FileMap& fileMap, const TimeConvention& convention);

class TimelineCanvas;

class TimelineView final : public QWidget {
  Q_OBJECT
 public:
  static constexpr std::int64_t kShortestView = 60;  // seconds: zoomed in to a minute
  explicit TimelineView(QWidget* parent = nullptr);

  void setData(TimelineData data);
  void clear() { setData({}); }
  const TimelineData& data() const { return m_data; }

  // The visible seconds [from, from + seconds).
  std::int64_t viewFrom() const { return m_viewFrom; }
  std::int64_t viewSeconds() const { return m_viewSeconds; }
  void setView(std::int64_t from, std::int64_t seconds);
  void zoomIn() { zoomAround(m_viewFrom + m_viewSeconds / 2, 0.5); }
  void zoomOut() { zoomAround(m_viewFrom + m_viewSeconds / 2, 2.0); }
  void showWhole();

  std::optional<ClipSpan> selection() const { return m_selection; }
  void setSelection(std::optional<ClipSpan> selection);

  // Where the drawing is, for the tests and the screenshot run: the canvas, the x of a time on
  // it and the vertical centre of a row.
  QWidget* canvas() const;
  int xOf(std::int64_t seconds) const;
  std::int64_t secondsAt(int x) const;
  int rowCentre(int row) const;
  // Rows share the canvas's height above the axis, up to a comfortable height each.
  int rowHeight() const;
  QPushButton* exportButton() const { return m_export; }

 signals:
  // A click on a recording's bar.
  void fileClicked(quint64 position);
  // A drag chose a window.
  void windowChosen(qint64 from, qint64 to);
  // "导出时段" with the chosen window.
  void exportWindowRequested(qint64 from, qint64 to);

 private:
  friend class TimelineCanvas;
  void zoomAround(std::int64_t centre, double factor);
  void syncScrollBar();
  void clicked(int x, int y);
  int rowAt(int y) const;

  TimelineData m_data;
  std::int64_t m_viewFrom = 0;
  std::int64_t m_viewSeconds = kShortestView;
  std::optional<ClipSpan> m_selection;
  TimelineCanvas* m_canvas;
  QScrollBar* m_scroll;
  QLabel* m_range;
  QPushButton* m_export;
};

}  // namespace norvale::ui
