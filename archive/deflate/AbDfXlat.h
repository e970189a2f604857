// Deflate symbols of match lengths and distances, one byte look-up each.
#pragma once

#include <array>
#include <cstdint>

#include "platform/SysUtils.h"

class TAbDfTranslator {
 public:
  TAbDfTranslator();

  // A length of 3..65,536 to its symbol 257..285 (every length above 258 is
  // Deflate64's 285).
  int32_t LengthSymbol(int32_t aLength) const {
    ZASSERT(aLength >= 3 && aLength <= 65536,
            "TAbDfTranslator.Translate: length should be 3..65536");
    if (aLength > 258) return 285;
    return FBlock[kLengthTable + aLength - 3] + 257;
  }
  // A distance of 1..65,536 to its symbol 0..31.
  int32_t DistanceSymbol(int32_t aDistance) const {
    ZASSERT(aDistance >= 1 && aDistance <= 65536,
            "TAbDfTranslator.Translate: distance should be 1..65536");
    if (aDistance <= 256) return FBlock[kShortDistTable + aDistance - 1];
    if (aDistance <= 32768) return FBlock[kMediumDistTable + (aDistance - 1) / 128 - 2];
    return FBlock[kLongDistTable + (aDistance - 1) / 16384 - 2];
  }

 private:
  // One block holds the four tables, at these offsets.
  static constexpr int kLengthTable = 0;
  static constexpr int kLongDistTable = 256;
  static constexpr int kMediumDistTable = 258;
  static constexpr int kShortDistTable = 514;

  std::array<uint8_t, 770> FBlock{};
};

// The translator every coder shares, built on first use and never changed.
const TAbDfTranslator& AbDfSharedTranslator();
