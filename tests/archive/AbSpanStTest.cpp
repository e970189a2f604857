#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "archive/AbExcept.h"
#include "archive/AbSpanSt.h"
#include "archive/AbUtils.h"
#include "platform/FileSystem.h"
#include "tests/support/TestSupport.h"

namespace {

std::string Bytes(size_t size) {
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i) text[i] = char('a' + (i * 7 + i / 26) % 26);
  return text;
}

class SpanStream : public ::testing::Test {
 protected:
  void SetUp() override { Drive.MakeFolder("Span"); }

  // Writes `data` as a spanned set with volumes of at most `threshold` bytes, in `chunk`s.
  void WriteSet(const std::string& data, int32_t threshold, size_t chunk) {
    TAbSpanStream stream(kSet, threshold, mkFixed, fmCreate);
    for (size_t at = 0; at < data.size(); at += chunk) {
      const size_t n = std::min(chunk, data.size() - at);
      stream.WriteBuffer(data.data() + at, int32_t(n));
    }
  }

  // A reader whose volume requests are answered with the set's volume names.
  std::unique_ptr<TAbSpanStream> OpenSet() {
    auto stream = std::make_unique<TAbSpanStream>(kSet, 0, mkFixed, fmOpenRead);
    stream->OnImageRequest = [this](TAbSpanStream&, int32_t number, std::string& name, bool&) {
      Requested.push_back(number);
      name = kSet;
      AbVolumeFileName(name, uint16_t(number));
    };
    return stream;
  }

  TTempDrive Drive;
  const std::string kSet = "C:\\Span\\set.zip";
  std::vector<int32_t> Requested;
};

}  // namespace

TEST_F(SpanStream, RefusesRelativeNames) {
  for (const char* name : {"set.zip", "Span\\set.zip", "\\Span\\set.zip"}) {
    SCOPED_TRACE(name);
    try {
      TAbSpanStream stream(name, 0, mkFixed, fmCreate);
      ADD_FAILURE() << "no exception";
    } catch (const EAbException& e) {
      EXPECT_STREQ(e.what(), "Full Path Required");
      EXPECT_EQ(e.ErrorCode, 0);
    }
  }
  EXPECT_THROW(TAbSpanStream("C:\\Span\\missing.zip", 0, mkFixed, fmOpenRead), EFOpenError);
}

TEST_F(SpanStream, SingleFileIsWrittenThroughAndSeeksDoNotMoveWhileWriting) {
  std::vector<uint8_t> reported;
  {
    TAbSpanStream stream(kSet, 0, mkFixed, fmCreate);
    EXPECT_EQ(stream.Direction(), sdWriting);
    stream.OnProgress = [&reported](uint8_t progress, bool&) { reported.push_back(progress); };
    stream.WriteBuffer("PK\3\4hello", 9);
    EXPECT_EQ(stream.Seek(0, soFromBeginning), 9);
    stream.WriteBuffer(" world", 6);
    EXPECT_EQ(stream.Position(), 15);
    EXPECT_EQ(stream.TotalWritten(), 15);
    EXPECT_EQ(stream.Size(), 15);
    EXPECT_EQ(stream.VolumeNumber(), 0);
    stream.SetSize(11);
    EXPECT_EQ(stream.Size(), 11);
  }
  EXPECT_EQ(Drive.Read("Span/set.zip"), std::string("PK\3\4hello w"));
  // TotalSize is never set, so every report says 0.
  EXPECT_EQ(reported, std::vector<uint8_t>({0, 0}));
}

TEST_F(SpanStream, AnAbortFromProgressFailsTheWrite) {
  TAbSpanStream stream(kSet, 0, mkFixed, fmCreate);
  stream.OnProgress = [](uint8_t, bool& abort) { abort = true; };
  EXPECT_EQ(stream.Write("abc", 3), 0);
  EXPECT_THROW(stream.WriteBuffer("abc", 3), EWriteError);
}

