// Implode (method 6). Input: a byte whose bit 0 picks the 8 KiB dictionary and
// bit 1 the three trees (flag bits 1 and 2 of the item), three bytes of item
// size, then the imploded data.
#include "fuzz/FuzzLegacy.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput input(data, size);
  const uint8_t flags = input.Byte();
  FuzzLegacyItem(input, 6, (flags & 1) ? 2 : 1, (flags & 2) ? 3 : 2);
  return 0;
}
