#include "platform/lzms_decoder.h"

#include "platform/lzms_container.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// An LZMS chunk is a sequence of 16-bit little-endian words read from both ends: a binary range decoder
// works forward from the start and picks the kind of each item; a bit reader works backward from the end
// and yields Huffman symbols and raw extra bits. Every read is bounds-checked by construction, every item
// writes at least one byte, and every match is checked against the output before it is copied.

namespace {

constexpr unsigned kLiteralSymbols = 256;
constexpr unsigned kLengthSymbols = 54;
constexpr unsigned kDeltaPowerSymbols = 8;
constexpr unsigned kMaxOffsetSymbols = 799;
constexpr unsigned kMaxCodewordLength = 15;

constexpr unsigned kLiteralRebuildPeriod = 1024;
constexpr unsigned kOffsetRebuildPeriod = 1024;
constexpr unsigned kLengthRebuildPeriod = 512;
constexpr unsigned kDeltaPowerRebuildPeriod = 512;

constexpr unsigned kRepeatQueueLength = 4;  // three usable slots plus the one that refills them

// ---------------------------------------------------------------------------------------------------------
// Offset and length slots: each slot is a base value plus a number of raw extra bits. The tables are given
// as runs of slots sharing the same number of extra bits; bases follow from them, starting at 1.

struct SlotRun {
    uint8_t extraBits;
    uint16_t slots;
};

template <size_t Slots>
struct SlotTable {
    std::array<uint32_t, Slots + 1> base{};  // base[Slots] is one past the largest value
    std::array<uint8_t, Slots> extraBits{};
};

template <size_t Slots, size_t Runs>
constexpr SlotTable<Slots> makeSlotTable(const SlotRun (&runs)[Runs]) {
    SlotTable<Slots> table;
    size_t slot = 0;
    uint32_t base = 1;
    for (const SlotRun& run : runs) {
        for (unsigned i = 0; i < run.slots; ++i, ++slot) {
            table.base[slot] = base;
            table.extraBits[slot] = run.extraBits;
            base += uint32_t(1) << run.extraBits;
        }
    }
    table.base[slot] = base;
    return table;
}

constexpr SlotRun kOffsetSlotRuns[] = {{0, 8},   {2, 9},   {3, 7},   {4, 10},  {5, 15},  {6, 15},  {7, 20},
                                       {8, 20},  {9, 30},  {10, 33}, {11, 40}, {12, 42}, {13, 45}, {14, 60},
                                       {15, 73}, {16, 80}, {17, 85}, {18, 95}, {19, 105}, {20, 6}, {30, 1}};
constexpr SlotRun kLengthSlotRuns[] = {{0, 26}, {1, 4}, {2, 6}, {3, 4}, {4, 5}, {5, 2}, {6, 1},
                                       {7, 1},  {8, 1}, {9, 1}, {10, 1}, {16, 1}, {30, 1}};

constexpr auto kOffsetSlots = makeSlotTable<kMaxOffsetSymbols>(kOffsetSlotRuns);
constexpr auto kLengthSlots = makeSlotTable<kLengthSymbols>(kLengthSlotRuns);
static_assert(kOffsetSlots.base[kMaxOffsetSymbols] == 0x465BE4A5, "offset slot runs");
static_assert(kLengthSlots.base[kLengthSymbols] == 0x400108AB, "length slot runs");

// The offset codes have as many symbols as slots are needed to reach the last byte of the chunk.
unsigned offsetSymbolCount(size_t chunkSize) {
    if (chunkSize < 2) return 1;  // no match is possible; one symbol keeps the code well formed
    const uint32_t largestOffset = uint32_t(chunkSize - 1);
    const auto it = std::upper_bound(kOffsetSlots.base.begin(), kOffsetSlots.base.end() - 1, largestOffset);
    return unsigned(it - kOffsetSlots.base.begin());
}

inline uint16_t loadLe16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

// Loads at any alignment; the product and the hosts it is built on are little-endian.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "little-endian loads");
template <typename T>
inline T loadLittleEndian(const uint8_t* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}
inline uint32_t loadLe32(const uint8_t* p) { return loadLittleEndian<uint32_t>(p); }
inline uint64_t loadLe64(const uint8_t* p) { return loadLittleEndian<uint64_t>(p); }

inline void storeLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// ---------------------------------------------------------------------------------------------------------
// Range decoding of binary decisions. Each decision class keeps a few recent decisions as its state; the
// state picks a model whose probability of a 0 is the share of zeros among its last 64 bits.

struct BitModel {
    uint64_t history = 0x0000000055555555ull;
    uint32_t zeros = 48;
};

template <unsigned States>
struct DecisionClass {
    unsigned state = 0;
    BitModel models[States];
};

// Probabilities of 0 and 1 cannot be coded: a model with only ones or only zeros behind it uses 1/64 or
// 63/64 instead.
constexpr std::array<uint8_t, 65> makeUsableProbabilities() {
    std::array<uint8_t, 65> table{};
    for (unsigned zeros = 0; zeros <= 64; ++zeros) table[zeros] = uint8_t(zeros == 0 ? 1 : zeros == 64 ? 63 : zeros);
    return table;
}
constexpr std::array<uint8_t, 65> kUsableProbability = makeUsableProbabilities();

class RangeDecoder {
public:
    RangeDecoder(const uint8_t* begin, const uint8_t* end)
        : next_(begin + 4), end_(end), code_((uint32_t(loadLe16(begin)) << 16) | loadLe16(begin + 2)) {}

