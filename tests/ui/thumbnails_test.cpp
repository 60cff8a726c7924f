// The file grid's thumbnails: made for the rows drawn, off the interface thread, kept in the task
// folder, never beside a command worker; "显示缩略图" turns them on and off.
#include <QBuffer>
#include <QCheckBox>
#include <QHeaderView>
#include <QTableView>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>

#include "convert/thumbnail.h"
#include "export/exporter.h"
#include "parsers/brand_table.h"
#include "task/result_store.h"
#include "ui/thumbnails.h"
#include "ui_test_support.h"

using namespace norvale;
using namespace norvale::ui;
using namespace norvale::ui::test;

namespace {
std::vector<FileRow> rowsAt(std::size_t n) {
  std::vector<FileRow> rows(n);
  for (std::size_t i = 0; i < n; ++i) rows[i].position = i;
  return rows;
}

std::vector<std::uint8_t> pngOf(QColor color) {
  QImage image(160, 120, QImage::Format_RGB888);
  image.fill(color);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return {bytes.begin(), bytes.end()};
}

// A maker whose thumbnails are plain pictures, recording which files were asked for.
struct RecordingMaker {
  std::mutex mutex;
  std::set<std::uint64_t> asked;
  std::atomic<bool> idle{true};
  ThumbnailMaker maker{[this](std::uint64_t position) -> Result<convert::Thumbnail> {
                         std::lock_guard lock(mutex);
                         asked.insert(position);
                         return convert::Thumbnail{pngOf(Qt::darkGreen), 160, 120, false};
                       },
                       [this] { return idle.load(); }};
  std::set<std::uint64_t> askedSoFar() {
    std::lock_guard lock(mutex);
    return asked;
  }
};

// The scanned sample with the first day of channel 1 listed, the frame shown.
bool listFirstDay(FrameFixture& f) {
  f.frame->show();
  f.startSampleScan();
  if (!f.waitIdle() || !f.files()) return false;
  QTreeWidgetItem* root = f.files()->tree()->topLevelItem(0);
  if (!root || !root->childCount() || !root->child(0)->childCount()) return false;
  f.files()->tree()->setCurrentItem(root->child(0)->child(0));
  return f.waitIdle() && f.files()->grid()->grid()->rowCount() == 2 && QTest::qWaitForWindowExposed(f.frame.get());
}

bool allMade(FrameFixture& f) {
  return QTest::qWaitFor([&] {
    for (const FileRow& row : f.files()->grid()->grid()->rows())
      if (!f.frame->thumbnails()->find(row.position)) return false;
    return !f.frame->thumbnails()->running();
  }, 30000);
}

QVariant thumbnailCell(FileGridModel* grid, int row, int role) {
  return grid->data(grid->index(row, FileGridModel::kThumbnail), role);
}
}  // namespace

class ThumbnailsTest : public QObject {
  Q_OBJECT
 private slots:
  void onlyTheRowsInViewAreAskedFor() {
    RecordingMaker r;
    FileGridModel model;
    model.setThumbnails(&r.maker);
    model.setThumbnailsShown(true);
    model.setRows(rowsAt(60), timeConventionFor(18, 1));
    QTableView view;
    view.verticalHeader()->setDefaultSectionSize(CKivView5::kThumbnailRowHeight);
    view.setModel(&model);
    view.resize(700, 350);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QVERIFY(QTest::qWaitFor([&] { return r.maker.find(0) && r.maker.find(2); }, 10000));
    QTest::qWait(300);
    auto asked = r.askedSoFar();
    QVERIFY2(asked.size() <= 5, qPrintable(QString::number(asked.size())));
    QVERIFY(!asked.contains(59));
    QCOMPARE(thumbnailCell(&model, 0, Qt::DecorationRole).value<QImage>().size(), QSize(128, 96));
    QVERIFY(thumbnailCell(&model, 0, Qt::DisplayRole).isNull());
    QCOMPARE(thumbnailCell(&model, 59, Qt::DisplayRole).toString(), qs(kThumbnailPendingText));
    view.scrollToBottom();
    QVERIFY(QTest::qWaitFor([&] { return r.maker.find(59) != nullptr; }, 10000));
  }

  void nothingIsMadeWhileACommandWorkerRuns() {
    RecordingMaker r;
    r.idle = false;
    r.maker.want(4);
    QTest::qWait(600);
    QVERIFY(r.askedSoFar().empty());
    QVERIFY(!r.maker.running());
    r.idle = true;  // the worker has let go: the maker tries again by itself
    QVERIFY(QTest::qWaitFor([&] { return r.maker.find(4) != nullptr; }, 5000));
  }

