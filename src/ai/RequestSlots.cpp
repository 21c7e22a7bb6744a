#include "ai/RequestSlots.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace ai {

namespace {
/// How often a waiting request looks at the cancellation flag (it has no notification).
constexpr std::chrono::milliseconds kCancelPoll{50};
} // namespace

RequestSlots::RequestSlots(int limit)
    : m_initial(std::clamp(limit, kFewestRequestsInFlight, kMostRequestsInFlight)), m_limit(m_initial) {}

int RequestSlots::limit() const {
    const std::lock_guard hold(m_mutex);
    return m_limit;
}

std::optional<int> RequestSlots::acquire(const core::CancelToken& cancel, int order) {
    std::unique_lock hold(m_mutex);
    const auto waiting = m_waiting.insert(order);
    for (;;) {
        if (cancel.isCancelled()) {
            m_waiting.erase(waiting);
            hold.unlock();
            m_changed.notify_all();
            return std::nullopt;
        }
        if (m_inFlight < m_limit && *m_waiting.begin() == order) break;
        m_changed.wait_for(hold, kCancelPoll);
    }
    m_waiting.erase(waiting);
    ++m_inFlight;
    const int generation = m_generation;
    hold.unlock();
    // The next in line may have a slot too.
    m_changed.notify_all();
    return generation;
}

void RequestSlots::release() {
    {
        const std::lock_guard hold(m_mutex);
        --m_inFlight;
    }
    m_changed.notify_all();
}

int RequestSlots::backOff(int generation) {
    const std::lock_guard hold(m_mutex);
    if (generation == m_generation) {
        m_limit = std::max(kFewestRequestsInFlight, m_limit / 2);
        ++m_generation;
    }
    return m_limit;
}

bool RequestSlots::sleep(int ms, const core::CancelToken& cancel) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        if (cancel.isCancelled()) return false;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            kCancelPoll, until - std::chrono::steady_clock::now()));
    }
    return !cancel.isCancelled();
}

} // namespace ai
