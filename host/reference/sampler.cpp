#include "host/reference/sampler.h"

#include "host/reference/noise.h"

namespace vref {

namespace {

uint32_t reverseBits(uint32_t x) {
    x = __builtin_bswap32(x);
    x = ((x & 0x0f0f0f0fu) << 4) | ((x & 0xf0f0f0f0u) >> 4);
    x = ((x & 0x33333333u) << 2) | ((x & 0xccccccccu) >> 2);
    return ((x & 0x55555555u) << 1) | ((x & 0xaaaaaaaau) >> 1);
}

// Owen scrambling of a 32-bit fraction: a random permutation of every subtree of
// its bits, from a hash that only lets higher bits affect lower ones (applied to the
// reversed bits).
uint32_t laineKarras(uint32_t x, uint32_t seed) {
    x ^= x * 0x3d20adeau;
    x += seed;
    x *= (seed >> 16) | 1u;
    x ^= x * 0x05526c56u;
    x ^= x * 0x53a22864u;
    return x;
}

// The second Sobol dimension's generator matrix applied a byte at a time, with its
// result bit-reversed: entry [k][b] is the XOR of the reversed direction numbers of
// the set bits of b at byte k.
struct SobolTable {
    uint32_t bytes[4][256];
    constexpr SobolTable() : bytes() {
        uint32_t v[32] = {};
        v[0] = 1u;
        for (int i = 1; i < 32; ++i) v[i] = v[i - 1] ^ (v[i - 1] << 1);
        for (int k = 0; k < 4; ++k) {
            for (int b = 0; b < 256; ++b) {
                uint32_t x = 0;
                for (int i = 0; i < 8; ++i) {
                    if (b & (1 << i)) x ^= v[8 * k + i];
                }
                bytes[k][b] = x;
            }
        }
    }
};
constexpr SobolTable kSobol1;

uint32_t sobol1Reversed(uint32_t index) {
    return kSobol1.bytes[0][index & 0xffu] ^ kSobol1.bytes[1][(index >> 8) & 0xffu] ^
           kSobol1.bytes[2][(index >> 16) & 0xffu] ^ kSobol1.bytes[3][index >> 24];
}

// Owen-scrambles a component given bit-reversed and makes it a float in [0, 1): 24
// bits are exactly representable, so the result never rounds up to 1.
float scrambled(uint32_t reversed, uint32_t seed) {
    uint32_t bits = reverseBits(laineKarras(reversed, seed));
    return static_cast<float>(bits >> 8) * (1.0f / 16777216.0f);
}

}  // namespace

Sampler::Sampler(uint32_t seed, uint32_t x, uint32_t y, uint32_t sample)
    : pixel_(hashCombine(hashCombine(hash32(seed), x), y)), reversedIndex_(reverseBits(sample)) {}

// The sample's index is shuffled per pixel and pair of dimensions (Owen-scrambled).
// The first Sobol component of an index is the index bit-reversed, so the shuffled
// index is the first component in reverse, and the reversed second component comes
// from the table.
uint32_t Sampler::shuffled(uint32_t pair, uint32_t* seed) const {
    *seed = hashCombine(pixel_, pair);
    return reverseBits(laineKarras(reversedIndex_, *seed));
}

float Sampler::next() {
    uint32_t d = dimension_++, seed;
    uint32_t i = shuffled(d >> 1, &seed);
    return scrambled((d & 1u) ? sobol1Reversed(i) : i, hash32(seed + 1u + (d & 1u)));
}

void Sampler::next2(float* a, float* b) {
    dimension_ += dimension_ & 1u;
    uint32_t seed;
    uint32_t i = shuffled(dimension_ >> 1, &seed);
    *a = scrambled(i, hash32(seed + 1u));
    *b = scrambled(sobol1Reversed(i), hash32(seed + 2u));
    dimension_ += 2;
}

}  // namespace vref
