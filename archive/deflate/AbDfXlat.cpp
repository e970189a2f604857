#include "archive/deflate/AbDfXlat.h"

#include "archive/deflate/AbDfBase.h"

namespace {

// Each entry becomes the largest value met so far: the symbol of the
// nearest base at or below the entry's value.
void FillForward(uint8_t* aTable, int aCount) {
  uint8_t largest = 0;
  for (int i = 0; i < aCount; ++i) {
    if (aTable[i] > largest) largest = aTable[i];
    aTable[i] = largest;
  }
}

}  // namespace

TAbDfTranslator::TAbDfTranslator() {
  uint8_t* lengths = FBlock.data() + kLengthTable;
  for (int s = 0; s <= 27; ++s) lengths[dfc_LengthBase[s] - 3] = uint8_t(s);
  lengths[255] = 28;
  FillForward(lengths, 256);

  uint8_t* shortDist = FBlock.data() + kShortDistTable;
  for (int s = 0; s <= 15; ++s) shortDist[dfc_DistanceBase[s] - 1] = uint8_t(s);
  FillForward(shortDist, 256);

  uint8_t* mediumDist = FBlock.data() + kMediumDistTable;
  for (int s = 16; s <= 29; ++s) mediumDist[(dfc_DistanceBase[s] - 1) / 128 - 2] = uint8_t(s);
  FillForward(mediumDist, 256);

  FBlock[kLongDistTable] = 30;
  FBlock[kLongDistTable + 1] = 31;
}

const TAbDfTranslator& AbDfSharedTranslator() {
  static const TAbDfTranslator translator;
  return translator;
}
