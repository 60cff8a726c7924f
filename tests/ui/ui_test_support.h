#pragma once
// A main frame on a generated recorder image, with scripted answers, for the window tests.
#include <QtTest/QtTest>
#include <memory>

#include "sample/sample_image.h"
#include "support/test_support.h"
#include "ui/child_frame.h"
#include "ui/main_frame.h"
#include "ui/prompter.h"
#include "ui/ui_text.h"
#include "ui/views.h"

namespace norvale::ui::test {

// The sample is written in the multi-brand packet format that brands 18 to 48 share.
inline constexpr int kSampleBrand = 18;

struct FrameFixture {
  norvale::test::TempDir dir;
  ScriptedPrompter prompter;
  std::unique_ptr<CMainFrame> frame;
  QString image;

  FrameFixture() {
    frame = std::make_unique<CMainFrame>();
    frame->setPrompter(&prompter);
    frame->settings().taskRoot = dir.file("tasks");
    frame->resize(1200, 800);
  }
  ~FrameFixture() {
    waitIdle();
    frame.reset();
  }

  // Processes events until no worker runs (its last call into the window needs them).
  bool waitIdle(int ms = 60000) {
    return !frame || QTest::qWaitFor([this] { return !frame->busy(); }, ms);
  }

  CChildFrame& main() const { return *frame->mainChild(); }
  CChildFrame* files() const { return frame->fileChild(); }

  // Writes the sample image and lists it as the first device, selected.
  void addSample() {
    image = qs(dir.file("sample.img"));
    QVERIFY(sample::writeSampleImage(u8(image)).has_value());
    frame->addImageFiles({image});
    QCOMPARE(main().devices()->topLevelItemCount(), 1);
    main().devices()->setCurrentItem(main().devices()->topLevelItem(0));
  }

  // Device, brand and deep mode chosen; the task dialog accepted as proposed; scan started.
  void startSampleScan() {
    addSample();
    frame->selectBrand(kSampleBrand);
    main().modes()->setCurrentRow(1);
    frame->onNewTask();
  }

  QStringList messageTexts() const {
    QStringList texts;
    for (const auto& shown : prompter.messages) texts << shown.text;
    return texts;
  }

  // Log rows as "kind|text".
  QStringList logLines() const {
    QStringList lines;
    if (!files()) return lines;
    auto* log = files()->log();
    for (int i = 0; i < log->topLevelItemCount(); ++i)
      lines << log->topLevelItem(i)->text(0) + QLatin1Char('|') + log->topLevelItem(i)->text(2);
    return lines;
  }
};

}  // namespace norvale::ui::test
