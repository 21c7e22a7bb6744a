#pragma once

// Work on many items at once, handed over one at a time in input order: the runs use it to have
// several requests in flight while their log keeps the order of one request after another.

#include "core/Progress.h"

#include <deque>
#include <functional>
#include <future>

namespace core {

/// Runs `work(i)` for i = 0 … n−1, each on a thread of its own and at most `ahead` items beyond
/// the one being handed over, and hands the results to `take(i, result)` on the calling thread in
/// order. No new work starts once `take` returns false or the token is cancelled; the work that
/// has started is waited for before it returns (work is expected to look at the token itself).
template <typename Out>
void inOrder(int n, int ahead, const std::function<Out(int)>& work,
             const std::function<bool(int, Out&)>& take, const CancelToken& cancel) {
    std::deque<std::future<Out>> started;
    int next = 0;
    auto fill = [&](int upTo) {
        for (; next < n && next <= upTo && !cancel.isCancelled(); ++next)
            started.push_back(std::async(std::launch::async, work, next));
    };
    fill(ahead);
    for (int i = 0; i < n && !started.empty(); ++i) {
        Out out = started.front().get();
        started.pop_front();
        if (!take(i, out)) break;
        fill(i + 1 + ahead);
    }
    for (auto& running : started)
        running.wait();
}

} // namespace core
