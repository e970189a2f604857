#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "archive/AbExcept.h"
#include "archive/AbVMStrm.h"
#include "platform/DriveMap.h"
#include "platform/FileSystem.h"
#include "tests/support/TestSupport.h"

namespace {

constexpr int32_t kPage = TAbVirtualMemoryStream::PageSize;

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  std::mt19937 random(seed);
  for (uint8_t& b : bytes) b = uint8_t(random());
  return bytes;
}

std::vector<uint8_t> ReadAll(TAbVirtualMemoryStream& stream) {
  std::vector<uint8_t> bytes(size_t(stream.Size()));
  stream.SetPosition(0);
  EXPECT_EQ(stream.Read(bytes.data(), int32_t(bytes.size())), int32_t(bytes.size()));
  return bytes;
}

// The VMS files in the host folder of the swap directory.
std::vector<std::string> SwapFilesIn(const std::string& hostFolder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(hostFolder)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("VMS", 0) == 0) names.push_back(name);
  }
  return names;
}

class VirtualMemoryStream : public ::testing::Test {
 protected:
  void SetUp() override { Drive.MakeFolder("Swap"); }
  TTempDrive Drive;
  const std::string SwapDir = "C:\\Swap";
};

}  // namespace

TEST_F(VirtualMemoryStream, TwentyFivePagesStayInMemoryTheTwentySixthMakesTheSwapFile) {
  const std::vector<uint8_t> data = Pattern(26 * kPage, 1);
  {
    TAbVirtualMemoryStream stream;
    stream.SetSwapDir(SwapDir);
    EXPECT_EQ(stream.ResidentPages(), 1);
    stream.WriteBuffer(data.data(), 25 * kPage);
    EXPECT_EQ(stream.ResidentPages(), 25);
    EXPECT_EQ(stream.SwapFileName(), "");
    EXPECT_TRUE(SwapFilesIn(Drive.Host("Swap")).empty());

    stream.WriteBuffer(data.data() + 25 * kPage, kPage);
    EXPECT_EQ(stream.ResidentPages(), 25);
    ASSERT_NE(stream.SwapFileName(), "");
    EXPECT_EQ(stream.SwapFileName().rfind("C:\\Swap\\VMS", 0), 0u) << stream.SwapFileName();
    EXPECT_TRUE(FileExists(stream.SwapFileName()));
    // The least recently used page, the first, went out.
    EXPECT_EQ(std::filesystem::file_size(HostPathOf(stream.SwapFileName())), uint64_t(kPage));
    EXPECT_EQ(ReadAll(stream), data);
  }
  EXPECT_TRUE(SwapFilesIn(Drive.Host("Swap")).empty());
}

TEST_F(VirtualMemoryStream, CleanPagesAreDroppedWithoutMakingASwapFile) {
  TAbVirtualMemoryStream stream;
  stream.SetSwapDir(SwapDir);
  // Reading never dirties a page, so paging through a sparse stream swaps nothing.
  stream.SetSize(100 * kPage);
  std::vector<uint8_t> page(kPage, 0xAA);
  for (int i = 0; i < 100; ++i) {
    stream.ReadBuffer(page.data(), kPage);
    EXPECT_EQ(page, std::vector<uint8_t>(kPage, 0));
  }
  EXPECT_EQ(stream.ResidentPages(), 25);
  EXPECT_EQ(stream.SwapFileName(), "");
}

TEST_F(VirtualMemoryStream, MegabytesWrittenOverwrittenAndSoughtReadBackIdentically) {
  std::string swapName;
  {
    TAbVirtualMemoryStream stream;
    stream.SetSwapDir(SwapDir);
    std::vector<uint8_t> mirror = Pattern(3 * 1024 * 1024 + 123, 2);
    for (size_t at = 0; at < mirror.size(); at += 10000) {
      const int32_t n = int32_t(std::min<size_t>(10000, mirror.size() - at));
      ASSERT_EQ(stream.Write(mirror.data() + at, n), n);
      ASSERT_LE(stream.ResidentPages(), 25);
    }
    swapName = stream.SwapFileName();
    ASSERT_NE(swapName, "");

    std::mt19937 random(3);
    for (int round = 0; round < 2000; ++round) {
      const int64_t at = int64_t(random() % (mirror.size() + 20000));
      const int32_t n = int32_t(random() % 9000);
      if (round % 3 == 0) {
        std::vector<uint8_t> got(size_t(n) + 1);
        EXPECT_EQ(stream.Seek(at, soFromBeginning), at);
        const int32_t expected = int32_t(std::clamp<int64_t>(int64_t(mirror.size()) - at, 0, n));
        ASSERT_EQ(stream.Read(got.data(), n), expected);
        ASSERT_TRUE(std::equal(got.begin(), got.begin() + expected, mirror.begin() + at));
      } else {
        const std::vector<uint8_t> part = Pattern(size_t(n), uint32_t(round));
        const int64_t from = round % 3 == 1 ? at : stream.Size();
        stream.Seek(from - stream.Position(), soFromCurrent);
        ASSERT_EQ(stream.Write(part.data(), n), n);
        if (mirror.size() < size_t(from) + part.size()) mirror.resize(size_t(from) + part.size());
        std::copy(part.begin(), part.end(), mirror.begin() + from);
      }
      ASSERT_LE(stream.ResidentPages(), 25);
      ASSERT_EQ(stream.Size(), int64_t(mirror.size()));
    }
    EXPECT_EQ(ReadAll(stream), mirror);
    EXPECT_TRUE(FileExists(swapName));
  }
  EXPECT_FALSE(FileExists(swapName));
  EXPECT_TRUE(SwapFilesIn(Drive.Host("Swap")).empty());
}

