// The rules that decide how a run's blobs come out of packs: the cost rule, the requests it plans, how many
// transfers are in flight, and the cutting of a piece of a pack into its blobs as the bytes arrive.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/pack_cut.h"
#include "engine/pack_plan.h"
#include "engine/transfers_in_flight.h"

namespace {

constexpr uint64_t KiB = 1024;

TEST(PackCostRule, WeighsBytesFetchedInVainAgainstRequestsSaved) {
    struct Case {
        uint64_t bytesInVain;
        uint64_t requestsSaved;
        bool worth;
    };
    const Case cases[] = {
        {0, 0, true},                                   // nothing either way
        {1, 0, false},                                  // bytes for nothing
        {0, 1, true},                                   // two neighbours, one request
        {kRequestWorthBytes, 1, true},                  // a request's worth
        {kRequestWorthBytes + 1, 1, false},             // more than that
        {3 * kRequestWorthBytes, 3, true},              // the worth adds up
        {3 * kRequestWorthBytes + 1, 3, false},
        {8 << 20, 1, false},                            // a whole pack for one small file
        {UINT64_MAX, UINT64_MAX, true},                 // no overflow
        {UINT64_MAX, 2, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isWorthFetchingInVain(c.bytesInVain, c.requestsSaved), c.worth)
            << c.bytesInVain << " bytes in vain, " << c.requestsSaved << " requests saved";
}

// A pack of blobs named "0", "1", ... of the given lengths, back to back.
ReleasePack packOf(const std::string& name, const std::vector<uint64_t>& lengths) {
    ReleasePack pack;
    pack.sha256 = name;
    for (size_t i = 0; i < lengths.size(); ++i) {
        pack.blobs.push_back(PackedBlob{name + std::to_string(i), pack.size, lengths[i], ""});
        pack.size += lengths[i];
    }
    return pack;
}

// "a:0-3" for a fetch of pack a from blob 0 to blob 3 (the needed ones in between), "+" for a whole pack.
std::string describe(const std::vector<PackFetch>& fetches) {
    std::string text;
    for (const PackFetch& fetch : fetches) {
        if (!text.empty()) text += " ";
        text += fetch.pack->sha256 + ":";
        for (const PackedBlob* blob : fetch.blobs) text += blob->sha256.substr(fetch.pack->sha256.size()) + ",";
        text.pop_back();
        if (fetch.isWholePack()) text += "+";
    }
    return text;
}

TEST(PackPlan, JoinsNeededBlobsIntoRequestsWhereTheCostRuleSaysSo) {
    const uint64_t small = 4 * KiB;
    const std::vector<uint64_t> twenty(20, small);
    struct Case {
        const char* name;
        std::vector<ReleasePack> packs;
        std::vector<std::string> needed;
        const char* fetches;
    };
    std::vector<std::string> allOfA;
    for (int i = 0; i < 20; ++i) allOfA.push_back("a" + std::to_string(i));
    const Case cases[] = {
        {"every blob of a pack: the whole pack", {packOf("a", twenty)}, allOfA,
         "a:0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19+"},
        {"one blob: on its own", {packOf("a", twenty)}, {"a5"}, ""},
        {"none", {packOf("a", twenty)}, {}, ""},
        {"two neighbours: one range", {packOf("a", twenty)}, {"a5", "a6"}, "a:5,6"},
        {"a run with small gaps: one range", {packOf("a", twenty)}, {"a2", "a4", "a9"}, "a:2,4,9"},
        {"a gap of a request's worth: joined", {packOf("a", twenty)}, {"a0", "a9"}, "a:0,9"},
        {"gaps beyond a request's worth: each on its own", {packOf("a", twenty)}, {"a0", "a10"}, ""},
        {"two runs far apart: two ranges", {packOf("a", twenty)}, {"a0", "a1", "a18", "a19"}, "a:0,1 a:18,19"},
        {"every blob but the ends: a range", {packOf("a", twenty)},
         {"a1", "a2", "a3", "a4", "a5", "a6", "a7", "a8", "a9", "a10", "a11", "a12", "a13", "a14", "a15", "a16",
          "a17", "a18"},
         "a:1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18"},
        {"a blob too large for a pack is left out", {packOf("a", {small, small, kLargestPackedBlob + 1})},
         {"a0", "a1", "a2"}, "a:0,1"},
        {"two packs: never one request across them", {packOf("a", {small, small}), packOf("b", {small, small})},
         {"a0", "a1", "b0", "b1"}, "a:0,1+ b:0,1+"},
        {"a needed blob in no pack", {packOf("a", {small, small})}, {"a0", "a1", "elsewhere"}, "a:0,1+"},
    };
    for (const Case& c : cases) {
        const std::unordered_set<std::string> needed(c.needed.begin(), c.needed.end());
        const std::vector<PackFetch> fetches = planPackFetches(c.packs, needed);
        EXPECT_EQ(describe(fetches), c.fetches) << c.name;
        for (const PackFetch& fetch : fetches) {
            uint64_t neededBytes = 0;
            for (const PackedBlob* blob : fetch.blobs) neededBytes += blob->csize;
            EXPECT_EQ(fetch.first, fetch.blobs.front()->offset) << c.name;
            EXPECT_EQ(fetch.end - fetch.first, neededBytes + fetch.bytesInVain) << c.name;
            EXPECT_TRUE(isWorthFetchingInVain(fetch.bytesInVain, fetch.blobs.size() - 1)) << c.name;
        }
    }
}

TEST(PackPlan, AnUpdateOfAFewFilesNeverFetchesAWholePack) {
    // 100 of 2,000 small files changed, every twentieth: each fetched on its own.
    // A fetch points into its pack: the packs outlive the plan.
    const std::vector<ReleasePack> packs = {packOf("a", std::vector<uint64_t>(2000, 4 * KiB + 20))};
    std::unordered_set<std::string> needed;
    for (int i = 7; i < 2000; i += 20) needed.insert("a" + std::to_string(i));
    EXPECT_EQ(planPackFetches(packs, needed).size(), 0u);
    // Changed in runs of five: a range for each run, never the pack.
    needed.clear();
    for (int run = 0; run < 20; ++run)
        for (int i = 0; i < 5; ++i) needed.insert("a" + std::to_string(run * 100 + i));
    const std::vector<PackFetch> fetches = planPackFetches(packs, needed);
    ASSERT_EQ(fetches.size(), 20u);
    for (const PackFetch& fetch : fetches) EXPECT_FALSE(fetch.isWholePack());
}

TEST(TransfersInFlight, FollowTheWork) {
    struct Case {
        const char* name;
        TransferWork work;
        unsigned transfers;
    };
    const Case cases[] = {
        {"nothing to do", {0, 0, 0, 2}, 1},
        {"one large blob", {1, 0, 0, 2}, 1},
        {"three large blobs", {3, 0, 0, 2}, 3},
        {"many large blobs", {40, 5, 0, 2}, kTransfersForLargeBlobs},
        {"many small blobs", {100, 100, 0, 2}, kTransfersForSmallBlobs},
        {"small ones the most", {100, 51, 0, 2}, kTransfersForSmallBlobs},
        {"half small", {100, 50, 0, 2}, kTransfersForLargeBlobs},
        {"five small blobs", {5, 5, 0, 2}, 5},
        {"one pack: it and the cores that unpack", {1, 0, 1, 2}, 3},
        {"one pack and a large blob", {2, 0, 1, 2}, 3},
        {"one pack on eight cores", {1, 0, 1, 8}, kTransfersForLargeBlobs},
        {"pieces of packs among small blobs", {60, 50, 10, 2}, kTransfersForSmallBlobs},
    };
    for (const Case& c : cases) EXPECT_EQ(transfersInFlight(c.work), c.transfers) << c.name;
}

// Cuts a body into pieces of the given length and collects what each blob receives.
struct Collected {
    std::vector<std::string> blobs;
    std::vector<size_t> doneOrder;
};

Collected cutInPieces(PackCut& cut, const std::string& body, size_t pieceLength) {
    Collected collected;
    collected.blobs.resize(cut.blobs.size());
    PackCutReceiver receiver;
    receiver.bytes = [&](size_t blob, const uint8_t* data, size_t size) {
        EXPECT_TRUE(collected.doneOrder.empty() || collected.doneOrder.back() < blob);
        collected.blobs[blob].append(reinterpret_cast<const char*>(data), size);
        return true;
    };
    receiver.done = [&](size_t blob) {
        collected.doneOrder.push_back(blob);
        return true;
    };
    for (size_t at = 0; at < body.size(); at += pieceLength) {
        const std::string piece = body.substr(at, pieceLength);  // exactly sized, for the sanitizers
        EXPECT_TRUE(cutPackPiece(cut, reinterpret_cast<const uint8_t*>(piece.data()), piece.size(), receiver));
    }
    return collected;
}

TEST(PackCut, HandsEachBlobItsBytesWhateverThePiecesAndWhereTheBodyStarts) {
    const std::string pack = "HEADaaaaaGAPbbbbbbbbcTAIL";
    // Blobs "aaaaa" at 4, "bbbbbbbb" at 12, "c" at 20; what lies around them is never handed over.
    const std::vector<PackCut::Extent> blobs = {{4, 5}, {12, 8}, {20, 1}};
    for (const uint64_t bodyStart : {uint64_t(0), uint64_t(4)}) {  // the whole pack, or the range asked for
        for (size_t pieceLength = 1; pieceLength <= pack.size() + 1; ++pieceLength) {
            PackCut cut;
            cut.blobs = blobs;
            cut.position = bodyStart;
            const Collected got = cutInPieces(cut, pack.substr(size_t(bodyStart)), pieceLength);
            EXPECT_EQ(got.blobs, (std::vector<std::string>{"aaaaa", "bbbbbbbb", "c"})) << pieceLength;
            EXPECT_EQ(got.doneOrder, (std::vector<size_t>{0, 1, 2})) << pieceLength;
            EXPECT_TRUE(isPackCutWhole(cut));
            EXPECT_EQ(cut.position, pack.size()) << pieceLength;
        }
    }
}

TEST(PackCut, StopsWhenAReceiverSaysSoAndKnowsWhatIsMissing) {
    PackCut cut;
    cut.blobs = {{0, 3}, {3, 3}};
    PackCutReceiver receiver;
    std::string received;
    receiver.bytes = [&](size_t, const uint8_t* data, size_t size) {
        received.append(reinterpret_cast<const char*>(data), size);
        return true;
    };
    receiver.done = [](size_t blob) { return blob == 0; };  // the second one proves damaged
    const std::string body = "abcdef";
    EXPECT_TRUE(cutPackPiece(cut, reinterpret_cast<const uint8_t*>(body.data()), 4, receiver));
    EXPECT_FALSE(isPackCutWhole(cut));
    EXPECT_EQ(cut.next, 1u);  // a body cut here leaves the second blob to fetch
    EXPECT_FALSE(cutPackPiece(cut, reinterpret_cast<const uint8_t*>(body.data()) + 4, 2, receiver));
    EXPECT_EQ(received, "abcdef");
}

}  // namespace
