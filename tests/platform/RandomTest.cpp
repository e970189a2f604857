#include <gtest/gtest.h>

#include <cstdint>

#include "platform/Random.h"

TEST(Random, FollowsTheLinearCongruentialSequence) {
  const uint32_t seeds[] = {0, 1, 12345, 0xDEADBEEF, 0xFFFFFFFF};
  const uint32_t ranges[] = {256, 100, 1, 0xFFFFFFFF, 7};
  for (const uint32_t seed : seeds) {
    SCOPED_TRACE(seed);
    SetRandSeed(seed);
    uint64_t expectedSeed = seed;
    for (int i = 0; i < 20; ++i) {
      const uint32_t range = ranges[i % 5];
      expectedSeed = (expectedSeed * 134775813u + 1u) % 4294967296u;
      EXPECT_EQ(Random(range), uint32_t(expectedSeed * range / 4294967296u));
      EXPECT_EQ(RandSeed(), expectedSeed);
    }
  }
}

TEST(Random, KnownValuesFromSeedZero) {
  SetRandSeed(0);
  EXPECT_EQ(Random(100), 0u);  // seed 1
  EXPECT_EQ(Random(100), 3u);  // seed 134775814
  EXPECT_EQ(RandSeed(), 134775814u);
  SetRandSeed(0);
  EXPECT_EQ(Random(256), 0u);
}
