#pragma once
// The six views of the two child windows and the controls they are made of.
#include <QAbstractTableModel>
#include <QListWidget>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTreeWidget>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "task/result_listing.h"
#include "format/time_convention.h"

class QMenu;

namespace norvale {
struct DeviceRecord;
}

namespace norvale::ui {

class CMainFrame;
class ThumbnailMaker;

// Item roles of the trees.
inline constexpr int kDeviceIndexRole = Qt::UserRole + 1;     // index in the device list
inline constexpr int kPartitionIndexRole = Qt::UserRole + 2;  // -1 for a device row
inline constexpr int kFileMapKeyRole = Qt::UserRole + 3;      // day nodes of the channel tree

// Device list columns.
enum DeviceColumn { kColDevice, kColLabel, kColFs, kColStart, kColSize, kColType, kColProp, kDeviceColumns };

// CKivView1: the devices and their partitions.
class CKivView1 final : public QTreeWidget {
  Q_OBJECT
 public:
  explicit CKivView1(CMainFrame* frame);
  // Rebuilds the rows; brands[i] is the signature brand of devices[i] (empty when unknown).
  void fill(const std::vector<const DeviceRecord*>& devices, const std::vector<QString>& brands);
  // The brand the "Type" column names for a row, or for its parent when it is a partition row.
  static int typeBrandOf(const QTreeWidgetItem* item);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  CMainFrame* m_frame;
};

// kivListBox: 40-pixel items, the selected one filled blue with white text.
class KivItemDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

class KivListBox : public QListWidget {
  Q_OBJECT
 public:
  explicit KivListBox(QWidget* parent = nullptr);
  // The number between "[" and "]" of the selected item's text, or -1 without a selection.
  int selectedNumber() const;
};

// CKivView2: the brand list, the unknown brand and every id of the brand table.
class CKivView2 final : public KivListBox {
  Q_OBJECT
 public:
  explicit CKivView2(CMainFrame* frame);
};

// CKivView3: the two parse modes; a double-click starts a new task.
class CKivView3 final : public KivListBox {
  Q_OBJECT
 public:
  explicit CKivView3(CMainFrame* frame);
};

// CKivView4: the channel / day tree with tri-state check boxes.
class CKivView4 final : public QTreeWidget {
  Q_OBJECT
 public:
  explicit CKivView4(CMainFrame* frame);
  // Rebuilds the tree; an empty list leaves it as it is.
  void rebuild(const std::vector<ChannelNode>& channels);

 private:
  CMainFrame* m_frame;
};

// The file grid's rows: light records formatted only when a cell is drawn.
class FileGridModel final : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { kChannel, kSize, kStart, kEnd, kCheck, kThumbnail, kColumns };
  using QAbstractTableModel::QAbstractTableModel;

  void setRows(std::vector<FileRow> rows, TimeConvention convention);
  // The rows go; the hashes stay (the same task's files are listed again day by day).
  void clear();
  // "校验" shows a file's SHA-256 once it has been exported, else its file-map reference.
  void setHash(std::uint64_t position, const QString& sha256);
  void clearHashes();
  void setAllChecked(bool checked);
  // File-map positions of all rows, or of the checked ones, in row order.
  std::vector<std::uint64_t> positions(bool checkedOnly) const;
  const std::vector<FileRow>& rows() const { return m_rows; }
  // "缩略图": each drawn row asks the maker for its file's thumbnail (not owned; may be null).
  void setThumbnails(ThumbnailMaker* maker);
  void setThumbnailsShown(bool shown);
  bool thumbnailsShown() const { return m_thumbnailsShown; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  std::vector<FileRow> m_rows;
  std::vector<char> m_checked;
  TimeConvention m_convention;
  std::map<std::uint64_t, QString> m_hashes;  // by file-map position
  ThumbnailMaker* m_thumbnails = nullptr;
  bool m_thumbnailsShown = false;
};

// CKivView5: the file grid of the selected day.
class CKivView5 final : public QTableView {
  Q_OBJECT
 public:
  static constexpr int kCheckWidth = 200;  // "校验": the start of a hash, all of it as the tip
  static constexpr int kRowHeight = 22;
  static constexpr int kThumbnailRowHeight = 100;   // a thumbnail fitted into 128 × 96
  static constexpr int kThumbnailWidth = 136;
  explicit CKivView5(CMainFrame* frame);
  FileGridModel* grid() const { return m_model; }
  // The file-map position of the current row; empty without one.
  std::optional<std::uint64_t> currentPosition() const;
  // The context menu for a click at pos, or null below the last row.
  QMenu* contextMenuAt(const QPoint& pos);
  // Shows or hides the thumbnail column (off at first).
  void setThumbnailsShown(bool shown);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void fitColumns();

  CMainFrame* m_frame;
  FileGridModel* m_model;
  QMenu* m_menu;
};

// CKivView6: the log list.
class CKivView6 final : public QTreeWidget {
  Q_OBJECT
 public:
  explicit CKivView6(QWidget* parent = nullptr);
  void addLine(const QString& kind, const QString& time, const QString& text);

 protected:
  void resizeEvent(QResizeEvent* event) override;
};

}  // namespace norvale::ui
