#include "ui/views.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QPainter>
#include <QResizeEvent>

#include "storage/device_record.h"
#include "task/brand_registry.h"
#include "task/status_text.h"
#include "ui/device_sources.h"
#include "ui/main_frame.h"
#include "ui/thumbnails.h"
#include "ui/ui_text.h"

namespace norvale::ui {

QFont listFont() {
  QFont font(QStringLiteral("微软雅黑"), 10);
  font.setFamilies({QStringLiteral("微软雅黑"), QStringLiteral("Microsoft YaHei"), QStringLiteral("Noto Sans CJK SC"),
                    QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Droid Sans Fallback")});
  return font;
}

// ---- CKivView1 ----

CKivView1::CKivView1(CMainFrame* frame) : m_frame(frame) {
  setObjectName(QStringLiteral("deviceList"));
  setColumnCount(kDeviceColumns);
  setHeaderLabels({QStringLiteral("Device"), QStringLiteral("Label"), QStringLiteral("FS"), QStringLiteral("Start"),
                   QStringLiteral("Size"), QStringLiteral("Type"), QStringLiteral("Prop")});
  setColumnHidden(kColType, true);
  setColumnHidden(kColProp, true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setAlternatingRowColors(false);
  connect(this, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
    m_frame->selectBrand(typeBrandOf(item));
  });
}

void CKivView1::fill(const std::vector<const DeviceRecord*>& devices, const std::vector<QString>& brands) {
  clear();
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const DeviceRecord& device = *devices[i];
    auto* row = new QTreeWidgetItem(this);
    row->setText(kColDevice, QStringLiteral("磁盘:") + qs(device.name));
    row->setText(kColLabel, qs(device.secondName));
    row->setText(kColFs, QStringLiteral("#%1").arg(device.driveNumber));
    row->setText(kColStart, QStringLiteral("0"));
    row->setText(kColSize, qs(sizeTextNarrow(device.size)));
    row->setText(kColType, i < brands.size() ? brands[i] : QString());
    row->setData(kColDevice, kDeviceIndexRole, static_cast<int>(i));
    row->setData(kColDevice, kPartitionIndexRole, -1);
    for (std::size_t p = 0; p < device.partitions.size(); ++p) {
      const PartitionRecord& partition = device.partitions[p];
      auto* child = new QTreeWidgetItem(row);
      child->setText(kColDevice, QStringLiteral("分区:") + qs(partition.name));
      child->setText(kColLabel, qs(partition.label));
      child->setText(kColFs, fileSystemText(partition.fsType));
      child->setText(kColStart, qs(sizeTextNarrow(partition.start)));
      child->setText(kColSize, qs(sizeTextNarrow(partition.size)));
      child->setData(kColDevice, kDeviceIndexRole, static_cast<int>(i));
      child->setData(kColDevice, kPartitionIndexRole, static_cast<int>(p));
    }
    row->setExpanded(true);
  }
  if (topLevelItemCount() > 0) setCurrentItem(topLevelItem(0));
}

int CKivView1::typeBrandOf(const QTreeWidgetItem* item) {
  if (!item) return 0;
  if (item->parent()) item = item->parent();
  bool ok = false;
  const int brand = item->text(kColType).trimmed().toInt(&ok);
  return ok && brand >= 0 && brand < brandCount() ? brand : 0;
}

void CKivView1::resizeEvent(QResizeEvent* event) {
  QTreeWidget::resizeEvent(event);
  const int w = viewport()->width();
  setColumnWidth(kColDevice, w / 3);
  for (int c = kColLabel; c <= kColSize; ++c) setColumnWidth(c, w / 6);
}

// ---- kivListBox ----

void KivItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  painter->save();
  const QRect rect = option.rect;
  const bool selected = option.state & QStyle::State_Selected;
  painter->fillRect(rect, Qt::white);
  if (selected) painter->fillRect(rect.adjusted(1, 1, -1, -1), QColor(0, 165, 250));
  painter->setPen(selected ? Qt::white : Qt::black);
  painter->setFont(option.font);
  const QRect textRect = rect.adjusted(2, 2, -2, -2).translated(2, 10);
  painter->drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, index.data().toString());
  if (option.state & QStyle::State_MouseOver && !selected) {
    painter->setPen(QColor(0, 165, 250));
    painter->drawRect(rect.adjusted(1, 1, -2, -2));
  }
  painter->restore();
}