    template <unsigned States>
    unsigned decode(DecisionClass<States>& decision) {
        BitModel& model = decision.models[decision.state];
        const uint32_t probability = kUsableProbability[model.zeros];
        if (range_ <= 0xFFFF) {
            range_ <<= 16;
            code_ <<= 16;
            if (next_ < end_) {  // past the end the stream reads as zeros
                code_ |= loadLe16(next_);
                next_ += 2;
            }
        }
        const uint32_t bound = (range_ >> 6) * probability;
        unsigned bit;
        if (code_ < bound) {
            range_ = bound;
            bit = 0;
        } else {
            range_ -= bound;
            code_ -= bound;
            bit = 1;
        }
        model.zeros = model.zeros + unsigned(model.history >> 63) - bit;
        model.history = (model.history << 1) | bit;
        decision.state = ((decision.state << 1) | bit) & (States - 1);
        return bit;
    }

private:
    const uint8_t* next_;
    const uint8_t* end_;
    uint32_t range_ = 0xFFFFFFFFu;
    uint32_t code_;
};

// ---------------------------------------------------------------------------------------------------------
// Backward bit reader: words from the end of the chunk towards its start, each word's bits high to low.
// Bits before the start read as zeros.

class BackwardBitReader {
public:
    static constexpr unsigned kGuaranteedBits = 48;

    BackwardBitReader(const uint8_t* begin, const uint8_t* end) : begin_(begin), next_(end) {}

    // After this at least kGuaranteedBits bits are buffered; nothing is done while `needed` bits are.
    void refill(unsigned needed = kGuaranteedBits) {
        if (bitsLeft_ >= needed) return;
        if (next_ - begin_ >= 8) {
            // The eight bytes below next_ hold the next four words in reading order from the top down.
            // Only whole words are counted; a partial word's bits land where the same word goes later.
            buffer_ |= loadLe64(next_ - 8) >> bitsLeft_;
            const unsigned words = (64 - bitsLeft_) >> 4;
            next_ -= 2 * words;
            bitsLeft_ += 16 * words;
            return;
        }
        while (bitsLeft_ <= 48) {
            uint64_t word = 0;
            if (next_ > begin_) {
                next_ -= 2;
                word = loadLe16(next_);
            }
            buffer_ |= word << (48 - bitsLeft_);
            bitsLeft_ += 16;
        }
    }

