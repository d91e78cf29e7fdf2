#pragma once
// Admits pieces of work that need memory, within a budget and up to a number at a time, so that several
// transfers can unpack side by side without their buffers outgrowing the bound. A piece that needs more than
// the whole budget is still admitted, alone, so that no file is too large to install.
#include <condition_variable>
#include <cstdint>
#include <mutex>

struct MemoryGate {
    uint64_t budgetBytes = 0;
    unsigned slots = 1;

    std::mutex lock;
    std::condition_variable changed;
    uint64_t bytesInUse = 0;
    unsigned busySlots = 0;
};

// Holds a place in the gate from construction until destruction. Waits while the gate is full.
class GatePass {
public:
    GatePass(MemoryGate& gate, uint64_t needBytes);
    ~GatePass();
    GatePass(const GatePass&) = delete;
    GatePass& operator=(const GatePass&) = delete;

private:
    MemoryGate& gate_;
    uint64_t needBytes_;
};
