// The rules of hostile and broken networks, in tables: when a transfer counts as stalled, which answers are
// passing trouble, how a fetch is tried again and continued, and how a proxy is chosen from the user's settings.
// Plain C++: it runs under Wine with the product and natively under the sanitizers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "engine/transfer_retry.h"
#include "platform/http_limits.h"
#include "platform/proxy_rules.h"

namespace {

// The bytes received by nowMs: a pattern of arrivals over time.
using Arrivals = std::function<uint64_t(uint64_t nowMs)>;

// When a request receiving so would be dropped, asked every 100 ms as the request's watch does; 0: never
// within limitMs.
uint64_t stallTime(const Arrivals& received, uint64_t limitMs) {
    ProgressWindow window{0, 0};
    for (uint64_t now = 100; now <= limitMs; now += 100)
        if (isStalled(window, now, received(now))) return now;
    return 0;
}

TEST(StallRule, DripsTripWithinAMinuteSlowLinksNever) {
    const uint64_t tenMinutes = 600000;
    struct Case {
        const char* name;
        Arrivals received;
        uint64_t earliestMs, latestMs;  // 0, 0: never trips
    };
    const std::vector<Case> cases = {
        {"silent from the start", [](uint64_t) { return uint64_t{0}; }, 30000, 30000},
        {"one byte every 5 s", [](uint64_t t) { return t / 5000; }, 30000, 60000},
        {"one byte a second", [](uint64_t t) { return t / 1000; }, 30000, 60000},
        {"a fast start, then nothing", [](uint64_t t) { return t < 1000 ? t * 1000 : uint64_t{1000000}; }, 60000,
         60000},
        {"just under 16 KiB in 30 s", [](uint64_t t) { return t * 16383 / 30000; }, 30000, 30000},
        {"64 kbit/s", [](uint64_t t) { return t * 8; }, 0, 0},
        {"64 kbit/s, 10 s pauses every 30 s",
         [](uint64_t t) { return (t / 30000) * 160000 + std::min<uint64_t>(t % 30000, 20000) * 8; }, 0, 0},
        {"16 KiB in every 30 s", [](uint64_t t) { return t * 16384 / 30000 + 16384; }, 0, 0},
    };
    for (const Case& c : cases) {
        const uint64_t tripped = stallTime(c.received, tenMinutes);
        if (c.latestMs == 0) {
            EXPECT_EQ(tripped, 0u) << c.name;
        } else {
            EXPECT_GE(tripped, c.earliestMs) << c.name;
            EXPECT_LE(tripped, c.latestMs) << c.name;
        }
    }
}

TEST(StallRule, TransientStatusesAreServerTroubleOnly) {
    const std::vector<std::pair<unsigned, bool>> cases = {
        {500, true}, {502, true}, {503, true}, {504, true}, {599, true}, {408, true}, {429, true},
        {200, false}, {206, false}, {403, false}, {404, false}, {407, false}, {416, false}, {600, false},
    };
    for (const auto& [status, transient] : cases) EXPECT_EQ(isTransientStatus(status), transient) << status;
}

// A download host in memory that fails its attempts as scripted: each attempt sends up to `cutAfter` bytes of
// the body from the offset asked for, then fails as `failure` says.
struct ScriptedHost {
    struct Attempt {
        size_t cutAfter = SIZE_MAX;  // SIZE_MAX: the whole rest
        FetchFailure failure = FetchFailure::Network;
        bool ignoresRange = false;
        bool tellsWhy = true;
    };
    std::string body;
    std::vector<Attempt> attempts;  // the last one repeats
    std::vector<uint64_t> offsetsAsked;