    uint32_t peek(unsigned count) const { return uint32_t(buffer_ >> (64 - count)); }  // 1..32 bits
    uint64_t buffer() const { return buffer_; }
    void consume(unsigned count) {
        buffer_ <<= count;
        bitsLeft_ -= count;
    }
    // 0..32 bits; the double shift gives 0 for a count of 0 without an undefined shift by 64.
    uint32_t take(unsigned count) {
        const uint32_t bits = uint32_t((buffer_ >> 1) >> (63 - count));
        consume(count);
        return bits;
    }

private:
    const uint8_t* begin_;
    const uint8_t* next_;
    uint64_t buffer_ = 0;
    unsigned bitsLeft_ = 0;
};

// ---------------------------------------------------------------------------------------------------------
// Adaptive canonical Huffman codes. The code is rebuilt from the symbol counts every rebuildPeriod symbols,
// as the classic two-queue Huffman construction with ties going to leaves, and the counts are then halved.
//
// Decode table entries: a direct entry holds symbol << 4 | codeword length. An entry with kSubtableFlag
// points to a second-level table (start << 4 | its index bits) for codewords longer than TableBits.

constexpr uint32_t kSubtableFlag = 0x80000000u;

template <unsigned MaxSymbols, unsigned TableBits>
class AdaptiveHuffmanCode {
    static constexpr unsigned kSubtableBits =
        kMaxCodewordLength > TableBits ? kMaxCodewordLength - TableBits : 1;
    static constexpr unsigned kMaxSubtables = std::min(MaxSymbols, 1u << TableBits);
    static constexpr unsigned kInvalidEntries = (1u << TableBits) + kMaxSubtables * (1u << kSubtableBits);

public:
    void reset(unsigned symbolCount, unsigned rebuildPeriod) {
        symbolCount_ = symbolCount;
        rebuildPeriod_ = rebuildPeriod;
        std::fill_n(counts_, symbolCount_, 1u);
        build();
    }

    // The reader must hold at least kMaxCodewordLength bits. Sets corrupt on a codeword outside the code.
    unsigned decode(BackwardBitReader& reader, bool& corrupt) {
        uint32_t entry = table_[reader.peek(TableBits)];
        if (entry & kSubtableFlag) entry = lookUpLong(entry, reader.buffer(), corrupt);
        reader.consume(entry & 0xF);
        const unsigned symbol = (entry >> 4) & 0xFFF;
        ++counts_[symbol];
        if (--untilRebuild_ == 0) rebuild();
        return symbol;
    }

private:
    uint32_t lookUpLong(uint32_t entry, uint64_t buffer, bool& corrupt) const {
        const unsigned bits = entry & 0xF;
        const uint32_t index = uint32_t((buffer << TableBits) >> (64 - bits));
        const uint32_t found = table_[((entry & ~kSubtableFlag) >> 4) + index];
        if (found == 0) corrupt = true;  // reads as symbol 0 of length 0; the caller then fails
        return found;
    }

    __attribute__((noinline)) void rebuild() {
        build();
        for (unsigned i = 0; i < symbolCount_; ++i) counts_[i] = (counts_[i] >> 1) + 1;
    }

    void build() {
        uint8_t lengths[MaxSymbols];
        computeCodewordLengths(lengths);
        fillTable(lengths);
        untilRebuild_ = rebuildPeriod_;
    }