QSize KivItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  return {QStyledItemDelegate::sizeHint(option, index).width(), 40};
}

KivListBox::KivListBox(QWidget* parent) : QListWidget(parent) {
  setItemDelegate(new KivItemDelegate(this));
  setFont(listFont());
  setSelectionMode(QAbstractItemView::SingleSelection);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setMouseTracking(true);
  setUniformItemSizes(true);
}

int KivListBox::selectedNumber() const {
  const auto items = selectedItems();
  if (items.isEmpty()) return -1;
  return numberFromListText(u8(items.front()->text())).value_or(-1);
}

CKivView2::CKivView2(CMainFrame*) {
  setObjectName(QStringLiteral("brandList"));
  for (int brand = 0; brand < brandCount(); ++brand) addItem(qs(brandName(brand)));
  setCurrentRow(0);
}

CKivView3::CKivView3(CMainFrame* frame) {
  setObjectName(QStringLiteral("modeList"));
  for (int mode = 0; mode < 2; ++mode) addItem(QStringLiteral("[%1]  ").arg(mode) + qs(parseModeName(mode)));
  setCurrentRow(0);
  connect(this, &QListWidget::itemDoubleClicked, frame, [frame] { frame->onNewTask(); });
}

// ---- CKivView4 ----

CKivView4::CKivView4(CMainFrame* frame) : m_frame(frame) {
  setObjectName(QStringLiteral("channelTree"));
  setHeaderHidden(true);
  setColumnCount(1);
  setRootIsDecorated(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
    if (item && item->childCount() == 0 && item->data(0, kFileMapKeyRole).isValid())
      m_frame->listFiles(item->data(0, kFileMapKeyRole).toULongLong());
  });
}

void CKivView4::rebuild(const std::vector<ChannelNode>& channels) {
  if (channels.empty()) return;
  clear();
  const Qt::ItemFlags checkable = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemIsAutoTristate;
  auto* root = new QTreeWidgetItem(this, {qs(kTreeRootText)});
  root->setFlags(checkable);
  root->setCheckState(0, Qt::Unchecked);
  for (const ChannelNode& channel : channels) {
    auto* channelItem = new QTreeWidgetItem(root, {qs(channel.text)});
    channelItem->setFlags(checkable);
    channelItem->setCheckState(0, Qt::Unchecked);
    for (const DayNode& day : channel.days) {
      auto* dayItem = new QTreeWidgetItem(channelItem, {qs(day.text)});
      dayItem->setFlags(checkable & ~Qt::ItemIsAutoTristate);
      dayItem->setCheckState(0, Qt::Unchecked);
      dayItem->setData(0, kFileMapKeyRole, QVariant::fromValue<qulonglong>(day.key));
    }
  }
  root->setExpanded(true);
}

// ---- file grid ----

void FileGridModel::setRows(std::vector<FileRow> rows, TimeConvention convention) {
  beginResetModel();
  m_rows = std::move(rows);
  m_checked.assign(m_rows.size(), 0);
  m_convention = convention;
  endResetModel();
}

void FileGridModel::clear() { setRows({}, {}); }

void FileGridModel::setHash(std::uint64_t position, const QString& sha256) {
  m_hashes[position] = sha256;
  for (std::size_t i = 0; i < m_rows.size(); ++i)
    if (m_rows[i].position == position) emit dataChanged(index(static_cast<int>(i), kCheck), index(static_cast<int>(i), kCheck));
}

void FileGridModel::clearHashes() {
  beginResetModel();
  m_hashes.clear();
  endResetModel();
}