  void visibleRowsGetThumbnailsKeptInTheTaskFolder() {
    FrameFixture f;
    QVERIFY(listFirstDay(f));
    auto* grid = f.files()->grid()->grid();
    QVERIFY(f.files()->grid()->isColumnHidden(FileGridModel::kThumbnail));  // off at first
    QVERIFY(thumbnailCell(grid, 0, Qt::DisplayRole).isNull());
    QVERIFY(!f.frame->thumbnails()->running());
    f.files()->thumbnailToggle()->setChecked(true);
    QVERIFY(!f.files()->grid()->isColumnHidden(FileGridModel::kThumbnail));
    QVERIFY(allMade(f));
    for (int row = 0; row < 2; ++row) {
      const std::uint64_t position = grid->rows()[static_cast<std::size_t>(row)].position;
      const ShownThumbnail* shown = f.frame->thumbnails()->find(position);
      QVERIFY2(!shown->image.isNull(), qPrintable(shown->failure));
      QVERIFY(!shown->fromCache);
      QVERIFY(std::filesystem::exists(convert::thumbnailPath(f.frame->task(), position)));
      QVERIFY(!thumbnailCell(grid, row, Qt::DecorationRole).value<QImage>().isNull());
    }
    // The same task again: read from the task folder, nothing decoded.
    f.frame->thumbnails()->reset();
    f.files()->grid()->viewport()->update();
    QVERIFY(allMade(f));
    for (const FileRow& row : grid->rows()) QVERIFY(f.frame->thumbnails()->find(row.position)->fromCache);

    // Turned off: no column, no picture, the rows as high as before.
    f.files()->thumbnailToggle()->setChecked(false);
    QVERIFY(f.files()->grid()->isColumnHidden(FileGridModel::kThumbnail));
    QVERIFY(thumbnailCell(grid, 0, Qt::DecorationRole).isNull());
    QCOMPARE(f.files()->grid()->rowHeight(0), CKivView5::kRowHeight);
  }

  void aFileWhoseBytesHoldNoPictureShowsTheFailureText() {
    FrameFixture f;
    QVERIFY(listFirstDay(f));
    // The second file's bytes on the image are wiped after the scan.
    const std::uint64_t position = f.files()->grid()->grid()->rows()[1].position;
    TaskContext& task = f.frame->task();
    const FileEntry entry = fileMapEntries(task)[position].second;
    auto records = task.store->readFileRecords(entry, 0, entry.recordCount());
    QVERIFY(records && !records->empty());
    {
      std::fstream image(u8(f.image), std::ios::in | std::ios::out | std::ios::binary);
      for (const SegmentRecord& record : *records) {
        image.seekp(static_cast<std::streamoff>(record.deviceOffset));
        const std::vector<char> zeros(record.size, 0);
        image.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
      }
      QVERIFY(image.good());
    }
    f.files()->thumbnailToggle()->setChecked(true);
    QVERIFY(allMade(f));
    auto* grid = f.files()->grid()->grid();
    QCOMPARE(thumbnailCell(grid, 1, Qt::DisplayRole).toString(), qs(kNoPictureText));
    QVERIFY(!thumbnailCell(grid, 1, Qt::ToolTipRole).toString().isEmpty());
    QVERIFY(!thumbnailCell(grid, 0, Qt::DecorationRole).value<QImage>().isNull());
    QVERIFY(!std::filesystem::exists(convert::thumbnailPath(task, position)));  // a failure is not kept
  }

  void aCommandWaitsForTheThumbnailAndClosingTheTaskMeanwhileIsSafe() {
    FrameFixture f;
    QVERIFY(listFirstDay(f));
    ThumbnailMaker* maker = f.frame->thumbnails();
    const auto rows = f.files()->grid()->grid()->rows();
    const std::uint64_t day = f.files()->tree()->currentItem()->data(0, kFileMapKeyRole).toULongLong();
    maker->want(rows[0].position);
    maker->pump();
    QVERIFY(maker->running());
    // A command while a thumbnail reads the task is held back, not refused, and counts as busy.
    f.frame->listFiles(day);
    QVERIFY(f.frame->busy());
    QVERIFY(f.prompter.messages.empty() && f.logLines().filter(qs(kBusyMessage)).isEmpty());
    QVERIFY(f.waitIdle());
    QCOMPARE(f.files()->grid()->grid()->rowCount(), 2);  // the held listing ran
    QVERIFY(maker->find(rows[0].position));
    // The task is closed while a thumbnail is being made: it waits, then the result is dropped.
    std::filesystem::remove(convert::thumbnailPath(f.frame->task(), rows[1].position));
    maker->want(rows[1].position);
    maker->pump();
    QVERIFY(maker->running());
    f.frame->onBack();
    QVERIFY(!f.files());
    QVERIFY(QTest::qWaitFor([&] { return !maker->running(); }, 5000));
    QVERIFY(!maker->find(rows[0].position) && !maker->find(rows[1].position));
  }
};

QTEST_MAIN(ThumbnailsTest)
#include "thumbnails_test.moc"
