#include "ui/timeline_view.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <climits>
#include <cmath>
#include <map>

#include "format/utc_time.h"

namespace norvale::ui {
namespace {

constexpr int kLabelWidth = 64;  // "通道N" column
constexpr int kRowHeight = 24;  // at most; rows shrink to fit the pane
constexpr int kMinRowHeight = 10;
constexpr int kAxisHeight = 34;  // ticks, times and dates
constexpr int kClickSlack = 3;   // pixels a press may move and still be a click
constexpr int kMinTickGap = 90;  // pixels between labelled ticks

const QColor kBarColour(40, 110, 190);
const QColor kGapColour(245, 214, 214);
const QColor kSelectionColour(255, 200, 0, 90);

QString hourMinute(std::int64_t seconds) {
  const CalendarTime c = civilCalendar(seconds);
  return QStringLiteral("%1:%2").arg(c.hour, 2, 10, QLatin1Char('0')).arg(c.minute, 2, 10, QLatin1Char('0'));
}

QString monthDay(std::int64_t seconds) {
  const CalendarTime c = civilCalendar(seconds);
  return QStringLiteral("%1-%2-%3").arg(c.year).arg(c.month, 2, 10, QLatin1Char('0')).arg(c.day, 2, 10, QLatin1Char('0'));
}

}  // namespace

TimelineData timelineOf(const FileMap& fileMap, const TimeConvention& convention) {
  TimelineData data;
  std::map<std::uint8_t, TimelineRow> rows;
  std::int64_t first = LLONG_MAX, last = LLONG_MIN;
  std::uint64_t position = 0;
  for (const auto& [key, entry] : fileMap) {
    TimelineRow& row = rows[entry.channel];
    row.channel = entry.channel;
    if (const auto span = recordedSpan(convention, entry)) {
      row.bars.push_back({position, *span});
      first = std::min(first, span->from);
      last = std::max(last, span->to);
    }
    ++position;
  }
  if (first >= last) {
    for (auto& [channel, row] : rows) data.rows.push_back(std::move(row));
    return data;
  }
  data.whole = {first, last};
  // The gaps are the plan's of a clip of the whole task: the same rule for what is covered.
  auto plans = planClips(fileMap, convention, data.whole, {});
  for (auto& [channel, row] : rows) {
    std::sort(row.bars.begin(), row.bars.end(),
              [](const TimelineBar& a, const TimelineBar& b) { return a.span.from < b.span.from; });
    if (plans)
      for (const ClipPlan& plan : *plans)
        if (plan.channel == channel) row.gaps = plan.gaps;
    data.rows.push_back(std::move(row));
  }
  return data;
}

// The drawing and the mouse; the view keeps the state.
class TimelineCanvas final : public QWidget {
 public:
  explicit TimelineCanvas(TimelineView* view) : QWidget(view), m_view(view) {
    setObjectName(QStringLiteral("timelineCanvas"));
    setMouseTracking(false);
    setMinimumHeight(kAxisHeight + kMinRowHeight);
  }

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    m_pressX = qRound(event->position().x());
    m_dragging = false;
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    if (!m_pressX) return;
    const int x = qRound(event->position().x());
    if (!m_dragging && std::abs(x - *m_pressX) <= kClickSlack) return;
    m_dragging = true;
    m_view->setSelection(spanBetween(*m_pressX, x));
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton || !m_pressX) return;
    const int x = qRound(event->position().x());
    const bool drag = m_dragging || std::abs(x - *m_pressX) > kClickSlack;
    const int pressX = *m_pressX;
    m_pressX.reset();
    m_dragging = false;
    if (!drag) {
      m_view->clicked(x, qRound(event->position().y()));
      return;
    }
    const ClipSpan span = spanBetween(pressX, x);
    m_view->setSelection(span);
    if (span.to > span.from) emit m_view->windowChosen(span.from, span.to);
  }
  void wheelEvent(QWheelEvent* event) override {
    const int steps = event->angleDelta().y() / 120;
    if (steps == 0) return;
    m_view->zoomAround(m_view->secondsAt(qRound(event->position().x())), std::pow(0.5, steps));
  }

 private:
  ClipSpan spanBetween(int a, int b) const {
    const int left = std::max(kLabelWidth, std::min(a, b)), right = std::max(a, b);
    return {m_view->secondsAt(left), m_view->secondsAt(right)};
  }
  TimelineView* m_view;
  std::optional<int> m_pressX;
  bool m_dragging = false;
};

