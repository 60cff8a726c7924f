// The views' controls: device rows, the tri-state tree, the file grid and its context menu.
#include <QElapsedTimer>
#include <QHeaderView>
#include <QMenu>

#include "parsers/brand_table.h"
#include "storage/device_record.h"
#include "ui_test_support.h"

using namespace norvale;
using namespace norvale::ui;
using norvale::ui::test::FrameFixture;

namespace {
std::vector<ChannelNode> twoChannels() {
  return {{1, "通道1", {{fileMapKey(1, calendarCode(2016, 5, 17)), "2016年05月17日"}, {fileMapKey(1, calendarCode(2016, 5, 18)), "2016年05月18日"}}},
          {2, "通道2", {{fileMapKey(2, 0), "所有日期"}}}};
}

std::vector<FileRow> manyRows(std::size_t n) {
  std::vector<FileRow> rows(n);
  for (std::size_t i = 0; i < n; ++i) {
    rows[i].position = i;
    rows[i].entry.channel = 3;
    rows[i].entry.size = 1024 * (i + 1);
    rows[i].entry.startTime = static_cast<std::uint32_t>(i);
  }
  return rows;
}

// A packed time of 2016-05-17 08:00:00 (second, minute, hour, day, month, year - 2000).
constexpr std::uint32_t kPacked = (16u << 26) | (5u << 22) | (17u << 17) | (8u << 12);
}  // namespace

class ViewsTest : public QObject {
  Q_OBJECT

