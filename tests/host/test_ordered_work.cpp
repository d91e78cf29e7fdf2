// The publisher's worker pool, under ThreadSanitizer: results handed over in task order whatever the timing,
// never more tasks in flight than the window, stopping at the caller's word, and a task that throws.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tools/publisher/ordered_work.h"

namespace {

// A few hundred microseconds that differ from task to task, so that later tasks often finish first.
void pause(size_t index) { std::this_thread::sleep_for(std::chrono::microseconds((index * 7919) % 900)); }

const auto kNoIdle = [] {};

TEST(OrderedWork, HandsOverEveryResultInTaskOrder) {
    for (const size_t jobs : {1, 2, 3, 8}) {
        for (const size_t count : {0, 1, 5, 200}) {
            std::vector<size_t> taken;
            std::string failure;
            const bool done = runInOrder<size_t>(
                count, OrderedWorkSettings{jobs, 2 * jobs},
                [](size_t, size_t index) {
                    pause(index);
                    return index * index;
                },
                [&](size_t index, size_t& result) {
                    EXPECT_EQ(result, index * index);
                    taken.push_back(index);
                    return true;
                },
                kNoIdle, failure);
            EXPECT_TRUE(done);
            EXPECT_EQ(failure, "");
            ASSERT_EQ(taken.size(), count) << jobs << " jobs";
            for (size_t i = 0; i < count; ++i) EXPECT_EQ(taken[i], i);
        }
    }
}

TEST(OrderedWork, StartsATaskOnlyWithinTheWindowOfTheLastOneTaken) {
    const size_t jobs = 4;
    const size_t window = 6;
    std::atomic<size_t> takenCount{0};
    std::atomic<size_t> farthestAhead{0};
    std::atomic<size_t> workersSeen{0};
    std::string failure;
    runInOrder<int>(
        100, OrderedWorkSettings{jobs, window},
        [&](size_t worker, size_t index) {
            EXPECT_LT(worker, jobs);
            workersSeen |= size_t(1) << worker;
            // The pool counts a result as taken as it hands it over, just before take() runs.
            const size_t ahead = index + 1 - std::min(index + 1, takenCount.load());
            size_t seen = farthestAhead.load();
            while (ahead > seen && !farthestAhead.compare_exchange_weak(seen, ahead)) {
            }
            return 0;
        },
        [&](size_t, int&) {
            std::this_thread::sleep_for(std::chrono::microseconds(300));  // a slow writer: workers run ahead
            ++takenCount;
            return true;
        },
        kNoIdle, failure);
    EXPECT_LE(farthestAhead.load(), window + 1);
    EXPECT_GE(farthestAhead.load(), window) << "the workers did run ahead of the writer";
    EXPECT_GT(workersSeen.load() & ~size_t(1), 0u) << "more than one worker took tasks";
}

TEST(OrderedWork, StopsWhenTheCallerSaysSo) {
    const size_t window = 4;
    std::atomic<size_t> highestStarted{0};
    size_t lastTaken = 0;
    std::string failure;
    const bool done = runInOrder<size_t>(
        1000, OrderedWorkSettings{2, window},
        [&](size_t, size_t index) {
            size_t seen = highestStarted.load();
            while (index > seen && !highestStarted.compare_exchange_weak(seen, index)) {
            }
            return index;
        },
        [&](size_t index, size_t&) {
            lastTaken = index;
            return index < 10;
        },
        kNoIdle, failure);
    EXPECT_FALSE(done);
    EXPECT_EQ(failure, "");
    EXPECT_EQ(lastTaken, 10u);
    EXPECT_LE(highestStarted.load(), 10 + window);
}

TEST(OrderedWork, ReportsATaskThatThrowsInItsTurn) {
    std::vector<size_t> taken;
    std::string failure;
    const bool done = runInOrder<size_t>(
        50, OrderedWorkSettings{3, 6},
        [](size_t, size_t index) -> size_t {
            if (index == 7) throw std::runtime_error("out of disk");
            return index;
        },
        [&](size_t index, size_t&) {
            taken.push_back(index);
            return true;
        },
        kNoIdle, failure);
    EXPECT_FALSE(done);
    EXPECT_EQ(failure, "out of disk");
    EXPECT_EQ(taken.size(), 7u) << "the results before it were handed over";
}

TEST(OrderedWork, CallsIdleWhileItWaits) {
    std::atomic<int> idleCalls{0};
    std::string failure;
    OrderedWorkSettings settings{2, 4};
    settings.tick = std::chrono::milliseconds(10);
    EXPECT_TRUE(runInOrder<int>(
        3, settings,
        [](size_t, size_t index) {
            if (index == 0) std::this_thread::sleep_for(std::chrono::milliseconds(200));
            return 0;
        },
        [](size_t, int&) { return true; }, [&] { ++idleCalls; }, failure));
    EXPECT_GE(idleCalls.load(), 5);
}

}  // namespace
