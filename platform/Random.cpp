#include "platform/Random.h"

#include <time.h>

#include <optional>

namespace {

// Seeded lazily so that a test's SetRandSeed before the first Random wins.
std::optional<uint32_t>& Seed() {
  static std::optional<uint32_t> seed;
  return seed;
}

uint32_t CounterSeed() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return uint32_t(uint64_t(now.tv_sec) * 1000000000u + uint64_t(now.tv_nsec));
}

uint32_t& CurrentSeed() {
  std::optional<uint32_t>& seed = Seed();
  if (!seed) seed = CounterSeed();
  return *seed;
}

}  // namespace

uint32_t Random(uint32_t range) {
  uint32_t& seed = CurrentSeed();
  seed = seed * 134775813u + 1u;  // wraps modulo 2^32
  return uint32_t((uint64_t(seed) * range) >> 32);
}

void SetRandSeed(uint32_t seed) {
  Seed() = seed;
}

uint32_t RandSeed() {
  return CurrentSeed();
}
