// The image descrambler.
//
// The generator's state after each step only depends on the state before it and lies
// below MOD, so the sequence of states from SEED is eventually periodic. The whole
// sequence (a tail that is never revisited, then one period) is worked out at compile
// time; a position is then an index into that table, Skip is O(1), and a block takes
// its 4096 keystream bytes from one contiguous run of a table that repeats the start
// of the period after its end.
#include "image/descrambler.h"

#include <array>
#include <utility>

namespace quorsel {

namespace {

constexpr uint32_t Step(uint32_t x) {
    // Unsigned 32-bit arithmetic: the product wraps before the modulus is taken.
    return (x * Descrambler::MUL + Descrambler::INC) % Descrambler::MOD;
}

struct Keystream {
    uint32_t tail = 0;    // outputs before the first one that recurs
    uint32_t period = 0;  // length of the cycle that follows the tail
    std::array<uint16_t, Descrambler::MOD> states{};            // output k, for k < tail + period
    std::array<uint8_t, Descrambler::MOD + BLOCK_SIZE> bytes{};  // low bytes, one block past the end

    constexpr uint32_t Normalize(uint64_t k) const {
        if (k < tail) {
            return static_cast<uint32_t>(k);
        }
        return tail + static_cast<uint32_t>((k - tail) % period);
    }
};

constexpr Keystream BuildKeystream() {
    Keystream ks;
    std::array<int32_t, Descrambler::MOD> firstSeen{};
    for (int32_t& index : firstSeen) {
        index = -1;
    }
    uint32_t x = Descrambler::SEED;
    uint32_t k = 0;
    for (;;) {
        x = Step(x);
        if (firstSeen[x] >= 0) {
            ks.tail = static_cast<uint32_t>(firstSeen[x]);
            ks.period = k - ks.tail;
            break;
        }
        firstSeen[x] = static_cast<int32_t>(k);
        ks.states[k] = static_cast<uint16_t>(x);
        ++k;
    }
    for (uint32_t i = 0; i < ks.tail + ks.period + BLOCK_SIZE; ++i) {
        ks.bytes[i] = static_cast<uint8_t>(ks.states[ks.Normalize(i)] & 0xFF);
    }
    return ks;
}

constexpr Keystream KEYSTREAM = BuildKeystream();

static_assert(KEYSTREAM.period > 0);
static_assert(KEYSTREAM.tail + KEYSTREAM.period <= Descrambler::MOD);

// Static checks that keep the reordering inside the block.
constexpr bool IsPermutation(const auto& table, size_t size) {
    bool seen[256] = {};
    for (size_t i = 0; i < size; ++i) {
        if (table[i] >= size || seen[table[i]]) return false;
        seen[table[i]] = true;
    }
    return true;
}
static_assert(IsPermutation(ROW, 16));
static_assert(IsPermutation(PERM, 256));

// One row in PERM order, unrolled so that every byte is a load and a store at fixed offsets.
template <size_t... J>
inline void GatherRow(const uint8_t* __restrict source, uint8_t* __restrict target, std::index_sequence<J...>) {
    ((target[J] = source[PERM[J]]), ...);
}

void SubtractKeystream(uint8_t* __restrict out, const uint8_t* __restrict in,
                       const uint8_t* __restrict key) {
    for (size_t p = 0; p < BLOCK_SIZE; ++p) {
        out[p] = static_cast<uint8_t>(in[p] - key[p]);
    }
}

}  // namespace

uint32_t Descrambler::Next() {
    const uint32_t state = KEYSTREAM.states[position_];
    ++position_;
    if (position_ == KEYSTREAM.tail + KEYSTREAM.period) {
        position_ = KEYSTREAM.tail;
    }
    return state;
}

void Descrambler::Skip(uint32_t count) { position_ = KEYSTREAM.Normalize(count); }

void Descrambler::DescrambleBlock(uint8_t* block) {
    // Row r of the result is stored row ROW[r], its bytes taken in PERM order.
    uint8_t reordered[BLOCK_SIZE];
    for (size_t r = 0; r < 16; ++r) {
        GatherRow(block + 256 * ROW[r], reordered + 256 * r, std::make_index_sequence<256>{});
    }
    SubtractKeystream(block, reordered, KEYSTREAM.bytes.data() + position_);
    position_ = KEYSTREAM.Normalize(static_cast<uint64_t>(position_) + BLOCK_SIZE);
}

uint8_t Descrambler::KeystreamByte(uint32_t imageOffset) {
    return KEYSTREAM.bytes[KEYSTREAM.Normalize(imageOffset)];
}

}  // namespace quorsel