void FileGridModel::setAllChecked(bool checked) {
  std::fill(m_checked.begin(), m_checked.end(), checked ? 1 : 0);
  if (!m_rows.empty()) emit dataChanged(index(0, kChannel), index(rowCount() - 1, kChannel), {Qt::CheckStateRole});
}

std::vector<std::uint64_t> FileGridModel::positions(bool checkedOnly) const {
  std::vector<std::uint64_t> out;
  for (std::size_t i = 0; i < m_rows.size(); ++i)
    if (!checkedOnly || m_checked[i]) out.push_back(m_rows[i].position);
  return out;
}

void FileGridModel::setThumbnails(ThumbnailMaker* maker) {
  if (m_thumbnails) disconnect(m_thumbnails, nullptr, this, nullptr);
  m_thumbnails = maker;
  if (!maker) return;
  connect(maker, &ThumbnailMaker::made, this, [this](quint64 position) {
    for (std::size_t i = 0; i < m_rows.size(); ++i)
      if (m_rows[i].position == position) emit dataChanged(index(static_cast<int>(i), kThumbnail), index(static_cast<int>(i), kThumbnail));
  });
}

void FileGridModel::setThumbnailsShown(bool shown) {
  if (shown == m_thumbnailsShown) return;
  m_thumbnailsShown = shown;
  if (!m_rows.empty()) emit dataChanged(index(0, kThumbnail), index(rowCount() - 1, kThumbnail));
}

int FileGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int FileGridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant FileGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const FileRow& row = m_rows[static_cast<std::size_t>(index.row())];
  if (role == Qt::CheckStateRole && index.column() == kChannel)
    return m_checked[static_cast<std::size_t>(index.row())] ? Qt::Checked : Qt::Unchecked;
  if (role == Qt::ToolTipRole && index.column() == kCheck) return data(index, Qt::DisplayRole);
  if (index.column() == kThumbnail) {
    if (!m_thumbnailsShown || !m_thumbnails) return {};
    const ShownThumbnail* shown = m_thumbnails->find(row.position);
    switch (role) {
      case Qt::DisplayRole:
        // Drawn without a thumbnail yet: this row is in view, so its thumbnail is wanted.
        if (!shown) m_thumbnails->want(row.position);
        return !shown ? qs(kThumbnailPendingText) : shown->image.isNull() ? qs(kNoPictureText) : QVariant();
      case Qt::DecorationRole: return shown && !shown->image.isNull() ? QVariant(shown->image) : QVariant();
      case Qt::ToolTipRole: return shown ? QVariant(shown->failure) : QVariant();
      case Qt::TextAlignmentRole: return static_cast<int>(Qt::AlignCenter);
      default: return {};
    }
  }
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case kChannel: return QString::number(row.entry.channel);
    case kSize: return qs(sizeTextNarrow(row.entry.size));
    case kStart: return qs(timeText(m_convention, row.entry.startTime));
    case kEnd: return qs(timeText(m_convention, row.entry.endTime));
    case kCheck: {
      auto hash = m_hashes.find(row.position);
      return hash != m_hashes.end() ? hash->second : QString::number(row.position);
    }
    default: return {};
  }
}

bool FileGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::CheckStateRole || index.column() != kChannel) return false;
  m_checked[static_cast<std::size_t>(index.row())] = value.toInt() == Qt::Checked ? 1 : 0;
  emit dataChanged(index, index, {Qt::CheckStateRole});
  return true;
}

Qt::ItemFlags FileGridModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == kChannel) f |= Qt::ItemIsUserCheckable;
  return f;
}

QVariant FileGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const kTitles[kColumns] = {"通道", "大小", "开始时间", "结束时间", "校验", "缩略图"};
  return section >= 0 && section < kColumns ? qs(kTitles[section]) : QVariant();
}

