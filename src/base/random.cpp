#include "base/random.h"

namespace talven {

namespace {

constexpr int kN = 624;
constexpr int kM = 397;
std::uint32_t mt[kN];
int mti = kN + 1;  // not seeded

}  // namespace

void mt_seed(std::uint32_t seed) {
  for (int i = 0; i < kN; ++i) {
    mt[i] = seed & 0xFFFF0000u;
    seed = 69069u * seed + 1u;
    mt[i] |= (seed & 0xFFFF0000u) >> 16;
    seed = 69069u * seed + 1u;
  }
  mti = kN;
}

void mt_unseed() { mti = kN + 1; }

std::uint32_t mt_next() {
  constexpr std::uint32_t kMatrixA = 0x9908B0DFu, kUpper = 0x80000000u, kLower = 0x7FFFFFFFu;
  if (mti >= kN) {
    if (mti == kN + 1) mt_seed(4357);
    int k = 0;
    for (; k < kN - kM; ++k) {
      std::uint32_t y = (mt[k] & kUpper) | (mt[k + 1] & kLower);
      mt[k] = mt[k + kM] ^ (y >> 1) ^ ((y & 1) ? kMatrixA : 0);
    }
    for (; k < kN - 1; ++k) {
      std::uint32_t y = (mt[k] & kUpper) | (mt[k + 1] & kLower);
      mt[k] = mt[k + (kM - kN)] ^ (y >> 1) ^ ((y & 1) ? kMatrixA : 0);
    }
    std::uint32_t y = (mt[kN - 1] & kUpper) | (mt[0] & kLower);
    mt[kN - 1] = mt[kM - 1] ^ (y >> 1) ^ ((y & 1) ? kMatrixA : 0);
    mti = 0;
  }
  std::uint32_t y = mt[mti++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  y ^= y >> 18;
  return y;
}

}  // namespace talven