    // Symbols sorted by (count, symbol) become the leaves; the least frequent get the longest codewords.
    void computeCodewordLengths(uint8_t* lengths) const {
        const unsigned n = symbolCount_;
        if (n == 1) {
            lengths[0] = 1;
            return;
        }
        uint32_t sorted[MaxSymbols];  // count << 10 | symbol
        sortByCount(sorted);

        // Leaves are nodes 0..n-1, inner nodes n..2n-2 in creation order. Both queues stay sorted, so the
        // two lightest nodes are always at their fronts; on equal weight the leaf goes first.
        uint32_t weight[2 * MaxSymbols];
        uint16_t parent[2 * MaxSymbols];
        for (unsigned i = 0; i < n; ++i) weight[i] = sorted[i] >> 10;
        unsigned nextLeaf = 0, nextInner = n, innerEnd = n;
        auto takeLightest = [&]() {
            if (nextLeaf < n && (nextInner == innerEnd || weight[nextLeaf] <= weight[nextInner]))
                return nextLeaf++;
            return nextInner++;
        };
        while (innerEnd < 2 * n - 1) {
            const unsigned a = takeLightest();
            const unsigned b = takeLightest();
            weight[innerEnd] = weight[a] + weight[b];
            parent[a] = parent[b] = uint16_t(innerEnd);
            ++innerEnd;
        }
        // Depths: the root is the last inner node and every parent comes after its children.
        uint8_t depth[2 * MaxSymbols];
        depth[2 * n - 2] = 0;
        unsigned leavesAtLength[kMaxCodewordLength + 2] = {};
        for (int node = int(2 * n) - 3; node >= 0; --node) {
            depth[node] = uint8_t(std::min<unsigned>(depth[parent[node]] + 1, kMaxCodewordLength + 1));
            if (unsigned(node) < n) ++leavesAtLength[depth[node]];
        }
        // The counts are halved often enough that no codeword gets longer than 15 bits. Should a deeper
        // leaf ever appear, leaves move down until the lengths form a prefix code again, so that the
        // tables stay in bounds whatever happens.
        leavesAtLength[kMaxCodewordLength] += leavesAtLength[kMaxCodewordLength + 1];
        uint32_t kraftSum = 0;  // in units of 2^-15
        for (unsigned length = 1; length <= kMaxCodewordLength; ++length)
            kraftSum += leavesAtLength[length] << (kMaxCodewordLength - length);
        while (kraftSum > (1u << kMaxCodewordLength)) {
            unsigned length = kMaxCodewordLength - 1;
            while (leavesAtLength[length] == 0) --length;
            --leavesAtLength[length];
            ++leavesAtLength[length + 1];
            kraftSum -= 1u << (kMaxCodewordLength - length - 1);
        }
        unsigned leaf = 0;
        for (unsigned length = kMaxCodewordLength; length >= 1; --length)
            for (unsigned k = 0; k < leavesAtLength[length]; ++k) lengths[sorted[leaf++] & 0x3FF] = uint8_t(length);
    }

    // Counting sort on small counts (symbols stay in order within a bucket), then the few large ones.
    void sortByCount(uint32_t* sorted) const {
        constexpr unsigned kBuckets = 64;
        unsigned bucketStart[kBuckets + 1] = {};
        for (unsigned s = 0; s < symbolCount_; ++s) ++bucketStart[std::min(counts_[s], kBuckets - 1) + 1];
        for (unsigned b = 1; b <= kBuckets; ++b) bucketStart[b] += bucketStart[b - 1];
        const unsigned largeStart = bucketStart[kBuckets - 1];
        for (unsigned s = 0; s < symbolCount_; ++s)
            sorted[bucketStart[std::min(counts_[s], kBuckets - 1)]++] = counts_[s] << 10 | s;
        std::sort(sorted + largeStart, sorted + symbolCount_);
    }

    void fillTable(const uint8_t* lengths) {
        const unsigned n = symbolCount_;
        // Symbols in canonical order: by length, then by value.
        unsigned perLength[kMaxCodewordLength + 1] = {};
        for (unsigned s = 0; s < n; ++s) ++perLength[lengths[s]];
        unsigned orderStart[kMaxCodewordLength + 2] = {};
        for (unsigned l = 1; l <= kMaxCodewordLength; ++l) orderStart[l + 1] = orderStart[l] + perLength[l];
        uint16_t order[MaxSymbols];
        for (unsigned s = 0; s < n; ++s) order[orderStart[lengths[s]]++] = uint16_t(s);

        unsigned maxLength = kMaxCodewordLength;
        while (perLength[maxLength] == 0) --maxLength;
        const unsigned subtableBits = maxLength > TableBits ? maxLength - TableBits : 0;

        uint32_t codeword = 0;
        unsigned length = 0;
        unsigned subtableEnd = 1u << TableBits;
        uint32_t openPrefix = ~0u;
        for (unsigned i = 0; i < n; ++i) {
            const unsigned symbol = order[i];
            codeword <<= lengths[symbol] - length;
            length = lengths[symbol];
            const uint32_t entry = uint32_t(symbol) << 4 | length;
            if (length <= TableBits) {
                const unsigned span = 1u << (TableBits - length);
                std::fill_n(table_ + (codeword << (TableBits - length)), span, entry);
            } else {
                const unsigned extra = length - TableBits;
                const uint32_t prefix = codeword >> extra;
                if (prefix != openPrefix) {
                    openPrefix = prefix;
                    table_[prefix] = kSubtableFlag | subtableEnd << 4 | subtableBits;
                    subtableEnd += 1u << subtableBits;
                }
                const uint32_t start = (table_[prefix] & ~kSubtableFlag) >> 4;
                const uint32_t low = codeword & ((1u << extra) - 1);
                const unsigned span = 1u << (subtableBits - extra);
                std::fill_n(table_ + start + (low << (subtableBits - extra)), span, entry);
            }
            ++codeword;
        }
        if (n == 1) {
            // A one-symbol code uses codeword 0 only; codeword 1 is invalid.
            const unsigned half = 1u << (TableBits - 1);
            table_[kInvalidEntries] = table_[kInvalidEntries + 1] = 0;
            std::fill_n(table_ + half, half, kSubtableFlag | kInvalidEntries << 4 | 1u);
        }
    }

