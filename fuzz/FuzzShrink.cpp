// Shrink (method 1). Input: two bytes of item size, then the shrunk data.
#include "fuzz/FuzzLegacy.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput input(data, size);
  FuzzLegacyItem(input, 1, 0, 0);
  return 0;
}
