#include "platform/memory_gate.h"

GatePass::GatePass(MemoryGate& gate, uint64_t needBytes) : gate_(gate), needBytes_(needBytes) {
    std::unique_lock<std::mutex> hold(gate_.lock);
    gate_.changed.wait(hold, [&] {
        if (gate_.busySlots == 0) return true;
        return gate_.busySlots < gate_.slots && gate_.bytesInUse + needBytes_ <= gate_.budgetBytes;
    });
    ++gate_.busySlots;
    gate_.bytesInUse += needBytes_;
}

GatePass::~GatePass() {
    {
        std::lock_guard<std::mutex> hold(gate_.lock);
        --gate_.busySlots;
        gate_.bytesInUse -= needBytes_;
    }
    gate_.changed.notify_all();
}