    unsigned symbolCount_ = 0;
    unsigned rebuildPeriod_ = 0;
    unsigned untilRebuild_ = 0;
    uint32_t counts_[MaxSymbols];
    uint32_t table_[kInvalidEntries + 2];
};

// ---------------------------------------------------------------------------------------------------------
// Undoing the x86 translation: the encoder turned relative operands of likely x86 instructions into
// absolute ones; an operand is translated only close behind a spot that looked like real code.

constexpr int32_t kX86IdentityWindow = 65535;
constexpr int32_t kX86MaxTranslationDistance = 1023;

// Position of the first likely opcode in [i, end), or end: E8, E9, or 48/4C followed by 8B or 8D, F0 by
// 83, FF by 15. The caller checks the rest. Each candidate's next byte is read too, so end < size. Where
// SSE2 is there (always on x86-64) sixteen positions are ruled out at a time while the 17 bytes that takes
// lie inside the data; the rest goes one byte at a time.
inline int32_t findOpcodeCandidate(const uint8_t* data, int32_t i, int32_t end, int32_t size) {
#if defined(__SSE2__)
    const auto bytes = [](int value) { return _mm_set1_epi8(char(value)); };
    for (; i < end && i + 17 <= size; i += 16) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 1));
        const __m128i isCall = _mm_or_si128(_mm_cmpeq_epi8(b, bytes(0xE8)), _mm_cmpeq_epi8(b, bytes(0xE9)));
        const __m128i isRex = _mm_and_si128(
            _mm_cmpeq_epi8(_mm_andnot_si128(bytes(0x04), b), bytes(0x48)),
            _mm_or_si128(_mm_cmpeq_epi8(next, bytes(0x8B)), _mm_cmpeq_epi8(next, bytes(0x8D))));
        const __m128i isLock = _mm_and_si128(_mm_cmpeq_epi8(b, bytes(0xF0)), _mm_cmpeq_epi8(next, bytes(0x83)));
        const __m128i isIndirect = _mm_and_si128(_mm_cmpeq_epi8(b, bytes(0xFF)), _mm_cmpeq_epi8(next, bytes(0x15)));
        const __m128i hits = _mm_or_si128(_mm_or_si128(isCall, isRex), _mm_or_si128(isLock, isIndirect));
        const unsigned mask = unsigned(_mm_movemask_epi8(hits));
        if (mask != 0) return std::min(end, i + __builtin_ctz(mask));
    }
#endif
    for (; i < end && i + 1 < size; ++i) {
        const uint8_t b = data[i], next = data[i + 1];
        if (b == 0xE8 || b == 0xE9 || ((b & ~0x04) == 0x48 && (next == 0x8B || next == 0x8D)) ||
            (b == 0xF0 && next == 0x83) || (b == 0xFF && next == 0x15))
            return i;
    }
    return end;
}

