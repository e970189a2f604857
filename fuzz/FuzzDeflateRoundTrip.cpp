// Deflate at a level and with options chosen by the input, then Inflate: the
// bytes, the checksums and the byte counts must come back.
//
// Input: the level (a byte: index into "02fnsx"), an options byte (bits 0-2
// the block kinds, none meaning the level's own; bit 3 lazy matching; bit 4
// Deflate64; bit 5 its 64 KiB history; bit 6 Adler-32; bit 7 encryption),
// a repeat count (1 + low five bits: long inputs slide the window), then the
// data, repeated.
#include <string>
#include <vector>

#include "archive/deflate/AbDfBase.h"
#include "archive/deflate/AbDfEnc.h"
#include "archive/inflate/AbDfDec.h"
#include "fuzz/FuzzSupport.h"

namespace {

const char kLevels[] = "02fnsx";
const char kPassword[] = "735296482913572";

uint32_t Adler32(const std::vector<uint8_t>& data) {
  uint32_t a = 1, b = 0;
  for (uint8_t byte : data) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  return b << 16 | a;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput input(data, size);
  const char level = kLevels[input.Byte() % 6];
  const uint8_t choice = input.Byte();
  const int repeats = 1 + (input.Byte() & 31);
  std::vector<uint8_t> plain;
  for (int i = 0; i < repeats; ++i)
    plain.insert(plain.end(), input.Rest(), input.Rest() + input.RestSize());

  TAbDeflateHelper encoder;
  encoder.SelectLevel('0');
  encoder.SelectLevel(level);
  uint32_t options = encoder.Options();
  if (choice & 7)
    options = (options & ~uint32_t(dfoStored | dfoStatic | dfoDynamic)) | (choice & 7);
  if (choice & 8) options |= dfoLazy;
  if (choice & 16) options |= dfoDeflate64;
  if (choice & 64) options |= dfoAdler32;
  encoder.SetOptions(options);
  if ((choice & 16) && (choice & 32)) encoder.HistorySize = 65536;
  if (choice & 128) encoder.Password = kPassword;

  TMemoryStream source;
  if (!plain.empty()) source.WriteBuffer(plain.data(), int32_t(plain.size()));
  source.SetPosition(0);
  TMemoryStream packed;
  const uint32_t sent = Deflate(&source, &packed, &encoder);
  const uint32_t expected = (options & dfoAdler32) ? Adler32(plain) : FuzzCrc32(plain);
  FUZZ_CHECK(sent == expected, "Deflate's checksum differs from the input's");
  FUZZ_CHECK(encoder.BytesRead == int32_t(plain.size()), "Deflate's BytesRead is not the input");
  FUZZ_CHECK(encoder.BytesWritten == int32_t(packed.Size()),
             "Deflate's BytesWritten is not the output");

  TAbDeflateHelper decoder;
  decoder.SetOptions((options & (dfoDeflate64 | dfoAdler32)) | (decoder.Options() & 0x0F));
  if (choice & 128) {
    decoder.Password = kPassword;
    // The check byte of an item written with this helper's value.
    decoder.HeaderCheck = encoder.HeaderCheck;
  }
  packed.SetPosition(0);
  TMemoryStream unpacked;
  const uint32_t received = Inflate(&packed, &unpacked, &decoder);
  FUZZ_CHECK(unpacked.Bytes() == plain, "the round trip changed the data");
  FUZZ_CHECK(received == sent, "Inflate's checksum differs from Deflate's");
  FUZZ_CHECK(decoder.BytesRead == int32_t(packed.Size()),
             "Inflate did not consume the whole stream");
  return 0;
}
