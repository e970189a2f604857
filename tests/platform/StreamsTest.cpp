#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/Classes.h"
#include "platform/SysUtils.h"

TEST(MemoryStream, GrowsReadsAndSeeksFromEachOrigin) {
  TMemoryStream stream;
  stream.WriteBuffer("abcdef", 6);
  EXPECT_EQ(stream.Size(), 6);
  EXPECT_EQ(stream.Seek(-2, soFromEnd), 4);
  char two[2];
  stream.ReadBuffer(two, 2);
  EXPECT_EQ(std::string(two, 2), "ef");
  EXPECT_EQ(stream.Seek(-5, soFromCurrent), 1);
  EXPECT_EQ(stream.Read(two, 2), 2);
  EXPECT_EQ(std::string(two, 2), "bc");
  stream.SetPosition(6);
  EXPECT_THROW(stream.ReadBuffer(two, 1), EReadError);
}

TEST(MemoryStream, CopyFromZeroCopiesTheWholeSource) {
  TMemoryStream source, dest;
  source.WriteBuffer("0123456789", 10);
  EXPECT_EQ(dest.CopyFrom(source, 0), 10);
  EXPECT_EQ(std::string(dest.Bytes().begin(), dest.Bytes().end()), "0123456789");
  source.SetPosition(8);
  EXPECT_THROW(dest.CopyFrom(source, 5), EReadError);
}

TEST(StreamErrors, CarryThePlatformTexts) {
  EXPECT_STREQ(EReadError().what(), "Stream read error");
  EXPECT_STREQ(EWriteError().what(), "Stream write error");
  EXPECT_STREQ(EInOutError(5).what(), "File access denied");
  EXPECT_STREQ(EInOutError(112).what(), "I/O error 112");
  EXPECT_STREQ(EFOpenError("C:\\X.MDF", 2).what(),
               "Cannot open file \"C:\\X.MDF\". The system cannot find the file specified");
  try {
    ZASSERT(1 + 1 == 3, "TFoo.Bar: broken");
    FAIL() << "no assertion failure";
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.FixedMessage(), "TFoo.Bar: broken");
    EXPECT_EQ(std::string(e.what()).rfind("TFoo.Bar: broken (StreamsTest.cpp, line ", 0), 0u);
  }
}