 private slots:
  void typeColumnSelectsTheBrandForDeviceAndPartitionRows() {
    FrameFixture f;
    f.frame->show();
    DeviceRecord disk;
    disk.name = "disk";
    disk.size = 1 << 20;
    PartitionRecord partition;
    partition.name = "Partition0";
    partition.start = 2048 * 512;
    partition.size = 1024 * 512;
    disk.partitions.push_back(partition);
    DeviceRecord blank;
    blank.name = "blank";
    blank.size = 4096;
    auto* view = f.main().devices();
    view->fill({&disk, &blank}, {QStringLiteral("2"), QString()});
    QCOMPARE(view->currentItem(), view->topLevelItem(0));
    QCOMPARE(view->topLevelItem(0)->text(kColDevice), QStringLiteral("磁盘:disk"));
    QTreeWidgetItem* partitionRow = view->topLevelItem(0)->child(0);
    QCOMPARE(partitionRow->text(kColDevice), QStringLiteral("分区:Partition0"));
    QCOMPARE(partitionRow->text(kColStart), QStringLiteral("1.0 MB"));
    QCOMPARE(CKivView1::typeBrandOf(view->topLevelItem(0)), 2);
    QCOMPARE(CKivView1::typeBrandOf(partitionRow), 2);
    QCOMPARE(CKivView1::typeBrandOf(view->topLevelItem(1)), 0);

    QVERIFY(QTest::qWaitForWindowExposed(f.frame.get()));
    view->scrollToItem(partitionRow);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualItemRect(partitionRow).center());
    QCOMPARE(f.main().brands()->selectedNumber(), 2);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualItemRect(view->topLevelItem(1)).center());
    QCOMPARE(f.main().brands()->selectedNumber(), 0);
  }

  void partitionRowSelectsItsRange() {
    FrameFixture f;
    f.addSample();
    QVERIFY(!f.frame->state().devices.empty());
    DeviceRecord& disk = *f.frame->state().devices[0];
    PartitionRecord partition;
    partition.start = 8 * 512;
    partition.size = 16 * 512;
    disk.partitions.push_back(partition);
    f.frame->addImageFiles({});  // nothing added, nothing refilled
    auto* view = f.main().devices();
    view->fill({&disk}, {QString()});
    view->setCurrentItem(view->topLevelItem(0)->child(0));
    const DeviceSelection selection = f.frame->deviceSelection();
    QCOMPARE(selection.device, &disk);
    QCOMPARE(selection.startSector, 8u);
    QCOMPARE(selection.sectorCount, 16u);
  }

  void imageThatCannotBeOpenedIsNotAdded() {
    FrameFixture f;
    f.frame->addImageFiles({qs(f.dir.file("missing.img"))});
    QCOMPARE(f.main().devices()->topLevelItemCount(), 0);
    QVERIFY(f.frame->state().devices.empty());
  }

  void imagesAreNumberedByTheDevicesBeforeThem() {
    FrameFixture f;
    f.addSample();
    f.frame->addImageFiles({f.image, f.image});
    QCOMPARE(f.frame->state().devices.size(), 3u);
    QCOMPARE(f.frame->state().devices[2]->driveNumber, 20);
    QCOMPARE(f.main().devices()->topLevelItem(2)->text(kColFs), QStringLiteral("#20"));
  }

  void treeChecksPropagateDownAndUp() {
    CKivView4 tree(nullptr);
    tree.rebuild(twoChannels());
    QTreeWidgetItem* root = tree.topLevelItem(0);
    QCOMPARE(root->text(0), QStringLiteral("监控录像文件目录"));
    QCOMPARE(root->checkState(0), Qt::Unchecked);
    QTreeWidgetItem* channel1 = root->child(0);
    QCOMPARE(channel1->child(1)->text(0), QStringLiteral("2016年05月18日"));
    QCOMPARE(root->child(1)->child(0)->text(0), QStringLiteral("所有日期"));

    // One day checked: its channel and the root become mixed.
    channel1->child(0)->setCheckState(0, Qt::Checked);
    QCOMPARE(channel1->checkState(0), Qt::PartiallyChecked);
    QCOMPARE(root->checkState(0), Qt::PartiallyChecked);
    // The other day too: the channel is checked, the root still mixed.
    channel1->child(1)->setCheckState(0, Qt::Checked);
    QCOMPARE(channel1->checkState(0), Qt::Checked);
    QCOMPARE(root->checkState(0), Qt::PartiallyChecked);
    // Checking the root checks every descendant; unchecking it clears them all.
    root->setCheckState(0, Qt::Checked);
    QCOMPARE(root->child(1)->child(0)->checkState(0), Qt::Checked);
    root->setCheckState(0, Qt::Unchecked);
    QCOMPARE(channel1->child(0)->checkState(0), Qt::Unchecked);
    QCOMPARE(channel1->checkState(0), Qt::Unchecked);
  }

  void clickOnAMixedNodeChecksIt() {
    CKivView4 tree(nullptr);
    tree.resize(300, 300);
    tree.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tree));
    tree.rebuild(twoChannels());
    QTreeWidgetItem* root = tree.topLevelItem(0);
    root->child(0)->child(0)->setCheckState(0, Qt::Checked);
    QCOMPARE(root->checkState(0), Qt::PartiallyChecked);
    // A click on the check box goes through the view's delegate as a user click does.
    const QModelIndex index = tree.model()->index(0, 0);
    QStyleOptionViewItem option;
    option.initFrom(&tree);
    option.rect = tree.visualRect(index);
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    const QRect box = tree.style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, &tree);
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, box.center());
    QCOMPARE(root->checkState(0), Qt::Checked);
    QCOMPARE(root->child(1)->child(0)->checkState(0), Qt::Checked);
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, box.center());
    QCOMPARE(root->checkState(0), Qt::Unchecked);
    QCOMPARE(root->child(0)->child(0)->checkState(0), Qt::Unchecked);
  }

  void emptyTreeListLeavesTheTreeAsItIs() {
    CKivView4 tree(nullptr);
    tree.rebuild(twoChannels());
    tree.rebuild({});
    QCOMPARE(tree.topLevelItemCount(), 1);
    QCOMPARE(tree.topLevelItem(0)->childCount(), 2);
  }

  void gridFormatsRowsAndChecksThem() {
    FileGridModel model;
    std::vector<FileRow> rows(2);
    rows[0].position = 7;
    rows[0].entry.channel = 2;
    rows[0].entry.size = 1023;
    rows[0].entry.startTime = kPacked;
    rows[0].entry.endTime = kPacked + 5;
    rows[1].position = 9;
    rows[1].entry.size = 1572864;
    model.setRows(rows, timeConventionFor(2, 0));
    QCOMPARE(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("通道"));
    QCOMPARE(model.headerData(4, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("校验"));
    QCOMPARE(model.data(model.index(0, FileGridModel::kChannel), Qt::DisplayRole).toString(), QStringLiteral("2"));
    QCOMPARE(model.data(model.index(0, FileGridModel::kSize), Qt::DisplayRole).toString(), QStringLiteral("1023.0 Bytes"));
    QCOMPARE(model.data(model.index(1, FileGridModel::kSize), Qt::DisplayRole).toString(), QStringLiteral("1.5 MB"));
    QCOMPARE(model.data(model.index(0, FileGridModel::kStart), Qt::DisplayRole).toString(),
             QStringLiteral("2016年05月17日 08时00分00秒"));
    QCOMPARE(model.data(model.index(0, FileGridModel::kEnd), Qt::DisplayRole).toString(),
             QStringLiteral("2016年05月17日 08时00分05秒"));
    QCOMPARE(model.data(model.index(1, FileGridModel::kCheck), Qt::DisplayRole).toString(), QStringLiteral("9"));
    QVERIFY(model.positions(true).empty());
    QCOMPARE(model.positions(false), (std::vector<std::uint64_t>{7, 9}));
    QVERIFY(model.setData(model.index(1, 0), Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(model.positions(true), std::vector<std::uint64_t>{9});
    model.setAllChecked(true);
    QCOMPARE(model.positions(true), (std::vector<std::uint64_t>{7, 9}));
    model.setAllChecked(false);
    QVERIFY(model.positions(true).empty());
  }

  void checkColumnShowsTheHashOnceExportedAndKeepsItAcrossListings() {
    FileGridModel model;
    std::vector<FileRow> rows(2);
    rows[0].position = 7;
    rows[1].position = 9;
    model.setRows(rows, timeConventionFor(2, 0));
    const QString hash(64, QLatin1Char('a'));
    model.setHash(9, hash);
    QCOMPARE(model.data(model.index(1, FileGridModel::kCheck), Qt::DisplayRole).toString(), hash);
    QCOMPARE(model.data(model.index(1, FileGridModel::kCheck), Qt::ToolTipRole).toString(), hash);
    QCOMPARE(model.data(model.index(0, FileGridModel::kCheck), Qt::DisplayRole).toString(), QStringLiteral("7"));
    model.clear();  // another day is listed, then this one again
    model.setRows(rows, timeConventionFor(2, 0));
    QCOMPARE(model.data(model.index(1, FileGridModel::kCheck), Qt::DisplayRole).toString(), hash);
    model.clearHashes();  // another task
    QCOMPARE(model.data(model.index(1, FileGridModel::kCheck), Qt::DisplayRole).toString(), QStringLiteral("9"));
  }

  void contextMenuOnRowsOnlyAndItsItems() {
    FrameFixture f;
    f.frame->show();
    f.startSampleScan();
    QVERIFY(f.waitIdle());
    CKivView5* grid = f.files()->grid();
    grid->grid()->setRows(manyRows(3), timeConventionFor(18, 1));
    QVERIFY(QTest::qWaitForWindowExposed(f.frame.get()));
    QMenu* menu = grid->contextMenuAt(grid->visualRect(grid->grid()->index(1, 1)).center());
    QVERIFY(menu);
    QStringList texts;
    for (QAction* a : menu->actions()) texts << a->text();
    QCOMPARE(texts, (QStringList{"多项导出", "全部选择", "全部取消"}));
    const QRect last = grid->visualRect(grid->grid()->index(2, 1));
    QVERIFY(!grid->contextMenuAt(QPoint(last.center().x(), last.bottom() + 30)));
    menu->actions()[1]->trigger();
    QCOMPARE(grid->grid()->positions(true).size(), 3u);
    menu->actions()[2]->trigger();
    QVERIFY(grid->grid()->positions(true).empty());
    // "多项导出" with nothing checked asks nothing.
    menu->actions()[0]->trigger();
    QVERIFY(f.prompter.messages.empty());
    QVERIFY(!f.frame->busy());
  }

  void gridColumnsFollowTheWidth() {
    CKivView5 grid(nullptr);
    grid.resize(1250, 400);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    const int w = grid.viewport()->width();
    QCOMPARE(grid.columnWidth(0), 100);
    QCOMPARE(grid.columnWidth(1), 150);
    QCOMPARE(grid.columnWidth(2), (w - 250 - CKivView5::kCheckWidth) / 2);
    QCOMPARE(grid.columnWidth(3), (w - 250 - CKivView5::kCheckWidth) / 2);
    QCOMPARE(grid.columnWidth(4), CKivView5::kCheckWidth);
    QVERIFY(!grid.isColumnHidden(4));  // "校验" holds the hash of an exported file
  }

  void hundredThousandRowsStayResponsive() {
    CKivView5 grid(nullptr);
    grid.resize(1000, 600);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    auto rows = manyRows(100000);
    QElapsedTimer timer;
    timer.start();
    grid.grid()->setRows(std::move(rows), timeConventionFor(18, 1));
    grid.scrollToBottom();
    grid.grab();
    grid.grid()->setAllChecked(true);
    grid.grab();
    const qint64 elapsed = timer.elapsed();
    QCOMPARE(grid.grid()->rowCount(), 100000);
    QCOMPARE(grid.grid()->positions(true).size(), 100000u);
    qInfo("100000 rows filled, checked and drawn in %lld ms", static_cast<long long>(elapsed));
    QVERIFY2(elapsed < 2000, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
  }

  void modeDoubleClickStartsTheWizard() {
    FrameFixture f;
    f.frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.frame.get()));
    auto* modes = f.main().modes();
    const QPoint point = modes->visualItemRect(modes->item(1)).center();
    QTest::mouseClick(modes->viewport(), Qt::LeftButton, {}, point);
    QTest::mouseDClick(modes->viewport(), Qt::LeftButton, {}, point);
    QCOMPARE(f.messageTexts(), QStringList{QStringLiteral("【选择设备】 -> 选择品牌 -> 解析方式")});
  }
};

QTEST_MAIN(ViewsTest)
#include "views_test.moc"
