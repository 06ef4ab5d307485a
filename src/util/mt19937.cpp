// MT19937 with the 69069 seeding of its 1998 reference code.
#include "util/mt19937.h"

namespace zelka {
namespace {

constexpr int kN = 624;
constexpr int kM = 397;
constexpr std::uint32_t kMatrixA = 0x9908b0dfU;
constexpr std::uint32_t kUpperMask = 0x80000000U;
constexpr std::uint32_t kLowerMask = 0x7fffffffU;

}  // namespace

void Mt19937::seed_(std::uint32_t seed) {
  state_[0] = seed;
  for (int i = 1; i < kN; ++i) state_[i] = state_[i - 1] * 69069U;  // modulo 2^32
  index_ = kN;
}

std::uint32_t Mt19937::next() {
  static constexpr std::uint32_t kMag01[2] = {0x0U, kMatrixA};
  if (index_ >= kN) {
    if (index_ == kN + 1) seed_(4357U);  // drawn before any seeding
    int k = 0;
    for (; k < kN - kM; ++k) {
      std::uint32_t y = (state_[k] & kUpperMask) | (state_[k + 1] & kLowerMask);
      state_[k] = state_[k + kM] ^ (y >> 1) ^ kMag01[y & 0x1U];
    }
    for (; k < kN - 1; ++k) {
      std::uint32_t y = (state_[k] & kUpperMask) | (state_[k + 1] & kLowerMask);
      state_[k] = state_[k + (kM - kN)] ^ (y >> 1) ^ kMag01[y & 0x1U];
    }
    std::uint32_t y = (state_[kN - 1] & kUpperMask) | (state_[0] & kLowerMask);
    state_[kN - 1] = state_[kM - 1] ^ (y >> 1) ^ kMag01[y & 0x1U];
    index_ = 0;
  }
  std::uint32_t y = state_[index_++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9d2c5680U;
  y ^= (y << 15) & 0xefc60000U;
  y ^= y >> 18;
  return y;
}

}  // namespace zelka