CKivView5::CKivView5(CMainFrame* frame) : m_frame(frame), m_model(new FileGridModel(this)) {
  setObjectName(QStringLiteral("fileGrid"));
  if (frame) m_model->setThumbnails(frame->thumbnails());
  setModel(m_model);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setShowGrid(true);
  verticalHeader()->hide();
  verticalHeader()->setDefaultSectionSize(kRowHeight);
  setColumnHidden(FileGridModel::kThumbnail, true);
  // A reset may bring back the header's defaults.
  connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
    setColumnHidden(FileGridModel::kThumbnail, !m_model->thumbnailsShown());
    fitColumns();
  });
  horizontalHeader()->setHighlightSections(false);
  setColumnWidth(FileGridModel::kChannel, 100);
  setColumnWidth(FileGridModel::kSize, 150);
  setColumnWidth(FileGridModel::kStart, 300);
  setColumnWidth(FileGridModel::kEnd, 300);
  setColumnWidth(FileGridModel::kCheck, kCheckWidth);
  m_menu = new QMenu(this);
  m_menu->addAction(QStringLiteral("多项导出"), this, [this] {
    if (m_frame) m_frame->onExportChecked();
  });
  m_menu->addAction(QStringLiteral("全部选择"), this, [this] { m_model->setAllChecked(true); });
  m_menu->addAction(QStringLiteral("全部取消"), this, [this] { m_model->setAllChecked(false); });
  setContextMenuPolicy(Qt::CustomContextMenu);
  connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    if (QMenu* menu = contextMenuAt(pos)) menu->exec(viewport()->mapToGlobal(pos));
  });
}

QMenu* CKivView5::contextMenuAt(const QPoint& pos) { return indexAt(pos).isValid() ? m_menu : nullptr; }

void CKivView5::setThumbnailsShown(bool shown) {
  m_model->setThumbnailsShown(shown);
  setColumnHidden(FileGridModel::kThumbnail, !shown);
  verticalHeader()->setDefaultSectionSize(shown ? kThumbnailRowHeight : kRowHeight);
  fitColumns();
}

void CKivView5::resizeEvent(QResizeEvent* event) {
  QTableView::resizeEvent(event);
  fitColumns();
}

void CKivView5::fitColumns() {
  const int w = viewport()->width();
  const int fixed = 250 + kCheckWidth + (m_model->thumbnailsShown() ? kThumbnailWidth : 0);
  setColumnWidth(FileGridModel::kChannel, 100);
  setColumnWidth(FileGridModel::kSize, 150);
  setColumnWidth(FileGridModel::kStart, std::max(0, (w - fixed) / 2));
  setColumnWidth(FileGridModel::kEnd, std::max(0, (w - fixed) / 2));
  setColumnWidth(FileGridModel::kCheck, kCheckWidth);
  setColumnWidth(FileGridModel::kThumbnail, kThumbnailWidth);
}

std::optional<std::uint64_t> CKivView5::currentPosition() const {
  const QModelIndex index = currentIndex();
  if (!index.isValid() || index.row() >= m_model->rowCount()) return std::nullopt;
  return m_model->rows()[static_cast<std::size_t>(index.row())].position;
}

// ---- CKivView6 ----

CKivView6::CKivView6(QWidget* parent) : QTreeWidget(parent) {
  setObjectName(QStringLiteral("logList"));
  setColumnCount(3);
  setHeaderLabels({QStringLiteral("Title"), QStringLiteral("Time"), QStringLiteral("Content")});
  setRootIsDecorated(false);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setUniformRowHeights(true);
  setColumnWidth(0, 150);
  setColumnWidth(1, 150);
}

void CKivView6::addLine(const QString& kind, const QString& time, const QString& text) {
  auto* row = new QTreeWidgetItem(this, {kind, time, text});
  scrollToItem(row);
}

void CKivView6::resizeEvent(QResizeEvent* event) {
  QTreeWidget::resizeEvent(event);
  setColumnWidth(0, 150);
  setColumnWidth(1, 150);
  setColumnWidth(2, std::max(0, viewport()->width() - 300));
}

}  // namespace norvale::ui
