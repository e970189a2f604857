// The process-wide pseudo-random generator: a 32-bit linear congruential
// generator seeded once, on first use, from a high-resolution counter.
#pragma once

#include <cstdint>

// A value in 0 .. range-1 (range > 0), advancing the seed.
uint32_t Random(uint32_t range);
// Reseeds the generator (Randomize with a fixed value), so tests can
// reproduce the random bytes of the cipher header.
void SetRandSeed(uint32_t seed);
uint32_t RandSeed();
