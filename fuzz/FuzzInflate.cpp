// Inflate on any input: plain Deflate or Deflate64, CRC-32 or Adler-32, whole
// or stopped at a partial size. A full decode, a test run and a partial decode
// of the same stream must agree with each other and with the bytes written.
//
// Input: options byte (bit 0 Deflate64, bit 1 Adler-32, bit 2 partial size),
// with bit 2 two bytes of partial size less one, then the compressed stream.
#include <algorithm>
#include <optional>

#include "archive/deflate/AbDfBase.h"
#include "archive/inflate/AbDfDec.h"
#include "fuzz/FuzzSupport.h"

namespace {

// Output past this is not kept: a few kilobytes of Deflate64 may stand for a gigabyte.
constexpr size_t kOutputBound = size_t(4) << 20;

struct TDecode {
  uint32_t Checksum = 0;
  int32_t BytesRead = 0;
  int32_t BytesWritten = 0;
  int64_t SourcePosition = 0;
  std::vector<uint8_t> Output;
};

// The decode's result, or nothing when the stream is corrupt or expands past the bound.
std::optional<TDecode> Decode(const uint8_t* data, size_t size, uint32_t options,
                              int32_t outputLimit) {
  TMemoryStream source;
  if (size) source.WriteBuffer(data, int32_t(size));
  source.SetPosition(0);
  TBoundedSink sink(options & dfoTestOnly ? 0 : kOutputBound);
  TAbDeflateHelper helper;
  helper.SetOptions(options);
  helper.OutputLimit = outputLimit;
  TDecode result;
  try {
    result.Checksum = Inflate(&source, &sink, &helper);
  } catch (const EAbInflateError&) {
    return std::nullopt;
  } catch (const EFuzzOutputBound&) {
    return std::nullopt;
  }
  result.BytesRead = helper.BytesRead;
  result.BytesWritten = helper.BytesWritten;
  result.SourcePosition = source.Position();
  result.Output = sink.Bytes();
  return result;
}

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
  const uint8_t choice = input.Byte();
  uint32_t options = 0x0F;
  if (choice & 1) options |= dfoDeflate64;
  if (choice & 2) options |= dfoAdler32;
  const int32_t limit = (choice & 4) ? int32_t(input.Uint(2)) + 1 : 0;
  const uint8_t* stream = input.Rest();
  const size_t streamSize = input.RestSize();

  const std::optional<TDecode> full = Decode(stream, streamSize, options, 0);
  if (full) {
    FUZZ_CHECK(size_t(full->BytesWritten) == full->Output.size(),
               "BytesWritten differs from the bytes written");
    const uint32_t expected =
        (options & dfoAdler32) ? Adler32(full->Output) : FuzzCrc32(full->Output);
    FUZZ_CHECK(full->Checksum == expected, "checksum differs from the output's");
    FUZZ_CHECK(full->BytesRead >= 0 && size_t(full->BytesRead) <= streamSize,
               "BytesRead outside the stream");
    FUZZ_CHECK(full->SourcePosition == full->BytesRead,
               "source not left on the first byte not consumed");

    const std::optional<TDecode> test = Decode(stream, streamSize, options | dfoTestOnly, 0);
    FUZZ_CHECK(test.has_value(), "a test run fails where the decode succeeds");
    FUZZ_CHECK(test->Output.empty(), "a test run wrote output");
    FUZZ_CHECK(test->Checksum == full->Checksum && test->BytesWritten == full->BytesWritten &&
                   test->BytesRead == full->BytesRead,
               "a test run disagrees with the decode");
  }
  if (limit) {
    const std::optional<TDecode> part = Decode(stream, streamSize, options, limit);
    if (full) FUZZ_CHECK(part.has_value(), "a partial decode fails where the whole one succeeds");
    if (full && part) {
      const size_t expected = std::min(size_t(limit), full->Output.size());
      FUZZ_CHECK(part->Output.size() >= expected &&
                     std::equal(full->Output.begin(), full->Output.begin() + long(expected),
                                part->Output.begin()),
                 "a partial decode differs from the start of the whole one");
    }
  }
  return 0;
}