void TimelineCanvas::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().base());
  const TimelineData& data = m_view->m_data;
  const int right = width() - 1;
  const int axisTop = height() - kAxisHeight;
  auto xOf = [this](std::int64_t s) { return m_view->xOf(s); };
  const std::int64_t from = m_view->m_viewFrom, to = from + m_view->m_viewSeconds;
  for (std::size_t i = 0; i < data.rows.size(); ++i) {
    const TimelineRow& row = data.rows[i];
    const int rowHeight = m_view->rowHeight();
    const int top = static_cast<int>(i) * rowHeight;
    if (top + rowHeight > axisTop) break;
    p.setPen(palette().text().color());
    p.drawText(QRect(4, top, kLabelWidth - 8, rowHeight), Qt::AlignVCenter | Qt::AlignLeft,
               QStringLiteral("通道%1").arg(row.channel));
    p.setClipRect(QRect(kLabelWidth, top, right - kLabelWidth, rowHeight));
    for (const ClipSpan& gap : row.gaps) {
      if (gap.to <= from || gap.from >= to) continue;
      p.fillRect(QRect(QPoint(xOf(gap.from), top + 3), QPoint(xOf(gap.to), top + rowHeight - 4)), kGapColour);
    }
    for (const TimelineBar& bar : row.bars) {
      if (bar.span.to <= from || bar.span.from >= to) continue;
      const int x0 = xOf(bar.span.from);
      const int x1 = std::max(x0 + 2, xOf(bar.span.to));  // a short recording stays visible
      p.fillRect(QRect(QPoint(x0, top + 3), QPoint(x1 - 1, top + rowHeight - 4)), kBarColour);
    }
    p.setClipping(false);
    p.setPen(palette().mid().color());
    p.drawLine(kLabelWidth, top + rowHeight - 1, right, top + rowHeight - 1);
  }
  // The time axis: ticks at a round step at least kMinTickGap pixels apart, the date under
  // each tick that starts a day (or under the first).
  p.setPen(palette().text().color());
  p.drawLine(kLabelWidth, axisTop, right, axisTop);
  static constexpr std::int64_t kSteps[] = {60,    300,   600,    1800,   3600,    3 * 3600, 6 * 3600,
                                            43200, 86400, 172800, 604800, 2592000, 31536000};
  const double pixelsPerSecond = double(right - kLabelWidth) / double(std::max<std::int64_t>(1, to - from));
  std::int64_t step = kSteps[std::size(kSteps) - 1];
  for (std::int64_t s : kSteps)
    if (s * pixelsPerSecond >= kMinTickGap) {
      step = s;
      break;
    }
  bool firstLabel = true;
  for (std::int64_t t = (from / step + (from % step > 0)) * step; t <= to; t += step) {
    const int x = xOf(t);
    p.drawLine(x, axisTop, x, axisTop + 4);
    // Labels are centred on their tick but kept inside the canvas.
    const int labelLeft = std::clamp(x - 45, 0, std::max(0, width() - 90));
    if (step < 86400) p.drawText(QRect(labelLeft, axisTop + 4, 90, 14), Qt::AlignHCenter, hourMinute(t));
    if (step >= 86400 || t % 86400 == 0 || firstLabel)
      p.drawText(QRect(labelLeft, axisTop + 18, 90, 14), Qt::AlignHCenter, monthDay(t));
    firstLabel = false;
  }
  if (const auto sel = m_view->m_selection; sel && sel->to > sel->from) {
    const QRect band(QPoint(std::max(kLabelWidth, xOf(sel->from)), 0), QPoint(std::min(right, xOf(sel->to)), axisTop));
    p.fillRect(band, kSelectionColour);
    p.setPen(QColor(200, 140, 0));
    p.drawRect(band);
  }
}

