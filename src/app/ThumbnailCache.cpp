#include "app/ThumbnailCache.h"

#include "platform/Imaging.h"

#include <QFile>

ThumbnailCache::ThumbnailCache(int side, QObject* parent) : QObject(parent), m_side(side) {
    // Two decoders at most: the machine has other work, and the interface must stay smooth.
    m_pool.setMaxThreadCount(2);
}

ThumbnailCache::~ThumbnailCache() {
    m_closing = true;
    {
        std::lock_guard lock(m_mutex);
        m_queue.clear();
    }
    m_pool.waitForDone();
}

std::optional<QImage> ThumbnailCache::find(const std::filesystem::path& file) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_images.find(file);
    if (it == m_images.end()) return std::nullopt;
    return it->second;
}

void ThumbnailCache::request(const std::filesystem::path& file, qint64 size) {
    std::lock_guard lock(m_mutex);
    if (!m_known.insert(file).second) return;
    m_queue.emplace(size, file);
    if (m_running < m_pool.maxThreadCount()) {
        ++m_running;
        m_pool.start([this] { work(); });
    }
}

int ThumbnailCache::pending() const {
    std::lock_guard lock(m_mutex);
    return int(m_known.size() - m_images.size());
}

void ThumbnailCache::work() {
    for (;;) {
        std::filesystem::path file;
        {
            std::lock_guard lock(m_mutex);
            if (m_queue.empty() || m_closing) {
                --m_running;
                return;
            }
            file = m_queue.begin()->second;
            m_queue.erase(m_queue.begin());
        }
        QImage image;
        if (const auto source = platform::openImageSource(file))
            if (const auto bitmap = platform::thumbnail(*source, m_side))
                image =
                    QImage(bitmap->data, bitmap->cols, bitmap->rows, int(bitmap->step), QImage::Format_RGB888)
                        .copy();
        {
            std::lock_guard lock(m_mutex);
            m_images[file] = image;
        }
        if (m_closing) continue;
        const QString key = QFile::decodeName(file.c_str());
        QMetaObject::invokeMethod(
            this, [this, key] { emit ready(key); }, Qt::QueuedConnection);
    }
}
