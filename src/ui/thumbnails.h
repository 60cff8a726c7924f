#pragma once
// The file grid's thumbnails, made one file at a time on a thread of their own. A thumbnail reads
// the task's source and store, which are not made for two readers: one is made only while no
// command worker runs, and the frame holds a command back until the one being made is done.
#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <thread>

#include "base/error.h"
#include "convert/thumbnail.h"

namespace norvale::ui {

// The thumbnail as the grid shows it: fitted into this box.
inline const QSize kThumbnailCell{128, 96};

struct ShownThumbnail {
  QImage image;        // fitted into kThumbnailCell; null when the file gave no picture
  QString failure;     // why not
  bool fromCache = false;
};

class ThumbnailMaker final : public QObject {
  Q_OBJECT
 public:
  // make: the thumbnail of a 0-based file-map position (runs on the maker's thread).
  // workerIdle: true while no command worker uses the task (asked on the interface thread).
  using Make = std::function<Result<convert::Thumbnail>(std::uint64_t position)>;
  ThumbnailMaker(Make make, std::function<bool()> workerIdle, QObject* parent = nullptr);
  ~ThumbnailMaker() override;

  // Asks for the thumbnail of a file (a row that is drawn); nothing when it is known or queued.
  // The latest asked is made first: those are the rows in view.
  void want(std::uint64_t position);
  const ShownThumbnail* find(std::uint64_t position) const;
  // A thumbnail is being made on the maker's thread.
  bool running() const { return m_running; }
  // Starts the next thumbnail when the worker is idle; else tries again a little later.
  void pump();
  // Waits until the thread has let go of the task (its result still arrives as a queued call).
  void settle();
  // Another task: waits, then forgets everything.
  void reset();

 signals:
  void made(quint64 position);
  // The thread has let go of the task (a command held back may start).
  void released();

 private:
  void finish(std::uint64_t generation, std::uint64_t position, Result<convert::Thumbnail> result);

  Make m_make;
  std::function<bool()> m_workerIdle;
  std::map<std::uint64_t, ShownThumbnail> m_shown;
  std::deque<std::uint64_t> m_queue;
  std::set<std::uint64_t> m_queued;
  std::thread m_thread;
  bool m_running = false;
  std::uint64_t m_making = 0;  // the file being made, while running
  std::uint64_t m_generation = 0;  // results of an earlier generation are dropped
  QTimer m_retry;
};

// The text the grid shows for a file without a picture.
inline constexpr const char* kNoPictureText = "无画面";
inline constexpr const char* kThumbnailPendingText = "…";

}  // namespace norvale::ui