TEST_F(VirtualMemoryStream, SeekingPastTheEndLeavesAZeroGap) {
  TAbVirtualMemoryStream stream;
  stream.SetSwapDir(SwapDir);
  const std::vector<uint8_t> head = Pattern(30 * kPage + 17, 4);
  stream.WriteBuffer(head.data(), int32_t(head.size()));
  const int64_t before = stream.Size();
  EXPECT_EQ(stream.Seek(10000, soFromEnd), before + 10000);
  const uint8_t one = 0x5A;
  EXPECT_EQ(stream.Write(&one, 1), 1);
  EXPECT_EQ(stream.Size(), before + 10001);
  const std::vector<uint8_t> all = ReadAll(stream);
  EXPECT_TRUE(std::equal(head.begin(), head.end(), all.begin()));
  EXPECT_TRUE(std::all_of(all.begin() + before, all.end() - 1, [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(all.back(), 0x5A);
}

TEST_F(VirtualMemoryStream, SeekOriginsAndTheirLimits) {
  TAbVirtualMemoryStream stream;
  stream.WriteBuffer("0123456789", 10);
  EXPECT_EQ(stream.Seek(3, soFromBeginning), 3);
  EXPECT_EQ(stream.Seek(2, soFromCurrent), 5);
  EXPECT_EQ(stream.Seek(-1, soFromEnd), 9);
  // Before the start: the position stays where it was.
  EXPECT_EQ(stream.Seek(-20, soFromCurrent), 9);
  char c = 0;
  EXPECT_EQ(stream.Read(&c, 1), 1);
  EXPECT_EQ(c, '9');
  EXPECT_EQ(stream.Read(&c, 1), 0);
  stream.Seek(50, soFromBeginning);
  EXPECT_EQ(stream.Read(&c, 1), 0);
  EXPECT_EQ(stream.Read(&c, -4), 0);
  try {
    stream.Seek(0, 3);
    FAIL() << "no exception";
  } catch (const EAbVMSInvalidOrigin& e) {
    EXPECT_STREQ(e.what(), "VMS: invalid origin 3, should be 0, 1, 2");
    EXPECT_EQ(e.ErrorCode, 201);
  }
}

TEST_F(VirtualMemoryStream, ShrinkingReleasesPagesAndRegrowingReadsZeros) {
  TAbVirtualMemoryStream stream;
  stream.SetSwapDir(SwapDir);
  const std::vector<uint8_t> data = Pattern(60 * kPage, 5);
  stream.WriteBuffer(data.data(), int32_t(data.size()));
  ASSERT_NE(stream.SwapFileName(), "");

  // Cut inside a page that lives in the swap file, then grow again.
  const int64_t cut = 3 * kPage + 100;
  stream.SetSize(cut);
  EXPECT_EQ(stream.Size(), cut);
  EXPECT_EQ(stream.Position(), cut);
  stream.SetSize(10 * kPage);
  std::vector<uint8_t> all = ReadAll(stream);
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + cut, all.begin()));
  EXPECT_TRUE(std::all_of(all.begin() + cut, all.end(), [](uint8_t b) { return b == 0; }));

  stream.SetSize(0);
  EXPECT_EQ(stream.ResidentPages(), 0);
  EXPECT_EQ(stream.Size(), 0);
  stream.WriteBuffer(data.data(), 40 * kPage);
  stream.SetSize(45 * kPage);
  all = ReadAll(stream);
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + 40 * kPage, all.begin()));
  EXPECT_TRUE(std::all_of(all.begin() + 40 * kPage, all.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(VirtualMemoryStream, AGapAfterShrinkingReadsZerosNotTheOldSwappedBytes) {
  TAbVirtualMemoryStream stream;
  stream.SetSwapDir(SwapDir);
  const std::vector<uint8_t> data = Pattern(60 * kPage, 7);
  stream.WriteBuffer(data.data(), int32_t(data.size()));
  ASSERT_NE(stream.SwapFileName(), "");

  // Pages written far beyond the new end go to the swap file past the gap,
  // where the bytes from before the cut still lie.
  const int64_t cut = 2 * kPage + 10;
  stream.SetSize(cut);
  stream.Seek(50 * kPage, soFromBeginning);
  stream.WriteBuffer(data.data(), 30 * kPage);
  const std::vector<uint8_t> all = ReadAll(stream);
  ASSERT_EQ(all.size(), size_t(80 * kPage));
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + cut, all.begin()));
  EXPECT_TRUE(
      std::all_of(all.begin() + cut, all.begin() + 50 * kPage, [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + 30 * kPage, all.begin() + 50 * kPage));
}

TEST_F(VirtualMemoryStream, ASwapFileThatCannotBeMadeIsReported) {
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  ::setenv("TMPDIR", Drive.Host("NoSuchFolder").c_str(), 1);
  TAbVirtualMemoryStream stream;
  stream.SetSwapDir("C:\\NoSuchFolder");
  const std::vector<uint8_t> data = Pattern(26 * kPage, 6);
  stream.WriteBuffer(data.data(), 25 * kPage);
  try {
    stream.WriteBuffer(data.data(), kPage);
    ADD_FAILURE() << "no exception";
  } catch (const EAbVMSErrorOpenSwap& e) {
    EXPECT_EQ(e.ErrorCode, 202);
    EXPECT_EQ(std::string(e.what()).rfind("VMS: Cannot open swap file ", 0), 0u);
  }
  if (old) {
    ::setenv("TMPDIR", saved.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
}