TEST_F(SpanStream, AReadingStreamNeverWrites) {
  Drive.Write("Span/set.zip", "0123456789");
  // Read-and-write access without the write bit (0x42) still counts as reading.
  for (uint16_t mode : {uint16_t(fmOpenRead), uint16_t(fmOpenReadWrite | fmShareDenyNone)}) {
    SCOPED_TRACE(mode);
    TAbSpanStream stream(kSet, 0, mkFixed, mode);
    EXPECT_EQ(stream.Direction(), sdReading);
    EXPECT_EQ(stream.Write("xx", 2), 0);
    char buffer[4] = {};
    EXPECT_EQ(stream.Seek(-3, soFromEnd), 7);
    EXPECT_EQ(stream.Read(buffer, 4), 3);
    EXPECT_EQ(std::string(buffer, 3), "789");
    // Outside the file and no volume requests: the position stays.
    EXPECT_EQ(stream.Seek(4, soFromCurrent), 10);
    EXPECT_EQ(stream.Seek(-11, soFromEnd), 10);
    EXPECT_EQ(stream.Seek(2, soFromBeginning), 2);
    EXPECT_EQ(stream.Seek(0, 7), 2);
  }
  EXPECT_EQ(Drive.Read("Span/set.zip"), "0123456789");
}

TEST_F(SpanStream, ThresholdSplitsTheOutputIntoNumberedVolumes) {
  const std::string data = Bytes(3500);
  {
    TAbSpanStream stream(kSet, 1000, mkFixed, fmCreate);
    std::vector<int32_t> asked;
    stream.OnImageRequest = [&asked](TAbSpanStream&, int32_t number, std::string&, bool&) {
      asked.push_back(number);
    };
    EXPECT_EQ(stream.BytesAvailable(), 1000);
    for (size_t at = 0; at < data.size(); at += 300) {
      stream.WriteBuffer(data.data() + at, int32_t(std::min<size_t>(300, data.size() - at)));
    }
    EXPECT_EQ(stream.VolumeNumber(), 3);
    EXPECT_EQ(stream.VolumeName(), "C:\\Span\\set.z03");
    EXPECT_EQ(stream.VolumeBytes(), 500);
    EXPECT_EQ(stream.BytesAvailable(), 500);
    EXPECT_EQ(stream.TotalWritten(), 3500);
    EXPECT_EQ(asked, std::vector<int32_t>({1, 2, 3}));
  }
  EXPECT_EQ(Drive.Read("Span/set.zip"), data.substr(0, 1000));
  EXPECT_EQ(Drive.Read("Span/set.z01"), data.substr(1000, 1000));
  EXPECT_EQ(Drive.Read("Span/set.z02"), data.substr(2000, 1000));
  EXPECT_EQ(Drive.Read("Span/set.z03"), data.substr(3000));
}

TEST_F(SpanStream, OneWriteLargerThanSeveralVolumes) {
  const std::string data = Bytes(2600);
  WriteSet(data, 1000, data.size());
  EXPECT_EQ(Drive.Read("Span/set.z02"), data.substr(2000));
  EXPECT_FALSE(FileExists("C:\\Span\\set.z03"));
}

TEST_F(SpanStream, TheImageRequestNamesTheVolumesAndCanCancel) {
  {
    TAbSpanStream stream(kSet, 100, mkFixed, fmCreate);
    stream.OnImageRequest = [](TAbSpanStream&, int32_t number, std::string& name, bool&) {
      name = "C:\\Span\\part" + std::to_string(number) + ".bin";
    };
    const std::string data = Bytes(250);
    stream.WriteBuffer(data.data(), 250);
    EXPECT_EQ(stream.VolumeName(), "C:\\Span\\part2.bin");
  }
  EXPECT_EQ(Drive.Read("Span/part1.bin"), Bytes(250).substr(100, 100));

  TAbSpanStream stream(kSet, 100, mkFixed, fmCreate);
  stream.OnImageRequest = [](TAbSpanStream&, int32_t, std::string&, bool& abort) { abort = true; };
  EXPECT_THROW(stream.WriteBuffer(Bytes(150).data(), 150), EAbUserAbort);
  EXPECT_TRUE(stream.Cancelled());
  EXPECT_EQ(stream.Write("x", 1), 0);
}

