// norvale: the desktop application.
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/screenshot_run.h"
#include "app/start_up.h"
#include "task/program_version.h"
#include "ui/main_frame.h"

using norvale::ui::CMainFrame;

namespace {
// The splash stays this long after the device scan; NORVALE_SPLASH_MS or --splash-ms shorten it.
int splashMilliseconds(const QCommandLineParser& parser) {
  bool ok = false;
  int ms = parser.value(QStringLiteral("splash-ms")).toInt(&ok);
  if (!ok) ms = qEnvironmentVariableIntValue("NORVALE_SPLASH_MS", &ok);
  return ok && ms >= 0 ? ms : norvale::ui::kSplashMilliseconds;
}
}  // namespace

int main(int argc, char** argv) {
  // Answered before the application starts, so that it needs no display.
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
      std::printf("%s\n", norvale::versionLine("norvale").c_str());
      return 0;
    }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Norvale"));
  QApplication::setApplicationVersion(QString::fromUtf8(norvale::kProgramVersion));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Recovers recorded video from surveillance recorder disks."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addOption({QStringLiteral("screenshot"),
                    QStringLiteral("Scan the built-in sample image and write pictures of the windows into <dir>."),
                    QStringLiteral("dir")});
  parser.addOption({QStringLiteral("splash-ms"), QStringLiteral("How long the splash stays after the device scan."),
                    QStringLiteral("ms")});
  parser.process(app);

  int rc = 0;
  {
    CMainFrame frame;
    if (parser.isSet(QStringLiteral("screenshot"))) {
      frame.resize(1366, 820);
      frame.show();
      norvale::ui::ScreenshotRun run(frame, parser.value(QStringLiteral("screenshot")));
      QObject::connect(&run, &norvale::ui::ScreenshotRun::finished, &app, [&app](bool ok, const QString& message) {
        std::fprintf(ok ? stdout : stderr, "%s\n", message.toLocal8Bit().constData());
        app.exit(ok ? 0 : 1);
      });
      QTimer::singleShot(0, &run, &norvale::ui::ScreenshotRun::start);
      rc = app.exec();
    } else {
      norvale::ui::showSplashWhileScanning(frame, splashMilliseconds(parser));
      frame.show();
      rc = app.exec();
    }
    if (CMainFrame::workerAbandoned()) {
      // A worker still runs on what the frame left behind: end without tearing anything down.
      std::fflush(nullptr);
      std::_Exit(rc);
    }
  }
  return rc;
}
