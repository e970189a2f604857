// The encoder against our own decoder: plain Deflate at every level, the
// Deflate64 forms (lengths above 258, distances above 32,768) and encrypted
// output.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/deflate/AbDfBase.h"
#include "archive/deflate/AbDfEnc.h"
#include "archive/inflate/AbDfDec.h"
#include "tests/deflate/DeflateEncoderSupport.h"

using namespace dfenc;

namespace {

std::vector<uint8_t> InflateWith(const std::vector<uint8_t>& aPacked, TAbDeflateHelper& aHelper,
                                 uint32_t& aChecksum) {
  TMemoryStream source = StreamOf(aPacked);
  TMemoryStream dest;
  aChecksum = Inflate(&source, &dest, &aHelper);
  return BytesOf(dest);
}

// Long runs, text, and a stretch repeated 40,000 bytes later.
std::vector<uint8_t> Deflate64Data() {
  std::vector<uint8_t> data = WordText(30000, 1);
  data.insert(data.end(), 70000, 'q');
  const std::vector<uint8_t> noise = NoiseBytes(40000, 3);
  data.insert(data.end(), noise.begin(), noise.end());
  data.insert(data.end(), noise.begin(), noise.begin() + 5000);
  const std::vector<uint8_t> text = WordText(50000, 2);
  data.insert(data.end(), text.begin(), text.end());
  return data;
}

uint32_t CrcOf(const std::vector<uint8_t>& aData) {
  return UpdateCrc32(0xFFFFFFFF, aData.data(), int32_t(aData.size())) ^ 0xFFFFFFFF;
}

}  // namespace

TEST(DeflateEncoderRoundTrip, EveryLevelThroughOurInflate) {
  const std::vector<uint8_t> data = Deflate64Data();
  for (char level : {'0', '2', 'f', 'n', 's', 'x'}) {
    SCOPED_TRACE(level);
    const std::vector<uint8_t> packed = CompressAtLevel(data, level);
    TAbDeflateHelper helper;
    uint32_t checksum = 0;
    EXPECT_EQ(InflateWith(packed, helper, checksum), data);
    EXPECT_EQ(checksum, CrcOf(data));
  }
}

TEST(DeflateEncoderRoundTrip, Deflate64FormsThroughOurInflate) {
  const std::vector<uint8_t> data = Deflate64Data();
  struct TCase {
    char Level;
    uint32_t Kinds;  // 0: as the level sets them
    int32_t HistorySize;
  };
  const TCase cases[] = {{'n', 0, 32768},
                         {'x', 0, 65536},
                         {'s', 0, 65536},
                         {'n', dfoStatic | dfoLazy, 65536},
                         {'n', dfoDynamic | dfoLazy, 65536}};
  for (const TCase& test : cases) {
    SCOPED_TRACE(testing::Message() << test.Level << " " << test.Kinds << " " << test.HistorySize);
    TAbDeflateHelper helper;
    helper.SelectLevel('0');
    helper.SelectLevel(test.Level);
    if (test.Kinds != 0) helper.SetOptions(test.Kinds);
    helper.SetOptions(helper.Options() | dfoDeflate64);
    helper.HistorySize = test.HistorySize;
    uint32_t checksum = 0;
    const std::vector<uint8_t> packed = Compress(data, &helper, &checksum);
    EXPECT_EQ(checksum, CrcOf(data));

    // The forms Deflate lacks are really used.
    const std::vector<TToken> tokens = Parse(packed, true).AllTokens();
    int32_t longest = 0, farthest = 0;
    for (const TToken& token : tokens) {
      longest = std::max(longest, token.Length);
      farthest = std::max(farthest, token.Distance);
    }
    EXPECT_GT(longest, 258);
    if (test.HistorySize == 65536) {
      EXPECT_GT(farthest, 32768);
    }

    TAbDeflateHelper decoder;
    decoder.SetOptions(decoder.Options() | dfoDeflate64);
    uint32_t decoded = 0;
    EXPECT_EQ(InflateWith(packed, decoder, decoded), data);
    EXPECT_EQ(decoded, checksum);
  }
}

TEST(DeflateEncoderRoundTrip, PasswordThroughOurDecryptingInflate) {
  const std::vector<uint8_t> data = WordText(100000, 4);
  TAbDeflateHelper helper;
  helper.SelectLevel('0');
  helper.SelectLevel('n');
  helper.Password = "735296482913572";
  helper.HeaderCheck = 0x5A5A0000;
  const std::vector<uint8_t> packed = Compress(data, &helper);
  EXPECT_EQ(helper.BytesWritten, int32_t(packed.size()));

  TAbDeflateHelper decoder;
  decoder.Password = helper.Password;
  decoder.HeaderCheck = helper.HeaderCheck;
  uint32_t checksum = 0;
  EXPECT_EQ(InflateWith(packed, decoder, checksum), data);
  EXPECT_EQ(checksum, CrcOf(data));
}

// A 64 KiB match that starts just before the output window's write point
// runs past it by more than one slide; the window must slide until it is back
// below, or the next match writes beyond its buffer.
TEST(DeflateEncoderRoundTrip, Deflate64LongMatchesNearTheWritePoint) {
  for (size_t lead : {size_t(98000), size_t(98303), size_t(40000)}) {
    SCOPED_TRACE(lead);
    std::vector<uint8_t> data = NoiseBytes(lead, 7);
    data.insert(data.end(), 400000, 'z');
    TAbDeflateHelper helper;
    helper.SetOptions(helper.Options() | dfoDeflate64);
    helper.HistorySize = 65536;
    const std::vector<uint8_t> packed = Compress(data, &helper);
    uint32_t checksum = 0;
    EXPECT_TRUE(InflateWith(packed, helper, checksum) == data);
    EXPECT_EQ(checksum, CrcOf(data));
  }
}
