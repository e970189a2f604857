// The restore program's run log: the safety archive and the restore, each
// with its archive, files, bytes, duration and result.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/restore/RestoreFixture.h"
#include "tests/support/TestSupport.h"

namespace {

const char* const kAllPresses = "press sButton2\npress sButton2\npress sButton2\n";

}  // namespace

TEST_F(RestoreTest, ARestoreLogsItsSafetyArchiveAndItsEntries) {
  MakeSuiteFolders();
  Drive.Write("Zelvora/Data/a.mdf", WordBytes(30000, 1));
  Drive.Write("Zelvora/Data/b.ldf", "bb");
  MakeArchive("C:\\Zelvora\\Yedek\\202401151230.zip", {"a.mdf", "b.ldf"});
  Drive.Write("Zelvora/Data/c.dat", "ccc");
  Start(kAllPresses);
  Run();
  EXPECT_TRUE(MessageBoxes().empty());
  // The restore starts after the pauses (500 + 5000 ms) and three files of 10 ms.
  EXPECT_EQ(LogLines(Drive, "Zelvora/Restorekeep.log"),
            (std::vector<std::string>{
                "2024-03-07 09:05:30 safety archive "
                "archive=\"C:\\Zelvora\\Yedek\\202403070905.zip\" files=3 bytes=30005 "
                "duration=5.530s result=OK",
                "2024-03-07 09:05:35 restore archive=\"C:\\Zelvora\\Yedek\\202401151230.zip\" "
                "files=2 bytes=30002 duration=0.000s result=OK"}));
}

TEST_F(RestoreTest, AFailedEntryIsLoggedWithItsName) {
  MakeSuiteFolders();
  Drive.Write("Zelvora/Data/a.mdf", NoiseBytes(20000, 3));
  Drive.Write("Zelvora/Data/b.ldf", "bb");
  MakeArchive("C:\\Zelvora\\Yedek\\202401151230.zip", {"a.mdf", "b.ldf"});
  // A byte in the middle of a.mdf's data.
  FlipHostFileByte(Drive.Host("Zelvora/Yedek/202401151230.zip"), 200, 0x55);
  Start(kAllPresses);
  Run();
  ASSERT_EQ(MessageBoxes().size(), 1u);
  const std::vector<std::string> log = LogLines(Drive, "Zelvora/Restorekeep.log");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_NE(log[0].find(" safety archive "), std::string::npos) << log[0];
  EXPECT_NE(log[0].find(" result=OK"), std::string::npos) << log[0];
  EXPECT_EQ(log[1].rfind("2024-03-07 09:05:35 restore "
                         "archive=\"C:\\Zelvora\\Yedek\\202401151230.zip\" files=1 bytes=20002 "
                         "duration=0.000s result=FAILED error=\"Zelvora/Data/a.mdf: ",
                         0),
            0u)
      << log[1];
}

TEST_F(RestoreTest, AFailedSafetyArchiveIsLoggedAndNothingIsRestored) {
  MakeSuiteFolders();
  Drive.Write("Zelvora/Data/a.mdf", "aa");
  MakeArchive("C:\\Zelvora\\Yedek\\202401151230.zip", {"a.mdf"});
  Drive.Write("Zelvora/Yedek/202403070905.zip", "not an archive, in the safety archive's way");
  Start(kAllPresses);
  Run();
  const std::vector<std::string> boxes = MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  const std::vector<std::string> log = LogLines(Drive, "Zelvora/Restorekeep.log");
  ASSERT_EQ(log.size(), 1u);
  const std::string error = boxes[0].substr(std::string("Restorekeep|stop|").size());
  EXPECT_EQ(log[0].rfind("2024-03-07 09:05:30 safety archive "
                         "archive=\"C:\\Zelvora\\Yedek\\202403070905.zip\" files=1 bytes=2 "
                         "duration=5.500s result=FAILED error=\"",
                         0),
            0u)
      << log[0];
  // The box adds a full stop the log line does not need.
  EXPECT_NE(log[0].find(error.substr(0, error.size() - 1)), std::string::npos) << log[0];
}
