#pragma once
// Start-up: the splash picture stays up while the devices are enumerated on a worker, and for a
// while after.
namespace norvale::ui {

class CMainFrame;

inline constexpr int kSplashMilliseconds = 3000;

// Shows the splash modally, starts the device scan, and closes the splash delayMs after the
// scan has ended.
void showSplashWhileScanning(CMainFrame& frame, int delayMs = kSplashMilliseconds);

}  // namespace norvale::ui
