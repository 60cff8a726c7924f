// "时间轴": bars and gaps per channel, a click on a bar selects its file in the grid, a drag
// chooses a window and "导出时段" writes it on the worker.
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>

#include "format/local_time.h"
#include "format/time_zone.h"
#include "format/utc_time.h"
#include "ui/dialogs.h"
#include "ui/timeline_view.h"
#include "ui_test_support.h"

using namespace norvale;
using namespace norvale::ui;
using namespace norvale::ui::test;

namespace {

TimeConvention shanghai() {
  TimeConvention c = localEpochConvention();
  c.zone = *TimeZone::named("Asia/Shanghai");
  return c;
}

// A Shanghai wall-clock time of 2024-03-05 + day offset, as the recorder writes it.
std::uint32_t at(int day, int hour, int minute) {
  return static_cast<std::uint32_t>(civilSeconds({2024, 3, day, hour, minute, 0}) - 8 * 3600);
}

// Channel 1: 10:00-11:00 and 12:00-13:00 on the 5th; channel 3: 23:00 on the 5th to 01:00 on the 6th.
FileMap knownMap(const TimeConvention& convention) {
  FileMap map;
  auto add = [&](std::uint8_t channel, std::uint32_t start, std::uint32_t end) {
    FileEntry e;
    e.channel = channel;
    e.startTime = start;
    e.endTime = end - 1;
    map.emplace(fileMapKey(channel, dayCode(convention, start)), e);
  };
  add(1, at(5, 10, 0), at(5, 11, 0));
  add(1, at(5, 12, 0), at(5, 13, 0));
  add(3, at(5, 23, 0), at(6, 1, 0));
  return map;
}

std::int64_t shown(int day, int hour, int minute) { return civilSeconds({2024, 3, day, hour, minute, 0}); }

}  // namespace

class TimelineTest : public QObject {
  Q_OBJECT
 private slots:
  void barsPerChannelAndGapsFromAKnownFileMap() {
    const TimeConvention convention = shanghai();
    const TimelineData data = timelineOf(knownMap(convention), convention);
    QCOMPARE(data.whole, (ClipSpan{shown(5, 10, 0), shown(6, 1, 0)}));
    QCOMPARE(data.rows.size(), 2u);
    QCOMPARE(int(data.rows[0].channel), 1);
    QCOMPARE(data.rows[0].bars.size(), 2u);
    QCOMPARE(data.rows[0].bars[1].span, (ClipSpan{shown(5, 12, 0), shown(5, 13, 0)}));
    QCOMPARE(data.rows[0].gaps,
             (std::vector<ClipSpan>{{shown(5, 11, 0), shown(5, 12, 0)}, {shown(5, 13, 0), shown(6, 1, 0)}}));
    QCOMPARE(data.rows[1].gaps, (std::vector<ClipSpan>{{shown(5, 10, 0), shown(5, 23, 0)}}));

    // Drawn: a bar's middle in the bar colour, a gap's middle in the gap colour.
    TimelineView view;
    view.resize(900, 200);
    view.show();
    view.setData(data);
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const QImage picture = view.canvas()->grab().toImage();
    const QColor bar = picture.pixelColor(view.xOf(shown(5, 10, 30)), view.rowCentre(0));
    const QColor gap = picture.pixelColor(view.xOf(shown(5, 11, 30)), view.rowCentre(0));
    const QColor later = picture.pixelColor(view.xOf(shown(6, 0, 0)), view.rowCentre(1));
    QVERIFY2(bar.blue() > 150 && bar.red() < 100, qPrintable(bar.name()));
    QVERIFY2(gap.red() > 200 && gap.blue() < 230 && gap != bar, qPrintable(gap.name()));
    QCOMPARE(later, bar);
    // Zoomed to the shortest view and scrolled, the view stays inside the task.
    for (int i = 0; i < 20; ++i) view.zoomIn();
    QCOMPARE(view.viewSeconds(), TimelineView::kShortestView);
    view.setView(shown(7, 0, 0), view.viewSeconds());
    QCOMPARE(view.viewFrom() + view.viewSeconds(), data.whole.to);
  }

  void clickOnABarSelectsItsFileInTheGrid() {
    FrameFixture f;
    f.startSampleScan();
    QVERIFY(f.waitIdle());
    TimelineView* timeline = f.files()->timeline();
    QCOMPARE(timeline->data().rows.size(), 4u);  // the sample's four channels
    // The second bar of channel 2 (an 8-second file), zoomed to show it wide.
    const TimelineBar target = timeline->data().rows[1].bars[1];
    timeline->setView(target.span.from - 20, 60);
    QTest::mouseClick(timeline->canvas(), Qt::LeftButton, {},
                      QPoint(timeline->xOf(target.span.from + 4), timeline->rowCentre(1)));
    QVERIFY(f.waitIdle());
    QCOMPARE(f.files()->grid()->currentPosition(), std::optional<std::uint64_t>(target.position));
  }

  void dragChoosesTheWindowAndExportRunsItOnTheWorker() {
    FrameFixture f;
    f.startSampleScan();
    QVERIFY(f.waitIdle());
    TimelineView* timeline = f.files()->timeline();
    QVERIFY(!timeline->exportButton()->isEnabled());
    QSignalSpy chosen(timeline, &TimelineView::windowChosen);
    const int x0 = timeline->xOf(timeline->viewFrom()) + 100, x1 = x0 + 200;
    QWidget* canvas = timeline->canvas();
    QTest::mousePress(canvas, Qt::LeftButton, {}, QPoint(x0, 10));
    QMouseEvent move(QEvent::MouseMove, QPointF(x1, 12), canvas->mapToGlobal(QPointF(x1, 12)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(canvas, &move);
    QTest::mouseRelease(canvas, Qt::LeftButton, {}, QPoint(x1, 12));
    QCOMPARE(chosen.count(), 1);
    const ClipSpan expected{timeline->secondsAt(x0), timeline->secondsAt(x1)};
    QCOMPARE(chosen[0][0].toLongLong(), expected.from);
    QCOMPARE(chosen[0][1].toLongLong(), expected.to);
    QCOMPARE(timeline->selection(), std::optional<ClipSpan>(expected));
    QVERIFY(timeline->exportButton()->isEnabled());

    QString title;
    f.prompter.onDialog = [&](QDialog& dialog) {
      title = dialog.windowTitle();
      auto* choice = qobject_cast<CExportDlg*>(&dialog);
      if (!choice) return false;
      choice->folderEdit()->setText(qs(f.dir.file("clips")));
      return ScriptedPrompter::pressOk(dialog);
    };
    timeline->exportButton()->click();
    QVERIFY(f.waitIdle());
    QCOMPARE(title, QStringLiteral("导出时段"));
    const QString log = f.logLines().join('\n');
    QVERIFY2(log.contains(QStringLiteral("导出时段 ") + qs(windowTimeText(expected.from))), qPrintable(log));
  }
};

QTEST_MAIN(TimelineTest)
#include "timeline_test.moc"
