#include "engine/transfer_retry.h"

#include <chrono>
#include <thread>

namespace {

// Sleeps for waitMs unless stopped first; false when stopped.
bool waitUnlessStopped(unsigned waitMs, const FetchControl& control) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (control.stopped && control.stopped()) return false;
        const Clock::time_point now = Clock::now();
        if (now >= end) return true;
        std::this_thread::sleep_for(std::min<Clock::duration>(end - now, std::chrono::milliseconds(100)));
    }
}

bool fetchWithRetries(const BodyFetch& fetch, const RetryPlan& plan, const std::wstring& path, uint64_t offset,
                      const BodySink& sink, const FetchControl& control) {
    // Where the next attempt asks the body from: the last byte the sink took.
    uint64_t position = offset;
    BodySink resumable;
    resumable.start = [&](uint64_t bodyStart, uint64_t length) {
        position = bodyStart;
        return sink.start(bodyStart, length);
    };
    resumable.piece = [&](const uint8_t* data, size_t size) {
        if (!sink.piece(data, size)) return false;
        position += size;
        return true;
    };
    FetchFailure failure = FetchFailure::None;
    FetchControl attempt = control;
    attempt.failure = &failure;
    const unsigned attempts = unsigned(plan.waitsMs.size()) + 1;
    for (unsigned tried = 1;; ++tried) {
        failure = FetchFailure::Answer;
        if (fetch(path, position, resumable, attempt)) {
            failure = FetchFailure::None;
            break;
        }
        if (!isWorthRetrying(failure) || tried == attempts) break;
        const unsigned waitMs = plan.waitsMs[tried - 1];
        if (plan.waiting) plan.waiting(path, tried + 1, attempts, waitMs);
        const bool waited = waitUnlessStopped(waitMs, control);
        if (plan.resumed) plan.resumed();
        if (!waited) {
            failure = FetchFailure::Stopped;
            break;
        }
    }
    if (control.failure) *control.failure = failure;
    return failure == FetchFailure::None;
}

}  // namespace

bool isWorthRetrying(FetchFailure failure) { return failure == FetchFailure::Network; }

BodyFetch withRetries(BodyFetch fetch, RetryPlan plan) {
    return [fetch = std::move(fetch), plan = std::move(plan)](const std::wstring& path, uint64_t offset,
                                                               const BodySink& sink, const FetchControl& control) {
        return fetchWithRetries(fetch, plan, path, offset, sink, control);
    };
}
