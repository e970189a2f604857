// Reduce with factor 1-4 (methods 2-5). Input: the factor less one (low two
// bits of a byte), two bytes of item size, then the reduced data.
#include "fuzz/FuzzLegacy.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput input(data, size);
  const uint8_t method = uint8_t(2 + (input.Byte() & 3));
  FuzzLegacyItem(input, method, 0, 0);
  return 0;
}
