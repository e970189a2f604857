#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/AbBitBkt.h"
#include "archive/AbExcept.h"

namespace {

std::vector<uint8_t> Counting(size_t size, size_t from = 0) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t((from + i) * 31 + (from + i) / 251);
  return bytes;
}

}  // namespace

TEST(BitBucket, BufferSizeFromTheRequest) {
  const struct {
    int32_t Requested;
    int32_t BufSize;
  } cases[] = {{0, 33792}, {4096, 5120}, {8192, 9216}, {32768, 33792}, {5000, 33792}, {-1, 33792}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Requested);
    EXPECT_EQ(TAbBitBucketStream(c.Requested).BufSize(), c.BufSize);
  }
}

TEST(BitBucket, KeepsTheLastBytesWrittenAcrossTheRing) {
  TAbBitBucketStream bucket(4096);  // 5120 bytes
  const std::vector<uint8_t> all = Counting(20000);
  for (size_t at = 0; at < all.size(); at += 3000) {
    const int32_t n = int32_t(std::min<size_t>(3000, all.size() - at));
    EXPECT_EQ(bucket.Write(all.data() + at, n), n);
  }
  EXPECT_EQ(bucket.Size(), 20000);
  EXPECT_EQ(bucket.Position(), 20000);

  // Back over the ring's wrap point to the oldest byte still kept.
  EXPECT_EQ(bucket.Seek(-5119, soFromEnd), 20000 - 5119);
  std::vector<uint8_t> back(5119);
  EXPECT_EQ(bucket.Read(back.data(), 5119), 5119);
  EXPECT_EQ(back, std::vector<uint8_t>(all.end() - 5119, all.end()));

  EXPECT_EQ(bucket.Seek(15000, soFromBeginning), 15000);
  EXPECT_EQ(bucket.Seek(-100, soFromCurrent), 14900);
  uint8_t one = 0;
  bucket.Read(&one, 1);
  EXPECT_EQ(one, all[14900]);
  EXPECT_EQ(bucket.Seek(0, soFromEnd), 20000);
}

TEST(BitBucket, RefusesWhatItCannotHold) {
  TAbBitBucketStream bucket(0);
  const std::vector<uint8_t> big = Counting(33793);
  try {
    bucket.Write(big.data(), 33793);
    FAIL() << "no exception";
  } catch (const EAbBBSWriteTooManyBytes& e) {
    EXPECT_STREQ(e.what(), "BBS: request to write too many bytes [33793]");
  }
  bucket.Write(big.data(), 33792);
  bucket.Write(big.data(), 1000);
  EXPECT_THROW(bucket.Seek(1000, soFromBeginning), EAbBBSSeekOutsideBuffer);  // older than kept
  EXPECT_THROW(bucket.Seek(34792 - 33792, soFromBeginning), EAbBBSSeekOutsideBuffer);
  EXPECT_EQ(bucket.Seek(34792 - 33791, soFromBeginning), 1001);
  EXPECT_THROW(bucket.Seek(1, soFromEnd), EAbBBSSeekOutsideBuffer);
  EXPECT_THROW(bucket.Seek(0, 3), EAbBBSInvalidOrigin);

  std::vector<uint8_t> back(33792);
  try {
    bucket.Read(back.data(), 33792);  // more than lies between the place and the end
    FAIL() << "no exception";
  } catch (const EAbBBSReadTooManyBytes& e) {
    EXPECT_STREQ(e.what(), "BBS: request to read too many bytes [33792]");
    EXPECT_EQ(e.ErrorCode, 40);
  }
  EXPECT_THROW(bucket.Read(back.data(), 40000), EAbBBSReadTooManyBytes);
  bucket.Seek(0, soFromEnd);
  EXPECT_THROW(bucket.Read(back.data(), 1), EAbBBSReadTooManyBytes);
}

TEST(BitBucket, AFreshBucketHasNothingBeforeItsStart) {
  TAbBitBucketStream bucket(0);
  bucket.Write("abc", 3);
  EXPECT_THROW(bucket.Seek(-1, soFromBeginning), EAbBBSSeekOutsideBuffer);
  EXPECT_EQ(bucket.Seek(0, soFromBeginning), 0);
  char text[3];
  EXPECT_EQ(bucket.Read(text, 3), 3);
  EXPECT_EQ(std::string(text, 3), "abc");
}
