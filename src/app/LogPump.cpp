#include "app/LogPump.h"

#include "app/LogPanel.h"

#include <QElapsedTimer>
#include <QMetaObject>

LogPump::LogPump(LogModel* model, QObject* parent) : QObject(parent), m_model(model) {}

void LogPump::post(const QString& stampedLine) {
    std::lock_guard lock(m_mutex);
    m_waiting.push_back(stampedLine);
    if (m_scheduled) return;
    m_scheduled = true;
    QMetaObject::invokeMethod(
        this, [this] { drain(false); }, Qt::QueuedConnection);
}

void LogPump::flush() {
    drain(true);
}

void LogPump::discard() {
    std::lock_guard lock(m_mutex);
    m_waiting.clear();
}

void LogPump::drain(bool all) {
    QElapsedTimer clock;
    clock.start();
    while (true) {
        QStringList slice;
        {
            std::lock_guard lock(m_mutex);
            const std::size_t take = std::min<std::size_t>(m_waiting.size(), 512);
            for (std::size_t i = 0; i < take; ++i) {
                slice << std::move(m_waiting.front());
                m_waiting.pop_front();
            }
            if (slice.isEmpty()) {
                m_scheduled = false;
                return;
            }
        }
        m_model->append(slice);
        if (!all && clock.elapsed() >= kSliceMs) break;
    }
    // More lines are waiting: let the window paint and handle input before the next slice.
    std::lock_guard lock(m_mutex);
    if (m_waiting.empty()) {
        m_scheduled = false;
        return;
    }
    QMetaObject::invokeMethod(
        this, [this] { drain(false); }, Qt::QueuedConnection);
}