TEST_F(SpanStream, ASpannedSetReadsBackAcrossItsVolumes) {
  const std::string data = Bytes(3500);
  WriteSet(data, 1000, 300);

  auto stream = OpenSet();
  std::string back;
  char buffer[700];
  int32_t n = 0;
  std::vector<int32_t> counts;
  while (back.size() < data.size() && (n = stream->Read(buffer, sizeof buffer)) > 0) {
    counts.push_back(n);
    back.append(buffer, size_t(n));
  }
  EXPECT_EQ(back, data);
  // A read stops at the end of its volume.
  EXPECT_EQ(counts, std::vector<int32_t>({700, 300, 700, 300, 700, 300, 500}));
  EXPECT_TRUE(stream->SwitchedOnRead());
  EXPECT_EQ(stream->VolumeNumber(), 3);
  EXPECT_EQ(Requested, std::vector<int32_t>({1, 2, 3}));
  char more = 0;
  EXPECT_THROW(stream->Read(&more, 1), EAbFileNotFound);  // no fifth volume
}

TEST_F(SpanStream, SeeksMoveToNeighbouringVolumes) {
  const std::string data = Bytes(3500);
  WriteSet(data, 1000, 700);
  auto stream = OpenSet();
  // Positions are within the volume reached.
  EXPECT_EQ(stream->Seek(2500, soFromBeginning), 500);
  EXPECT_EQ(stream->VolumeNumber(), 2);
  char c = 0;
  stream->ReadBuffer(&c, 1);
  EXPECT_EQ(c, data[2500]);
  EXPECT_EQ(stream->Seek(-702, soFromCurrent), 799);
  EXPECT_EQ(stream->VolumeNumber(), 1);
  stream->ReadBuffer(&c, 1);
  EXPECT_EQ(c, data[1799]);
}

TEST_F(SpanStream, DirectModeStaysInTheCurrentVolume) {
  WriteSet(Bytes(1500), 1000, 1500);
  auto stream = OpenSet();
  stream->SetDirectMode(true);
  std::string back(1500, '\0');
  EXPECT_EQ(stream->Read(back.data(), 1500), 1000);
  EXPECT_EQ(stream->Seek(5000, soFromBeginning), 1000);
  EXPECT_EQ(stream->Seek(-5000, soFromEnd), 0);
  EXPECT_TRUE(Requested.empty());
  EXPECT_FALSE(stream->SwitchedOnRead());

  stream->SetDirectMode(false);
  stream->Seek(0, soFromEnd);
  EXPECT_EQ(stream->Read(back.data(), 1500), 500);
  EXPECT_EQ(back.substr(0, 500), Bytes(1500).substr(1000));
  EXPECT_EQ(Requested, std::vector<int32_t>({1}));
}

TEST_F(SpanStream, MissingVolumesAreReported) {
  WriteSet(Bytes(500), 1000, 500);
  {
    TAbSpanStream plain(kSet, 0, mkFixed, fmOpenRead);
    std::string back(800, '\0');
    EXPECT_EQ(plain.Read(back.data(), 800), 500);  // no image requests: the set ends here
    try {
      plain.NextVolume();
      ADD_FAILURE() << "no exception";
    } catch (const EAbException& e) {
      EXPECT_STREQ(e.what(), "Cannot open spanned file: C:\\Span\\set.z01");
    }
  }
  auto stream = OpenSet();
  std::string back(800, '\0');
  EXPECT_EQ(stream->Read(back.data(), 800), 500);
  EXPECT_THROW(stream->Read(back.data(), 800), EAbFileNotFound);
  EXPECT_EQ(stream->Read(back.data(), 800), 0);  // no volume is open any more

  auto cancelled = std::make_unique<TAbSpanStream>(kSet, 0, mkFixed, fmOpenRead);
  cancelled->OnImageRequest = [](TAbSpanStream&, int32_t, std::string&, bool& abort) {
    abort = true;
  };
  cancelled->Seek(0, soFromEnd);
  EXPECT_THROW(cancelled->Read(back.data(), 1), EAbUserAbort);
}
