// The legacy decoders (Shrink, Reduce, Implode) on any input, the way the
// extraction of an item sets them up.
#pragma once

#include "archive/AbExcept.h"
#include "archive/deflate/AbDfBase.h"
#include "archive/inflate/AbUnzPrc.h"
#include "fuzz/FuzzSupport.h"

// Decodes the rest of `input` as an item of `method` (1-6), its size taken
// from the next two bytes (below 64 KiB, so runs stay quick). Corrupt data must fail with the
// decoder's documented errors; a decode that succeeds must fill exactly the
// item's size and return the CRC-32 of what it wrote.
inline void FuzzLegacyItem(TFuzzInput& input, uint8_t method, uint8_t dictionarySize,
                           uint8_t treeCount) {
  const int64_t size = input.Uint(2);
  TMemoryStream archive;
  if (input.RestSize()) archive.WriteBuffer(input.Rest(), int32_t(input.RestSize()));
  archive.SetPosition(0);
  // Writing past the item's size would be a finding: the sink bounds it.
  TBoundedSink out(size_t(size) + 1);
  uint32_t crc = 0;
  try {
    TAbUnzipHelper helper(archive, nullptr, out);
    helper.UncompressedSize = size;
    helper.CompressedSize = int64_t(input.RestSize());
    helper.CompressionMethod = method;
    helper.DictionarySize = dictionarySize;
    helper.ShannonFanoTreeCount = treeCount;
    crc = helper.DecodeItem();
  } catch (const EAbInflateError&) {
    FUZZ_CHECK(int64_t(out.Bytes().size()) <= size, "corrupt data wrote past the item's size");
    return;
  } catch (const EAbReadError&) {
    return;
  }
  FUZZ_CHECK(int64_t(out.Bytes().size()) == size, "the output differs from the item's size");
  FUZZ_CHECK(crc == FuzzCrc32(out.Bytes()), "the CRC-32 differs from the output's");
}