void undoX86Translation(uint8_t* data, size_t size, int32_t* lastTargetUse) {
    if (size <= 17) return;
    std::fill_n(lastTargetUse, 65536, -kX86IdentityWindow - 1);
    int32_t lastCodePosition = -kX86MaxTranslationDistance - 1;
    // No instruction starts at the first byte or in the last 16.
    const int32_t end = int32_t(size - 16);
    const int32_t total = int32_t(size);
    for (int32_t i = findOpcodeCandidate(data, 1, end, total); i < end;
         i = findOpcodeCandidate(data, i, end, total)) {
        const uint8_t opcode = data[i];
        int32_t opcodeLength = 0;
        int32_t maxDistance = kX86MaxTranslationDistance;
        switch (opcode) {
        case 0x48:  // REX.W / REX.WR: LEA or MOV with a RIP-relative operand
        case 0x4C:
            if ((data[i + 2] & 0x07) == 0x05 &&
                (data[i + 1] == 0x8D || (data[i + 1] == 0x8B && !(opcode & 0x04) && !(data[i + 2] & 0xF0))))
                opcodeLength = 3;
            break;
        case 0xE8:  // CALL rel32, common enough to need a closer sign of code
            opcodeLength = 1;
            maxDistance >>= 1;
            break;
        case 0xE9:  // JMP rel32 is never translated, but its operand is skipped
            i += 5;
            continue;
        case 0xF0:  // LOCK ADD [rip+rel32], imm8
            if (data[i + 1] == 0x83 && data[i + 2] == 0x05) opcodeLength = 3;
            break;
        default:  // 0xFF: CALL [rip+rel32]
            if (data[i + 1] == 0x15) opcodeLength = 2;
            break;
        }
        if (opcodeLength == 0) {
            ++i;
            continue;
        }
        uint8_t* operand = data + i + opcodeLength;
        if (i - lastCodePosition <= maxDistance) storeLe32(operand, loadLe32(operand) - uint32_t(i));
        const uint16_t target = uint16_t(i + loadLe16(operand));
        const int32_t instructionEnd = i + opcodeLength + 3;
        if (instructionEnd - lastTargetUse[target] <= kX86IdentityWindow) lastCodePosition = instructionEnd;
        lastTargetUse[target] = instructionEnd;
        i += opcodeLength + 4;
    }
}

// ---------------------------------------------------------------------------------------------------------

struct ChunkDecoder {
    DecisionClass<16> main;     // literal or match
    DecisionClass<32> match;    // LZ or delta match
    DecisionClass<64> lz;       // explicit or repeated LZ offset
    DecisionClass<64> lzRepeat[kRepeatQueueLength - 2];
    DecisionClass<64> delta;    // explicit or repeated delta pair
    DecisionClass<64> deltaRepeat[kRepeatQueueLength - 2];

    AdaptiveHuffmanCode<kLiteralSymbols, 10> literals;
    AdaptiveHuffmanCode<kMaxOffsetSymbols, 10> lzOffsets;
    AdaptiveHuffmanCode<kLengthSymbols, 9> lengths;
    AdaptiveHuffmanCode<kMaxOffsetSymbols, 10> deltaOffsets;
    AdaptiveHuffmanCode<kDeltaPowerSymbols, 7> deltaPowers;

    int32_t lastTargetUse[65536];

    bool decode(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);
};

// The fast copy below widens an offset under eight bytes to its smallest multiple of at least eight (at most
// 14, for an offset of 7), copies that many bytes one at a time, then 24 bytes without a loop, then eight at
// a time until the match is done. Its last write therefore ends at most kMatchCopyOvershoot bytes past the
// match (a match is at least one byte long), and it only runs where the output has that much room left.
constexpr size_t widenedOffset(size_t offset) { return offset * ((offset + 7) / offset); }
constexpr size_t widestShortOffset() {
    size_t widest = 0;
    for (size_t offset = 1; offset < 8; ++offset) widest = std::max(widest, widenedOffset(offset));
    return widest;
}
constexpr size_t kMatchCopyOvershoot = widestShortOffset() + 24 - 1;
static_assert(kMatchCopyOvershoot == 37, "a short offset widens to 14 bytes at most");