    bool fetch(uint64_t offset, const BodySink& sink, const FetchControl& control) {
        const Attempt attempt = attempts[std::min(offsetsAsked.size(), attempts.size() - 1)];
        offsetsAsked.push_back(offset);
        const uint64_t start = attempt.ignoresRange ? 0 : offset;
        auto fail = [&](FetchFailure why) {
            if (attempt.tellsWhy && control.failure) *control.failure = why;
            return false;
        };
        if (!sink.start(start, body.size())) return fail(FetchFailure::Refused);
        const size_t rest = body.size() - size_t(start);
        const size_t sent = std::min(rest, attempt.cutAfter);
        for (size_t i = 0; i < sent; i += 7) {
            const size_t piece = std::min<size_t>(7, sent - i);
            if (!sink.piece(reinterpret_cast<const uint8_t*>(body.data()) + start + i, piece))
                return fail(FetchFailure::Refused);
        }
        if (sent < rest) return fail(attempt.failure);
        if (control.failure) *control.failure = FetchFailure::None;
        return true;
    }
};

struct RetryRun {
    bool fetched = false;
    FetchFailure failure = FetchFailure::None;
    std::string received;
    std::vector<std::string> told;  // "attempt/attempts after waitMs", "resumed"
};

RetryRun fetchRetried(ScriptedHost& host, std::function<bool()> stopped = {}, std::vector<unsigned> waits = {1, 2, 3}) {
    RetryRun run;
    RetryPlan plan;
    plan.waitsMs = waits;
    plan.waiting = [&run](const std::wstring& path, unsigned attempt, unsigned attempts, unsigned waitMs) {
        EXPECT_EQ(path, L"/blob");
        run.told.push_back(std::to_string(attempt) + "/" + std::to_string(attempts) + " after " + std::to_string(waitMs));
    };
    plan.resumed = [&run] { run.told.push_back("resumed"); };
    const BodyFetch fetch = withRetries(
        [&host](const std::wstring&, uint64_t offset, const BodySink& sink, const FetchControl& control) {
            return host.fetch(offset, sink, control);
        },
        plan);
    BodySink sink;
    sink.start = [&run](uint64_t bodyStart, uint64_t) {
        EXPECT_TRUE(bodyStart == 0 || bodyStart == run.received.size()) << "the sink's own position, or 0";
        run.received.resize(size_t(bodyStart));
        return true;
    };
    sink.piece = [&run](const uint8_t* data, size_t size) {
        run.received.append(reinterpret_cast<const char*>(data), size);
        return run.received.size() <= 1000;  // a sink that takes no more than the signed size
    };
    FetchControl control;
    control.stopped = std::move(stopped);
    control.failure = &run.failure;
    run.fetched = fetch(L"/blob", 0, sink, control);
    return run;
}

std::string bodyOf(size_t size) {
    std::string body;
    for (size_t i = 0; i < size; ++i) body += char('a' + i % 26);
    return body;
}

TEST(Retries, NetworkFailuresContinueWhereTheyStoppedOthersEndAtOnce) {
    using A = ScriptedHost::Attempt;
    const A network{300, FetchFailure::Network};
    struct Case {
        const char* name;
        std::vector<A> attempts;
        size_t bodySize;
        bool fetched;
        FetchFailure failure;
        std::vector<uint64_t> offsets;
        std::vector<std::string> told;
    };
    const std::vector<Case> cases = {
        {"whole at once", {A{}}, 1000, true, FetchFailure::None, {0}, {}},
        {"cut twice, then the rest", {network, network, A{}}, 1000, true, FetchFailure::None, {0, 300, 600},
         {"2/4 after 1", "resumed", "3/4 after 2", "resumed"}},
        {"a server without ranges starts over", {network, A{SIZE_MAX, FetchFailure::None, true}}, 1000, true,
         FetchFailure::None, {0, 300}, {"2/4 after 1", "resumed"}},
        {"cut every time: four attempts", {A{0, FetchFailure::Network}}, 1000, false, FetchFailure::Network,
         {0, 0, 0, 0}, {"2/4 after 1", "resumed", "3/4 after 2", "resumed", "4/4 after 3", "resumed"}},
        {"an answer no attempt mends", {A{0, FetchFailure::Answer}}, 1000, false, FetchFailure::Answer, {0}, {}},
        {"a proxy sign-in", {A{0, FetchFailure::ProxySignIn}}, 1000, false, FetchFailure::ProxySignIn, {0}, {}},
        {"a body past the signed size", {A{}}, 1001, false, FetchFailure::Refused, {0}, {}},
        {"a fetch that does not say why", {A{300, FetchFailure::Network, false, false}}, 1000, false,
         FetchFailure::Answer, {0}, {}},
    };
    for (const Case& c : cases) {
        ScriptedHost host;
        host.body = bodyOf(c.bodySize);
        host.attempts = c.attempts;
        const RetryRun run = fetchRetried(host);
        EXPECT_EQ(run.fetched, c.fetched) << c.name;
        EXPECT_EQ(int(run.failure), int(c.failure)) << c.name;
        EXPECT_EQ(host.offsetsAsked, c.offsets) << c.name;
        EXPECT_EQ(run.told, c.told) << c.name;
        if (c.fetched) {
            EXPECT_EQ(run.received, host.body) << c.name;
        }
    }
}

TEST(Retries, AStopEndsTheWaitAtOnce) {
    ScriptedHost host;
    host.body = bodyOf(1000);
    host.attempts = {ScriptedHost::Attempt{300, FetchFailure::Network}};
    std::atomic<bool> stop{false};
    const auto started = std::chrono::steady_clock::now();
    const RetryRun run = fetchRetried(host, [&stop, started] {
        // The user cancels half a second into the first wait of a minute.
        if (std::chrono::steady_clock::now() - started > std::chrono::milliseconds(500)) stop = true;
        return stop.load();
    }, {60000, 60000, 60000});
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_FALSE(run.fetched);
    EXPECT_EQ(int(run.failure), int(FetchFailure::Stopped));
    EXPECT_EQ(host.offsetsAsked, std::vector<uint64_t>{0});
    EXPECT_EQ(run.told, (std::vector<std::string>{"2/4 after 60000", "resumed"}));
    EXPECT_LT(took, std::chrono::seconds(2));
}

TEST(ProxyRules, TheProxyForHttpsOfAFixedSetting) {
    const std::vector<std::pair<std::wstring, std::wstring>> cases = {
        {L"proxy.corp:3128", L"proxy.corp:3128"},
        {L" proxy.corp:3128 ", L"proxy.corp:3128"},
        {L"http://proxy.corp:3128", L"proxy.corp:3128"},
        {L"http=web.corp:80;https=secure.corp:8443", L"secure.corp:8443"},
        {L"HTTPS=secure.corp:8443;ftp=f.corp:21", L"secure.corp:8443"},
        {L"https=http://secure.corp:8443", L"secure.corp:8443"},
        {L"http=web.corp:80", L""},  // no entry for HTTPS: direct, as the system's stacks do
        {L"socks=s.corp:1080", L""},
        {L"", L""},
    };
    for (const auto& [setting, proxy] : cases) EXPECT_EQ(proxyForHttps(setting), proxy) << std::string(setting.begin(), setting.end());
}

TEST(ProxyRules, TheBypassList) {
    struct Case {
        std::wstring list, host;
        unsigned port;
        bool bypassed;
    };
    const std::vector<Case> cases = {
        {L"", L"downloads.maketor.example", 443, false},
        {L"*.maketor.example", L"downloads.maketor.example", 443, true},
        {L"*.MAKETOR.example", L"Downloads.Maketor.Example", 443, true},
        {L"*.corp;*.maketor.example", L"downloads.maketor.example", 443, true},
        {L"*.corp *.lan", L"downloads.maketor.example", 443, false},
        {L"downloads.maketor.example", L"downloads.maketor.example", 443, true},
        {L"https://downloads.maketor.example", L"downloads.maketor.example", 443, true},
        {L"downloads.maketor.example:443", L"downloads.maketor.example", 443, true},
        {L"downloads.maketor.example:8443", L"downloads.maketor.example", 443, false},
        {L"downloads.*", L"downloads.maketor.example", 443, true},
        {L"maketor.example", L"downloads.maketor.example", 443, false},
        {L"10.*", L"10.1.2.3", 443, true},
        {L"<local>", L"intranet", 443, true},
        {L"<local>", L"downloads.maketor.example", 443, false},
        {L"", L"localhost", 47443, true},  // loopback goes direct unless the list says otherwise
        {L"", L"127.0.0.1", 47443, true},
        {L"<-loopback>", L"localhost", 47443, false},
        {L"*.corp;<-loopback>", L"127.0.0.1", 47443, false},
        {L"<-loopback>;localhost", L"localhost", 47443, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isBypassed(c.list, c.host, c.port), c.bypassed)
            << std::string(c.list.begin(), c.list.end()) << " / " << std::string(c.host.begin(), c.host.end());
}

}  // namespace
