#include "app/start_up.h"

#include <QPointer>
#include <QTimer>

#include "ui/dialogs.h"
#include "ui/main_frame.h"

namespace norvale::ui {

void showSplashWhileScanning(CMainFrame& frame, int delayMs) {
  CSplashDlg splash;
  QPointer<CSplashDlg> shown(&splash);
  frame.startDeviceScan([shown, delayMs] {
    if (shown) QTimer::singleShot(delayMs, shown, &QDialog::accept);
  });
  splash.exec();
}

}  // namespace norvale::ui
