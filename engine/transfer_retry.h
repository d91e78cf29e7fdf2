#pragma once
// A fetch tried again after a network failure, as download managers do: a few times, after growing waits,
// each attempt continuing with a Range request from the last byte the sink took. A failure that another
// attempt cannot mend (an answer or body refused, a stop, a proxy that asks for a sign-in) ends it at once, and
// so do digest and signature failures, which are found after the fetch.
#include <functional>
#include <vector>

#include "platform/http.h"

struct RetryPlan {
    // The wait before each further attempt, in milliseconds; as many further attempts as waits.
    std::vector<unsigned> waitsMs = {2000, 4000, 8000};
    // Told before each wait: the request path, the attempt that follows (2 for the first retry), of how many in
    // all, and the wait.
    std::function<void(const std::wstring& path, unsigned attempt, unsigned attempts, unsigned waitMs)> waiting;
    // The wait is over; the next attempt starts.
    std::function<void()> resumed;
};

// Whether another attempt could mend a fetch that failed so.
bool isWorthRetrying(FetchFailure failure);

// fetch, tried again as plan says. The waits end early when the control's stop is seen. The sink's start is
// called again for each further attempt (see BodySink). A fetch that does not say why it failed (a stand-in
// that leaves control.failure alone) is not tried again.
BodyFetch withRetries(BodyFetch fetch, RetryPlan plan);
