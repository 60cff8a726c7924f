#include "ui/child_frame.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QResizeEvent>
#include <QSplitter>
#include <QVBoxLayout>

#include "ui/timeline_view.h"
#include "ui/views.h"

namespace norvale::ui {
namespace {
constexpr int kLogHeight = 200;
constexpr int kStripHeight = 53;
constexpr int kMinPane = 50;
}  // namespace

CStatusStrip::CStatusStrip(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("statusStrip"));
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 0, 4, 2);
  auto* source = new QGroupBox(QStringLiteral("源设备"), this);
  auto* state = new QGroupBox(QStringLiteral("状态信息"), this);
  for (auto*& field : m_fields) {
    field = new QLabel(this);
    field->setTextInteractionFlags(Qt::TextSelectableByMouse);
  }
  auto* sourceLayout = new QHBoxLayout(source);
  sourceLayout->setContentsMargins(6, 0, 6, 2);
  sourceLayout->addWidget(m_fields[0]);
  auto* stateLayout = new QHBoxLayout(state);
  stateLayout->setContentsMargins(6, 0, 6, 2);
  stateLayout->addWidget(m_fields[1], 2);
  stateLayout->addWidget(m_fields[2], 3);
  layout->addWidget(source, 2);
  layout->addWidget(state, 3);
  setFixedHeight(kStripHeight);
}

void CStatusStrip::setField(int field, const QString& text) {
  if (field >= 0 && field < 3) m_fields[field]->setText(text);
}

QString CStatusStrip::field(int field) const { return field >= 0 && field < 3 ? m_fields[field]->text() : QString(); }

void CStatusStrip::clear() {
  for (auto* field : m_fields) field->clear();
}

CChildFrame::CChildFrame(Kind kind, CMainFrame* frame) : m_kind(kind) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  if (kind == kMainWindow) {
    setWindowTitle(QStringLiteral("主窗口"));
    m_outer = new QSplitter(Qt::Horizontal, this);
    m_devices = new CKivView1(frame);
    m_brands = new CKivView2(frame);
    m_modes = new CKivView3(frame);
    for (QWidget* pane : {static_cast<QWidget*>(m_devices), static_cast<QWidget*>(m_brands), static_cast<QWidget*>(m_modes)}) {
      pane->setMinimumSize(kMinPane, kMinPane);
      m_outer->addWidget(pane);
    }
    layout->addWidget(m_outer);
  } else {
    setWindowTitle(QStringLiteral("文件窗口"));
    m_strip = new CStatusStrip(this);
    layout->addWidget(m_strip);
    m_outer = new QSplitter(Qt::Vertical, this);
    m_inner = new QSplitter(Qt::Horizontal, m_outer);
    m_tree = new CKivView4(frame);
    m_grid = new CKivView5(frame);
    m_inner->addWidget(m_tree);
    m_filesAndTimeline = new QSplitter(Qt::Vertical, m_inner);
    // The grid with its switch for the thumbnails above it.
    auto* gridPane = new QWidget;
    auto* gridLayout = new QVBoxLayout(gridPane);
    gridLayout->setContentsMargins(0, 0, 0, 0);
    gridLayout->setSpacing(0);
    m_thumbnailToggle = new QCheckBox(QStringLiteral("显示缩略图"), gridPane);
    m_thumbnailToggle->setObjectName(QStringLiteral("showThumbnails"));
    m_thumbnailToggle->setContentsMargins(4, 2, 4, 2);
    gridLayout->addWidget(m_thumbnailToggle);
    gridLayout->addWidget(m_grid, 1);
    connect(m_thumbnailToggle, &QCheckBox::toggled, m_grid, &CKivView5::setThumbnailsShown);
    m_filesAndTimeline->addWidget(gridPane);
    m_timeline = new TimelineView;
    m_timeline->setMinimumSize(kMinPane, kMinPane);
    m_filesAndTimeline->addWidget(m_timeline);
    m_inner->addWidget(m_filesAndTimeline);
    m_log = new CKivView6;
    m_outer->addWidget(m_inner);
    m_outer->addWidget(m_log);
    for (QWidget* pane : {static_cast<QWidget*>(m_tree), static_cast<QWidget*>(m_grid), static_cast<QWidget*>(m_log)})
      pane->setMinimumSize(kMinPane, kMinPane);
    layout->addWidget(m_outer);
  }
}

void CChildFrame::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int w = m_outer->width();
  const int h = m_outer->height();
  if (m_kind == kMainWindow) {
    const int third = std::max(kMinPane, w / 3);
    m_outer->setSizes({third, third, third});
  } else {
    m_inner->setSizes({std::max(kMinPane, w / 3), std::max(kMinPane, w - w / 3)});
    m_outer->setSizes({std::max(kMinPane, h - kLogHeight), kLogHeight});
    const int upper = std::max(kMinPane, h - kLogHeight);
    m_filesAndTimeline->setSizes({std::max(kMinPane, upper - upper * 2 / 5), std::max(kMinPane, upper * 2 / 5)});
  }
}

}  // namespace norvale::ui
