// The memory gate of unpacking, under ThreadSanitizer: never more work inside than its slots, never more memory
// than its budget, and work larger than the whole budget let in alone instead of waiting for ever.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/memory_gate.h"

namespace {

struct Inside {
    std::atomic<unsigned> count{0};
    std::atomic<uint64_t> bytes{0};
    std::atomic<unsigned> mostCount{0};
    std::atomic<uint64_t> mostBytes{0};
    std::atomic<bool> largeSharedTheGate{false};
};

template <typename Value>
void raiseTo(std::atomic<Value>& most, Value value) {
    Value seen = most.load();
    while (value > seen && !most.compare_exchange_weak(seen, value)) {
    }
}

void work(MemoryGate& gate, Inside& inside, uint64_t need, bool large) {
    const GatePass pass(gate, need);
    const unsigned count = ++inside.count;
    const uint64_t bytes = inside.bytes += need;
    raiseTo(inside.mostCount, count);
    if (!large) raiseTo(inside.mostBytes, bytes);
    if (large && count > 1) inside.largeSharedTheGate = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (large && inside.count.load() > 1) inside.largeSharedTheGate = true;
    inside.bytes -= need;
    --inside.count;
}

TEST(MemoryGate, HoldsItsSlotsAndBudgetAndLetsOversizedWorkInAlone) {
    const struct {
        const char* name;
        unsigned slots;
        uint64_t budget;
        uint64_t need;
        unsigned expectMostInside;
    } cases[] = {
        {"slots bind", 2, 1000, 10, 2},
        {"budget binds", 8, 100, 30, 3},
        {"one slot", 1, 1000, 10, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryGate gate;
        gate.slots = c.slots;
        gate.budgetBytes = c.budget;
        Inside inside;
        std::vector<std::thread> threads;
        for (int i = 0; i < 16; ++i)
            threads.emplace_back([&, i] {
                for (int round = 0; round < 10; ++round) work(gate, inside, c.need, false);
                if (i == 7) work(gate, inside, c.budget * 3, true);
            });
        for (std::thread& thread : threads) thread.join();
        EXPECT_EQ(inside.mostCount.load(), c.expectMostInside);
        EXPECT_LE(inside.mostBytes.load(), c.budget);
        EXPECT_FALSE(inside.largeSharedTheGate.load());
        EXPECT_EQ(gate.busySlots, 0u);
        EXPECT_EQ(gate.bytesInUse, 0u);
    }
}

}  // namespace
