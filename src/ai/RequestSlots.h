#pragma once

// How many requests a run has in flight at once. One object serves a whole run, every stage of
// it, so that a service that says it is busy slows the rest of the run down.

#include "core/Progress.h"
#include "core/Result.h"

#include <QString>
#include <QStringList>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <set>

namespace ai {

constexpr int kFewestRequestsInFlight = 1;
constexpr int kMostRequestsInFlight = 32;
/// Tries of one request that the service keeps answering as busy.
constexpr int kBusyTries = 3;

/// A busy reply that will be tried again: {error}, {limit now}, {seconds}, {file}.
inline const QString kBusyRetryWarning =
    QStringLiteral("模型服务繁忙（%1），同时请求数降为 %2，%3 秒后重试：%4");

class RequestSlots {
  public:
    /// Clamped to 1–32.
    explicit RequestSlots(int limit);
    RequestSlots(const RequestSlots&) = delete;
    RequestSlots& operator=(const RequestSlots&) = delete;

    /// More than one at the start: runs send later units' requests ahead and retry busy replies.
    /// With one, requests go out one after another and every reply is taken as it is.
    bool concurrent() const { return m_initial > 1; }
    int limit() const;

    /// Sends `request` once a slot is free. A busy reply (HTTP 429 or 503) halves the limit for
    /// the rest of the run (once for all the requests that went out under the same limit), and
    /// the request goes again after the wait the service asked for (1 s when it named none), at
    /// most kBusyTries times in all; each reply that is tried again adds one warning for `file`.
    /// Nothing when cancelled before a try went out. Of the requests waiting for a slot, the one
    /// with the lowest `order` (its unit's place in the run) goes first.
    template <typename T>
    std::optional<core::Result<T>> send(const std::function<core::Result<T>()>& request, const QString& file,
                                        const core::CancelToken& cancel, QStringList& warnings, int order) {
        for (int attempt = 1;; ++attempt) {
            const std::optional<int> generation = acquire(cancel, order);
            if (!generation) return std::nullopt;
            core::Result<T> reply = request();
            release();
            if (reply || !reply.error().busyRetryAfterMs || !concurrent() || attempt == kBusyTries)
                return reply;
            const int waitMs = *reply.error().busyRetryAfterMs >= 0 ? *reply.error().busyRetryAfterMs : 1000;
            const int now = backOff(*generation);
            // One pass: the service's text may itself hold "%1"-like sequences.
            warnings << kBusyRetryWarning.arg(reply.error().description(), QString::number(now),
                                              QString::number((waitMs + 999) / 1000), file);
            if (!sleep(waitMs, cancel)) return std::nullopt;
        }
    }

  private:
    /// Waits for a free slot and its turn among the waiting; its limit's generation, or nothing
    /// when cancelled first.
    std::optional<int> acquire(const core::CancelToken& cancel, int order);
    void release();
    /// Halves the limit unless it changed since `generation`; the limit now.
    int backOff(int generation);
    /// False when cancelled before the time was up.
    bool sleep(int ms, const core::CancelToken& cancel);

    const int m_initial;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_limit;
    int m_inFlight = 0;
    int m_generation = 0;
    std::multiset<int> m_waiting; ///< the orders of the requests waiting for a slot
};

} // namespace ai
