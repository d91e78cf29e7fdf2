// A body read whole into memory (the manifest and its signature) against stand-ins for the download host that
// announce or send more than its cap: refused, and never more reserved than the cap.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/http.h"

namespace {

constexpr uint64_t kCap = 64 << 10;

// A host that announces `announced` (0: nothing) and sends `pieces` of `pieceSize` bytes from bodyStart.
struct StandIn {
    uint64_t announced = 0;
    uint64_t bodyStart = 0;
    size_t pieces = 0;
    size_t pieceSize = 1000;
    size_t piecesTaken = 0;

    bool operator()(const std::wstring&, uint64_t, const BodySink& sink, const FetchControl& control) {
        auto fail = [&](FetchFailure why) {
            if (control.failure) *control.failure = why;
            return false;
        };
        if (!sink.start(bodyStart, announced)) return fail(FetchFailure::Refused);
        const std::string piece(pieceSize, 'x');
        for (size_t i = 0; i < pieces; ++i) {
            if (!sink.piece(reinterpret_cast<const uint8_t*>(piece.data()), piece.size()))
                return fail(FetchFailure::Refused);
            ++piecesTaken;
        }
        if (control.failure) *control.failure = FetchFailure::None;
        return true;
    }
};

TEST(WholeBody, NeverMoreThanItsCap) {
    struct Case {
        const char* name;
        uint64_t announced;
        size_t pieces;
        bool fetched;
        size_t piecesTaken;
    };
    const std::vector<Case> cases = {
        {"announced within the cap", 5000, 5, true, 5},
        {"announced at the cap", kCap, kCap / 1024, true, kCap / 1024},
        {"announced past the cap", 4000000000u, 1, false, 0},
        {"no length, endless", 0, 1000000, false, kCap / 1000},
        {"a small length, then more", 1000, 1000000, false, kCap / 1000},
    };
    for (const Case& c : cases) {
        StandIn host;
        host.announced = c.announced;
        host.pieces = c.pieces;
        host.pieceSize = c.announced == kCap ? 1024 : 1000;
        std::string body;
        FetchFailure failure = FetchFailure::None;
        FetchControl control;
        control.failure = &failure;
        const bool fetched = fetchWholeBody(std::ref(host), L"/maketor/app/manifest.json", body, control, kCap);
        EXPECT_EQ(fetched, c.fetched) << c.name;
        EXPECT_EQ(int(failure), int(c.fetched ? FetchFailure::None : FetchFailure::Refused)) << c.name;
        EXPECT_EQ(host.piecesTaken, c.piecesTaken) << c.name;
        EXPECT_LE(body.size(), kCap) << c.name;
        EXPECT_LE(body.capacity(), kCap + 64) << c.name << ": reserved past the cap";
    }
}

// A retried fetch starts the sink again for each further attempt: from the position it reached, or from 0.
TEST(WholeBody, AFurtherAttemptContinuesOrStartsOver) {
    StandIn first, continuing, over;
    first.pieces = 3;
    continuing.bodyStart = 3000;
    continuing.pieces = 2;
    over.pieces = 1;
    const BodyFetch resumed = [&](const std::wstring& path, uint64_t, const BodySink& sink, const FetchControl& control) {
        return first(path, 0, sink, control) && continuing(path, 3000, sink, control);
    };
    const BodyFetch restarted = [&](const std::wstring& path, uint64_t, const BodySink& sink, const FetchControl& control) {
        return first(path, 0, sink, control) && over(path, 0, sink, control);
    };
    std::string body;
    ASSERT_TRUE(fetchWholeBody(resumed, L"/x", body, {}, kCap));
    EXPECT_EQ(body.size(), 5000u);
    ASSERT_TRUE(fetchWholeBody(restarted, L"/x", body, {}, kCap));
    EXPECT_EQ(body.size(), 1000u);
}

}  // namespace
