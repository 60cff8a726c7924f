// "视频预览", "视频转化" and the hashes of exported files in the file grid.
#include <QLabel>
#include <QLineEdit>
#include <filesystem>

#include "convert/converter.h"
#include "export/exporter.h"
#include "export/manifest.h"
#include "ui/dialogs.h"
#include "ui_test_support.h"

using namespace norvale;
using namespace norvale::ui;
using namespace norvale::ui::test;

namespace {
// The scanned sample with the first day of channel 1 listed in the grid.
bool listFirstDay(FrameFixture& f) {
  f.startSampleScan();
  if (!f.waitIdle() || !f.files()) return false;
  QTreeWidgetItem* root = f.files()->tree()->topLevelItem(0);
  if (!root || !root->childCount() || !root->child(0)->childCount()) return false;
  f.files()->tree()->setCurrentItem(root->child(0)->child(0));
  return f.waitIdle() && f.files()->grid()->grid()->rowCount() == 2;
}
// The export dialog is answered with the folder out.
void exportInto(FrameFixture& f, const QString& out) {
  f.prompter.onDialog = [out](QDialog& dialog) {
    auto* choice = qobject_cast<CExportDlg*>(&dialog);
    if (!choice) return false;
    choice->folderEdit()->setText(out);
    return ScriptedPrompter::pressOk(dialog);
  };
}
}  // namespace

class ConvertTest : public QObject {
  Q_OBJECT
 private slots:
  void previewShowsTheSelectedFilesPictureAndFacts() {
    FrameFixture f;
    QVERIFY(listFirstDay(f));
    std::optional<PreviewInfo> shown;
    QSize pictureSize;
    f.prompter.onDialog = [&](QDialog& dialog) {
      auto* preview = qobject_cast<CPreviewDlg*>(&dialog);
      if (!preview) return false;
      pictureSize = preview->pictureLabel()->pixmap().size();
      QStringList texts;
      for (QLabel* label : dialog.findChildren<QLabel*>()) texts << label->text();
      shown = PreviewInfo{};
      shown->codec = texts.join(QLatin1Char('|'));
      return ScriptedPrompter::pressOk(dialog);
    };
    f.files()->grid()->selectRow(1);
    f.frame->onPreview();
    QVERIFY(f.waitIdle());
    QVERIFY(QTest::qWaitFor([&] { return shown.has_value(); }, 10000));
    QCOMPARE(pictureSize, QSize(352, 288));
    const QString texts = shown->codec;
    QVERIFY2(texts.contains(QStringLiteral("200 (关键帧 8)")), qPrintable(texts));
    QVERIFY(texts.contains(QStringLiteral("h264")));
    QVERIFY(texts.contains(QStringLiteral("2016年05月17日 20时00分00秒")));  // the second row's start
    QVERIFY(texts.contains(QStringLiteral("2016年05月17日 20时00分07秒")));
  }

  void previewSaysWhatTheMp4MakesOfTheAudioAndTheClock() {
    struct Case {
      const char* codec;
      const char* says;
    };
    const Case cases[] = {
        {"", "无"},
        {"pcm_alaw", "pcm_alaw (转化后的 MP4 转为 AAC)"},
        {"pcm_mulaw", "pcm_mulaw (转化后的 MP4 转为 AAC)"},
        {"pcm_s16le", "pcm_s16le (转化后的 MP4 转为 AAC)"},
        {"aac", "aac (转化后的 MP4 原样保存为 AAC)"},
        {"codec 7", "codec 7 (转化后的 MP4 不含此音频)"},
    };
    for (const Case& c : cases) {
      PreviewInfo info;
      info.streamRead = true;
      info.audio = qs(c.codec);
      info.clockTrack = std::string_view(c.codec) == "aac";
      CPreviewDlg dialog(info);
      QStringList texts;
      for (QLabel* label : dialog.findChildren<QLabel*>()) texts << label->text();
      QVERIFY2(texts.contains(qs(c.says)), qPrintable(texts.join('|')));
      QVERIFY(texts.contains(info.clockTrack ? QStringLiteral("转化后的 MP4 带录像机时钟字幕 (逐秒)")
                                             : QStringLiteral("转化后的 MP4 不带录像机时钟")));
    }
    // A file whose stream could not be read claims neither.
    PreviewInfo unread;
    unread.problem = QStringLiteral("no task is open");
    CPreviewDlg dialog(unread);
    QStringList texts;
    for (QLabel* label : dialog.findChildren<QLabel*>()) texts << label->text();
    QCOMPARE(texts.count(QStringLiteral("未知")), 3);  // codec, audio, clock
  }

