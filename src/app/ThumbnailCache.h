#pragma once

// Thumbnails for the preview, made on worker threads (never the interface thread), smallest
// files first, and kept for the session. A file that cannot be shown (a video, a damaged photo)
// is remembered as an empty image.

#include <QHash>
#include <QImage>
#include <QObject>
#include <QThreadPool>

#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>

class ThumbnailCache : public QObject {
    Q_OBJECT

  public:
    explicit ThumbnailCache(int side = 160, QObject* parent = nullptr);
    ~ThumbnailCache() override;

    int side() const { return m_side; }
    /// The thumbnail when it is made; a null image for a file that cannot be shown.
    std::optional<QImage> find(const std::filesystem::path& file) const;
    /// Queues the file unless it is made or queued already; `size` orders the queue.
    void request(const std::filesystem::path& file, qint64 size);
    /// Thumbnails queued or being made.
    int pending() const;

  signals:
    /// On the interface thread, once the file's thumbnail is in the cache.
    void ready(const QString& file);

  private:
    void work();
    const int m_side;
    QThreadPool m_pool;
    mutable std::mutex m_mutex;
    std::multimap<qint64, std::filesystem::path> m_queue;
    std::set<std::filesystem::path> m_known; ///< queued, being made or made
    std::map<std::filesystem::path, QImage> m_images;
    int m_running = 0;
    std::atomic<bool> m_closing{false};
};
