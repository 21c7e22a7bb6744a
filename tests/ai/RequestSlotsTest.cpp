#include "ai/RequestSlots.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

// Eight requests from eight threads: never more out at once than the run allows, and as many as it
// allows when there is work for them.
TEST(RequestSlots, NeverMoreRequestsInFlightThanTheLimit) {
    for (const int limit : {1, 3}) {
        ai::RequestSlots requests(limit);
        const core::CancelToken cancel;
        std::atomic<int> inFlight{0}, most{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < 8; ++i)
            threads.emplace_back([&, i] {
                QStringList warnings;
                const auto reply = requests.send<int>(
                    [&]() -> core::Result<int> {
                        const int now = ++inFlight;
                        for (int seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);) {
                        }
                        std::this_thread::sleep_for(std::chrono::milliseconds(30));
                        --inFlight;
                        return 0;
                    },
                    QStringLiteral("IMG_%1.JPG").arg(i), cancel, warnings, i);
                EXPECT_TRUE(reply && *reply);
            });
        for (std::thread& thread : threads)
            thread.join();
        EXPECT_EQ(most.load(), limit);
    }
}