// Copies an LZ match, which may overlap its own output, and returns the new write position.
inline uint8_t* copyMatch(uint8_t* p, size_t offset, size_t length, const uint8_t* end) {
    uint8_t* const stop = p + length;
    const uint8_t* from = p - offset;
    if (size_t(end - stop) < kMatchCopyOvershoot) {
        for (size_t i = 0; i < length; ++i) p[i] = from[i];
        return stop;
    }
    // Eight bytes at a time while the source is at least eight bytes behind; the overshoot stays inside
    // the buffer and is written over later. The output repeats with every multiple of the offset, so a
    // short offset is first widened. Most matches are short: the first 24 bytes are copied without a loop.
    if (offset < 8) {
        const size_t distance = widenedOffset(offset);
        for (size_t i = 0; i < distance; ++i) p[i] = from[i];
        p += distance;
        from = p - distance;
    }
    std::memcpy(p, from, 8);
    std::memcpy(p + 8, from + 8, 8);
    std::memcpy(p + 16, from + 16, 8);
    for (p += 24, from += 24; p < stop; p += 8, from += 8) std::memcpy(p, from, 8);
    return stop;
}

// Takes entry `slot` out of the queue; the entries behind it move up and the last one stays as it was.
template <typename T>
T takeRepeat(T (&queue)[kRepeatQueueLength], unsigned slot) {
    const T value = queue[slot];
    for (unsigned i = slot; i + 1 < kRepeatQueueLength; ++i) queue[i] = queue[i + 1];
    return value;
}

template <typename T>
void pushRepeat(T (&queue)[kRepeatQueueLength], T value) {
    for (unsigned i = kRepeatQueueLength - 1; i > 0; --i) queue[i] = queue[i - 1];
    queue[0] = value;
}

bool ChunkDecoder::decode(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
    if (inSize < 4 || (inSize & 1) != 0) return false;
    main = {};
    match = {};
    lz = {};
    delta = {};
    for (auto& decision : lzRepeat) decision = {};
    for (auto& decision : deltaRepeat) decision = {};
    const unsigned offsetSymbols = offsetSymbolCount(outSize);
    literals.reset(kLiteralSymbols, kLiteralRebuildPeriod);
    lzOffsets.reset(offsetSymbols, kOffsetRebuildPeriod);
    lengths.reset(kLengthSymbols, kLengthRebuildPeriod);
    deltaOffsets.reset(offsetSymbols, kOffsetRebuildPeriod);
    deltaPowers.reset(kDeltaPowerSymbols, kDeltaPowerRebuildPeriod);

    RangeDecoder ranges(in, in + inSize);
    BackwardBitReader bits(in, in + inSize);

    // A new offset joins the front of its queue one item late: only when the next item of any kind has
    // been decoded, or, for a match of the same kind right after it, once that match has chosen its own.
    enum class Item { Literal, Lz, Delta };
    Item previous = Item::Literal;
    uint32_t lzQueue[kRepeatQueueLength] = {1, 2, 3, 4};
    uint32_t lzPending = 0;
    struct DeltaPair {
        uint32_t power;
        uint32_t rawOffset;
    };
    DeltaPair deltaQueue[kRepeatQueueLength] = {{0, 1}, {0, 2}, {0, 3}, {0, 4}};
    DeltaPair deltaPending{0, 0};
    bool corrupt = false;

    auto decodeLength = [&]() {
        bits.refill();
        const unsigned slot = lengths.decode(bits, corrupt);
        return kLengthSlots.base[slot] + bits.take(kLengthSlots.extraBits[slot]);
    };

    uint8_t* p = out;
    uint8_t* const end = out + outSize;
    while (p != end) {
        if (ranges.decode(main) == 0) {
            bits.refill(kMaxCodewordLength);
            *p++ = uint8_t(literals.decode(bits, corrupt));
            previous = Item::Literal;
            continue;
        }
        if (ranges.decode(match) == 0) {
            if (lzPending != 0 && previous != Item::Lz) {
                pushRepeat(lzQueue, lzPending);
                lzPending = 0;
            }
            uint32_t offset;
            if (ranges.decode(lz) == 0) {
                bits.refill();
                const unsigned slot = lzOffsets.decode(bits, corrupt);
                offset = kOffsetSlots.base[slot] + bits.take(kOffsetSlots.extraBits[slot]);
            } else if (ranges.decode(lzRepeat[0]) == 0) {
                offset = takeRepeat(lzQueue, 0);
            } else if (ranges.decode(lzRepeat[1]) == 0) {
                offset = takeRepeat(lzQueue, 1);
            } else {
                offset = takeRepeat(lzQueue, 2);
            }
            if (lzPending != 0) pushRepeat(lzQueue, lzPending);
            lzPending = offset;
            const uint32_t length = decodeLength();
            const size_t written = size_t(p - out);
            if (corrupt || offset > written || length > size_t(end - p)) return false;

            p = copyMatch(p, offset, length, end);
            previous = Item::Lz;
        } else {
            if (deltaPending.rawOffset != 0 && previous != Item::Delta) {
                pushRepeat(deltaQueue, deltaPending);
                deltaPending = {0, 0};
            }
            DeltaPair pair;
            if (ranges.decode(delta) == 0) {
                bits.refill();
                pair.power = deltaPowers.decode(bits, corrupt);
                bits.refill();
                const unsigned slot = deltaOffsets.decode(bits, corrupt);
                pair.rawOffset = kOffsetSlots.base[slot] + bits.take(kOffsetSlots.extraBits[slot]);
            } else if (ranges.decode(deltaRepeat[0]) == 0) {
                pair = takeRepeat(deltaQueue, 0);
            } else if (ranges.decode(deltaRepeat[1]) == 0) {
                pair = takeRepeat(deltaQueue, 1);
            } else {
                pair = takeRepeat(deltaQueue, 2);
            }
            if (deltaPending.rawOffset != 0) pushRepeat(deltaQueue, deltaPending);
            deltaPending = pair;
            const uint32_t length = decodeLength();
            // Each byte is the byte one offset back, plus the change seen one span earlier at both places.
            const uint64_t span = uint64_t(1) << pair.power;
            const uint64_t offset = uint64_t(pair.rawOffset) << pair.power;
            const size_t written = size_t(p - out);
            if (corrupt || offset + span > written || length > size_t(end - p)) return false;
            const uint8_t* from = p - offset;
            for (uint32_t i = 0; i < length; ++i)
                p[i] = uint8_t(from[i] + p[int64_t(i) - int64_t(span)] - from[int64_t(i) - int64_t(span)]);
            p += length;
            previous = Item::Delta;
        }
    }
    undoX86Translation(out, outSize, lastTargetUse);
    return true;
}

}  // namespace

