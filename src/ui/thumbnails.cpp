#include "ui/thumbnails.h"

#include <QPixmap>
#include <utility>

namespace norvale::ui {
namespace {
constexpr int kRetryMs = 200;  // while a command worker runs
}  // namespace

ThumbnailMaker::ThumbnailMaker(Make make, std::function<bool()> workerIdle, QObject* parent)
    : QObject(parent), m_make(std::move(make)), m_workerIdle(std::move(workerIdle)) {
  m_retry.setSingleShot(true);
  m_retry.setInterval(kRetryMs);
  connect(&m_retry, &QTimer::timeout, this, &ThumbnailMaker::pump);
}

// The thread posts its result to this object before it ends: joined here, the post is done and
// the pending call goes with the object.
ThumbnailMaker::~ThumbnailMaker() { settle(); }

void ThumbnailMaker::want(std::uint64_t position) {
  if (m_shown.contains(position) || (m_running && m_making == position)) return;
  if (!m_queued.insert(position).second) std::erase(m_queue, position);  // drawn again: to the front
  m_queue.push_front(position);
  // From within a paint: start once the drawing is done.
  QMetaObject::invokeMethod(this, &ThumbnailMaker::pump, Qt::QueuedConnection);
}

const ShownThumbnail* ThumbnailMaker::find(std::uint64_t position) const {
  auto it = m_shown.find(position);
  return it != m_shown.end() ? &it->second : nullptr;
}

void ThumbnailMaker::pump() {
  if (m_running || m_queue.empty()) return;
  if (!m_workerIdle()) {
    m_retry.start();
    return;
  }
  const std::uint64_t position = m_queue.front();
  m_queue.pop_front();
  m_queued.erase(position);
  if (m_thread.joinable()) m_thread.join();
  m_running = true;
  m_making = position;
  m_thread = std::thread([this, make = m_make, generation = m_generation, position] {
    Result<convert::Thumbnail> result = make(position);
    QMetaObject::invokeMethod(
        this, [this, generation, position, result = std::move(result)]() mutable { finish(generation, position, std::move(result)); },
        Qt::QueuedConnection);
  });
}

void ThumbnailMaker::finish(std::uint64_t generation, std::uint64_t position, Result<convert::Thumbnail> result) {
  if (m_thread.joinable()) m_thread.join();
  m_running = false;
  if (generation == m_generation) {
    ShownThumbnail shown;
    if (result) {
      const QImage image = QImage::fromData(result->png.data(), static_cast<int>(result->png.size()), "PNG");
      if (image.isNull()) shown.failure = QStringLiteral("缩略图无法读取");
      else shown.image = image.scaled(kThumbnailCell, Qt::KeepAspectRatio, Qt::SmoothTransformation);
      shown.fromCache = result->fromCache;
    } else {
      shown.failure = QString::fromStdString(result.error().message);
    }
    m_shown[position] = std::move(shown);
    emit made(position);
  }
  emit released();
  pump();
}

void ThumbnailMaker::settle() {
  if (m_thread.joinable()) m_thread.join();
}

void ThumbnailMaker::reset() {
  settle();
  ++m_generation;
  m_making = UINT64_MAX;  // its result is dropped: asked again, it is made again
  m_shown.clear();
  m_queue.clear();
  m_queued.clear();
  m_retry.stop();
}

}  // namespace norvale::ui