  void previewOfTheSampleSaysItsClockIsCarriedAndItHasNoAudio() {
    FrameFixture f;
    QVERIFY(listFirstDay(f));
    QStringList texts;
    f.prompter.onDialog = [&](QDialog& dialog) {
      if (!qobject_cast<CPreviewDlg*>(&dialog)) return false;
      for (QLabel* label : dialog.findChildren<QLabel*>()) texts << label->text();
      return ScriptedPrompter::pressOk(dialog);
    };
    f.files()->grid()->selectRow(0);
    f.frame->onPreview();
    QVERIFY(f.waitIdle());
    QVERIFY(QTest::qWaitFor([&] { return !texts.isEmpty(); }, 10000));
    QVERIFY2(texts.contains(QStringLiteral("音频:")) && texts.contains(QStringLiteral("无")), qPrintable(texts.join('|')));
    QVERIFY(texts.contains(QStringLiteral("转化后的 MP4 带录像机时钟字幕 (逐秒)")));
  }

  void previewWithoutASelectedRowAsksForOne() {
    FrameFixture f;
    QVERIFY(listFirstDay(f));
    f.files()->grid()->clearSelection();
    f.files()->grid()->setCurrentIndex({});
    f.frame->onPreview();
    QCOMPARE(f.messageTexts().value(0), QStringLiteral("请在文件列表中选择要预览的文件"));
    QVERIFY(!f.frame->busy());
  }

  void convertWritesTheCheckedFilesWithProgressAndLog() {
    FrameFixture f;
    QVERIFY(listFirstDay(f));
    f.frame->onConvert();  // nothing checked yet
    QCOMPARE(f.messageTexts().value(0), QStringLiteral("请在文件列表中勾选要转化的文件"));
    auto* grid = f.files()->grid()->grid();
    grid->setData(grid->index(1, 0), Qt::Checked, Qt::CheckStateRole);
    const QString out = qs(f.dir.file("mp4"));
    QString title;
    f.prompter.onDialog = [&](QDialog& dialog) {
      auto* choice = qobject_cast<CExportDlg*>(&dialog);
      if (!choice) return false;
      title = dialog.windowTitle();
      choice->folderEdit()->setText(out);
      return ScriptedPrompter::pressOk(dialog);
    };
    f.frame->onConvert();
    // A second command while the conversion runs is refused by the busy rule.
    if (f.frame->busy()) {
      f.frame->onConvert();
      QVERIFY(f.messageTexts().contains(qs(kBusyMessage)));
    }
    QVERIFY(f.waitIdle());
    QCOMPARE(title, QStringLiteral("视频转化"));
    const auto names = convert::convertRelativePaths(f.frame->task());
    const std::string written = u8(out) + "/" + names[grid->rows()[1].position];
    QVERIFY2(std::filesystem::exists(written), written.c_str());
    QCOMPARE(readManifest(u8(out)).size(), 1u);
    QCOMPARE(f.files()->strip()->field(2).left(13), QStringLiteral("数量: 1 / 1  大小"));
    QVERIFY2(f.logLines().last().contains(QStringLiteral("视频转化完成: 1 / 1")), qPrintable(f.logLines().join('\n')));
    // The log says what the file holds: its pictures and the recorder's clock (8 recorded seconds).
    QVERIFY2(f.logLines().join('\n').contains(QStringLiteral("200 帧, 时钟字幕 8 秒")), qPrintable(f.logLines().join('\n')));
  }

  void aStopPressedWhileIdleDoesNotStopTheNextExport() {
    FrameFixture f;
    QVERIFY(listFirstDay(f));
    f.frame->action(kCmdStop)->trigger();
    const QString out = qs(f.dir.file("out"));
    exportInto(f, out);
    f.frame->onExport();
    QVERIFY(f.waitIdle());
    QCOMPARE(readManifest(u8(out)).size(), 2u);
  }

  void exportPutsTheHashIntoTheCheckColumn() {
    FrameFixture f;
    QVERIFY(listFirstDay(f));
    auto* grid = f.files()->grid()->grid();
    const QString before = grid->data(grid->index(0, FileGridModel::kCheck), Qt::DisplayRole).toString();
    QCOMPARE(before, QString::number(grid->rows()[0].position));
    const QString out = qs(f.dir.file("out"));
    exportInto(f, out);
    f.frame->onExport();
    QVERIFY(f.waitIdle());
    const auto lines = readManifest(u8(out));
    QCOMPARE(lines.size(), 2u);
    const auto paths = exportRelativePaths(f.frame->task());
    for (int row = 0; row < 2; ++row) {
      const QString shown = grid->data(grid->index(row, FileGridModel::kCheck), Qt::DisplayRole).toString();
      const std::string expected = sha256OfFile(u8(out) + "/" + paths[grid->rows()[static_cast<std::size_t>(row)].position]);
      QCOMPARE(shown, qs(expected));
    }
  }
};

QTEST_MAIN(ConvertTest)
#include "convert_test.moc"