bool readLzmsBlobSize(const uint8_t* blob, size_t blobSize, uint64_t& totalSize) {
    LzmsContainerHeader header;
    if (!readLzmsHeader(blob, blobSize, header)) return false;
    totalSize = header.totalSize;
    return true;
}

struct LzmsChunkDecoder {
    ChunkDecoder state;
};

void LzmsChunkDecoderDeleter::operator()(LzmsChunkDecoder* decoder) const { delete decoder; }

UniqueLzmsChunkDecoder newLzmsChunkDecoder() { return UniqueLzmsChunkDecoder(new (std::nothrow) LzmsChunkDecoder); }

bool decodeLzmsChunk(LzmsChunkDecoder& decoder, const uint8_t* packed, size_t packedSize, uint8_t* out,
                     size_t outSize) {
    if (outSize == 0 || outSize > kLzmsMaxChunkSize) return false;
    if (packedSize == outSize) {
        std::memcpy(out, packed, outSize);  // stored raw
        return true;
    }
    return decoder.state.decode(packed, packedSize, out, outSize);
}

bool decodeLzmsBlob(const uint8_t* blob, size_t blobSize, uint8_t* out, uint64_t outSize) {
    LzmsContainerHeader header;
    if (!readLzmsHeader(blob, blobSize, header) || header.totalSize != outSize) return false;
    if (outSize > 0 && out == nullptr) return false;

    UniqueLzmsChunkDecoder decoder;
    size_t position = kLzmsHeaderSize;
    uint64_t produced = 0;
    while (produced < outSize) {
        if (blobSize - position < 4) return false;
        const size_t packedSize = loadLe32(blob + position);
        position += 4;
        if (packedSize > blobSize - position) return false;
        const size_t chunkSize = size_t(std::min(header.chunkSize, outSize - produced));
        if (!decoder) decoder = newLzmsChunkDecoder();
        if (!decoder || !decodeLzmsChunk(*decoder, blob + position, packedSize, out + produced, chunkSize))
            return false;
        position += packedSize;
        produced += chunkSize;
    }
    return position == blobSize;
}
