// The decoder's fast loop hands over to the careful one wherever the input
// buffer or the window runs short. These streams make it do so at many
// offsets: sources that give a few bytes per read, and stored blocks of odd
// lengths between compressed ones, which put the reader off its word grid.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "archive/inflate/AbDfDec.h"
#include "tests/deflate/PythonZlib.h"
#include "tests/inflate/InflateSupport.h"
#include "tests/support/BytesReader.h"

using namespace inflate_test;

namespace {

// Text with matches near and far, runs, and stretches of noise.
std::vector<uint8_t> MixedData(size_t aSize) {
  static const char* const words[] = {"ampoule", "dose", "ward", "ointment", "the", "\n"};
  std::mt19937 random(23);
  std::vector<uint8_t> data;
  while (data.size() < aSize) {
    switch (random() % 4) {
      case 0:
        for (int i = 0; i < 40; ++i) {
          const std::string word = words[random() % 6];
          data.insert(data.end(), word.begin(), word.end());
        }
        break;
      case 1:
        data.insert(data.end(), 1 + random() % 300, uint8_t(random()));
        break;
      case 2:
        for (int i = 0; i < 200; ++i) data.push_back(uint8_t(random()));
        break;
      default:
        if (data.size() > 1000) {
          const size_t distance = 1 + random() % std::min<size_t>(data.size(), 32768);
          const size_t length = 3 + random() % 500;
          for (size_t i = 0; i < length; ++i) data.push_back(data[data.size() - distance]);
        }
    }
  }
  data.resize(aSize);
  return data;
}

std::vector<uint8_t> StoredBlock(const std::vector<uint8_t>& aBytes) {
  const uint16_t len = uint16_t(aBytes.size());
  std::vector<uint8_t> block(5 + aBytes.size());
  block[1] = uint8_t(len);
  block[2] = uint8_t(len >> 8);
  block[3] = uint8_t(~len);
  block[4] = uint8_t(~len >> 8);
  std::copy(aBytes.begin(), aBytes.end(), block.begin() + 5);
  return block;
}

}  // namespace

TEST(InflateFastPath, SourcesAndStoredBlocksAtAnyOffsetDecodeAlike) {
  if (!pyzlib::Available()) GTEST_SKIP() << "python3 with zlib is not available";
  const std::vector<uint8_t> data = MixedData(400000);
  const size_t split = 150001;
  bool ok = false;
  // A non-final part ended by a full flush (byte-aligned, no references
  // across), stored blocks of 7 and 2 bytes, then a complete stream.
  std::vector<uint8_t> stream =
      pyzlib::Run("(lambda c: c.compress(d[:" + std::to_string(split) +
                      "]) + c.flush(zlib.Z_FULL_FLUSH))(zlib.compressobj(6, zlib.DEFLATED, -15))",
                  data, ok);
  ASSERT_TRUE(ok);
  const std::vector<uint8_t> seven = {'s', 't', 'o', 'r', 'e', 'd', '!'};
  const std::vector<uint8_t> two = {'o', 'k'};
  for (const auto& block : {StoredBlock(seven), StoredBlock(two)})
    stream.insert(stream.end(), block.begin(), block.end());
  const std::vector<uint8_t> rest(data.begin() + long(split), data.end());
  const std::vector<uint8_t> tail = pyzlib::Compress(rest, 9);
  stream.insert(stream.end(), tail.begin(), tail.end());
  const size_t streamSize = stream.size();
  stream.insert(stream.end(), {'T', 'R', 'A', 'I', 'L'});

  std::vector<uint8_t> expected(data.begin(), data.begin() + long(split));
  expected.insert(expected.end(), seven.begin(), seven.end());
  expected.insert(expected.end(), two.begin(), two.end());
  expected.insert(expected.end(), rest.begin(), rest.end());

  for (const int32_t chunk : {1, 2, 3, 5, 4099, 16384, 65536}) {
    SCOPED_TRACE("bytes per read: " + std::to_string(chunk));
    TBytesReader source(stream, chunk);
    TMemoryStream dest;
    const uint32_t checksum = Inflate(&source, &dest, nullptr);
    EXPECT_EQ(checksum, Crc32Of(expected));
    EXPECT_TRUE(dest.Bytes() == expected);
    EXPECT_EQ(source.Position(), int64_t(streamSize));
  }
}
