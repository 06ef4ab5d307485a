// MT19937, the 1998 reference generator with its 69069 seeding (each state word is the
// previous one times 69069). Drawn before any seeding, it seeds itself with 4357.
#pragma once

#include <array>
#include <cstdint>

namespace zelka {

class Mt19937 {
 public:
  Mt19937() = default;            // unseeded
  explicit Mt19937(std::uint32_t seed) { seed_(seed); }
  void seed(std::uint32_t seed) { seed_(seed); }
  std::uint32_t next();

 private:
  void seed_(std::uint32_t seed);
  std::array<std::uint32_t, 624> state_{};
  int index_ = 625;
};

}  // namespace zelka