TimelineView::TimelineView(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("timeline"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  auto* bar = new QHBoxLayout;
  bar->setContentsMargins(4, 2, 4, 0);
  bar->addWidget(new QLabel(QStringLiteral("时间轴"), this));
  m_range = new QLabel(this);
  bar->addWidget(m_range, 1);
  auto* zoomIn = new QPushButton(QStringLiteral("放大"), this);
  auto* zoomOut = new QPushButton(QStringLiteral("缩小"), this);
  auto* whole = new QPushButton(QStringLiteral("全部"), this);
  m_export = new QPushButton(QStringLiteral("导出时段"), this);
  m_export->setObjectName(QStringLiteral("exportWindow"));
  m_export->setEnabled(false);
  for (QPushButton* b : {zoomIn, zoomOut, whole, m_export}) bar->addWidget(b);
  layout->addLayout(bar);
  m_canvas = new TimelineCanvas(this);
  layout->addWidget(m_canvas, 1);
  m_scroll = new QScrollBar(Qt::Horizontal, this);
  layout->addWidget(m_scroll);
  connect(zoomIn, &QPushButton::clicked, this, &TimelineView::zoomIn);
  connect(zoomOut, &QPushButton::clicked, this, &TimelineView::zoomOut);
  connect(whole, &QPushButton::clicked, this, &TimelineView::showWhole);
  connect(m_export, &QPushButton::clicked, this, [this] {
    if (m_selection && m_selection->to > m_selection->from) emit exportWindowRequested(m_selection->from, m_selection->to);
  });
  connect(m_scroll, &QScrollBar::valueChanged, this, [this](int value) {
    setView(m_data.whole.from + value, m_viewSeconds);
  });
  syncScrollBar();
}

QWidget* TimelineView::canvas() const { return m_canvas; }

void TimelineView::setData(TimelineData data) {
  m_data = std::move(data);
  m_selection.reset();
  m_export->setEnabled(false);
  showWhole();
}

void TimelineView::showWhole() {
  setView(m_data.whole.from, std::max(kShortestView, m_data.whole.seconds()));
}

void TimelineView::setView(std::int64_t from, std::int64_t seconds) {
  const std::int64_t wholeSeconds = std::max(kShortestView, m_data.whole.seconds());
  m_viewSeconds = std::clamp(seconds, kShortestView, wholeSeconds);
  m_viewFrom = std::clamp(from, m_data.whole.from, m_data.whole.from + wholeSeconds - m_viewSeconds);
  syncScrollBar();
  m_range->setText(m_data.whole.seconds() > 0 ? QString::fromStdString(windowTimeText(m_viewFrom)) + QStringLiteral(" — ") +
                                                    QString::fromStdString(windowTimeText(m_viewFrom + m_viewSeconds))
                                              : QString());
  m_canvas->update();
}

void TimelineView::zoomAround(std::int64_t centre, double factor) {
  const auto seconds = static_cast<std::int64_t>(std::llround(double(m_viewSeconds) * factor));
  const double share = double(centre - m_viewFrom) / double(std::max<std::int64_t>(1, m_viewSeconds));
  const std::int64_t clamped = std::clamp(seconds, kShortestView, std::max(kShortestView, m_data.whole.seconds()));
  setView(centre - static_cast<std::int64_t>(share * double(clamped)), clamped);
}

void TimelineView::syncScrollBar() {
  const std::int64_t room = std::max<std::int64_t>(0, m_data.whole.seconds() - m_viewSeconds);
  const QSignalBlocker block(m_scroll);
  m_scroll->setRange(0, static_cast<int>(std::min<std::int64_t>(room, INT_MAX)));
  m_scroll->setPageStep(static_cast<int>(std::min<std::int64_t>(m_viewSeconds, INT_MAX)));
  m_scroll->setSingleStep(static_cast<int>(std::max<std::int64_t>(1, m_viewSeconds / 10)));
  m_scroll->setValue(static_cast<int>(std::min<std::int64_t>(m_viewFrom - m_data.whole.from, INT_MAX)));
}

void TimelineView::setSelection(std::optional<ClipSpan> selection) {
  m_selection = selection;
  m_export->setEnabled(selection && selection->to > selection->from);
  m_canvas->update();
}

int TimelineView::xOf(std::int64_t seconds) const {
  const double share = double(seconds - m_viewFrom) / double(std::max<std::int64_t>(1, m_viewSeconds));
  const double x = kLabelWidth + share * double(m_canvas->width() - 1 - kLabelWidth);
  return static_cast<int>(std::clamp(x, -1e6, 1e6));
}

std::int64_t TimelineView::secondsAt(int x) const {
  const double share = double(x - kLabelWidth) / double(std::max(1, m_canvas->width() - 1 - kLabelWidth));
  return m_viewFrom + std::llround(share * double(m_viewSeconds));
}

int TimelineView::rowHeight() const {
  const int rows = std::max<int>(1, static_cast<int>(m_data.rows.size()));
  return std::clamp((m_canvas->height() - kAxisHeight) / rows, kMinRowHeight, kRowHeight);
}

int TimelineView::rowCentre(int row) const { return row * rowHeight() + rowHeight() / 2; }

int TimelineView::rowAt(int y) const {
  const int row = y / rowHeight();
  return y >= 0 && row < static_cast<int>(m_data.rows.size()) ? row : -1;
}

void TimelineView::clicked(int x, int y) {
  const int row = rowAt(y);
  if (row < 0 || x < kLabelWidth) return;
  // The bar under the pointer, or the nearest within a few pixels (short ones are 2 wide).
  const TimelineBar* best = nullptr;
  int bestDistance = kClickSlack + 1;
  for (const TimelineBar& bar : m_data.rows[static_cast<std::size_t>(row)].bars) {
    const int x0 = xOf(bar.span.from), x1 = std::max(x0 + 2, xOf(bar.span.to));
    const int distance = x < x0 ? x0 - x : x > x1 ? x - x1 : 0;
    if (distance < bestDistance) {
      best = &bar;
      bestDistance = distance;
    }
  }
  if (best) emit fileClicked(best->position);
}

}  // namespace norvale::ui
