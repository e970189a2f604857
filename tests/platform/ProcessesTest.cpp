#include <gtest/gtest.h>
#include <signal.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/Processes.h"
#include "tests/support/TestSupport.h"

namespace {

// Starts `sleep 30` whose first argument (its name in a snapshot) is `argv0`.
pid_t StartSleeper(const std::string& argv0) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::execl("/bin/sleep", argv0.c_str(), "30", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return child;
}

// The snapshot's name of `pid`, empty when it is not listed.
std::string NameInSnapshot(pid_t pid) {
  TProcessSnapshot snapshot;
  TProcessEntry32 entry;
  for (bool more = snapshot.Process32First(entry); more; more = snapshot.Process32Next(entry)) {
    if (entry.th32ProcessID == uint32_t(pid)) return entry.szExeFile;
  }
  return std::string();
}

// Waits up to 10 s (in steps of 20 ms) for `done`.
template <typename Condition>
bool WaitFor(Condition done) {
  for (int i = 0; i < 500; ++i) {
    if (done()) return true;
    const timespec step{0, 20 * 1000 * 1000};
    ::nanosleep(&step, nullptr);
  }
  return done();
}

}  // namespace

TEST(Processes, SnapshotNamesProcessesByTheirFirstArgument) {
  struct TNameCase {
    const char* Argv0;
    const char* Expected;
  };
  const TNameCase cases[] = {
      {"Plimctl.exe", "Plimctl.exe"},
      {"/opt/zelvora/bin/Plimctl.exe", "Plimctl.exe"},
      {"C:\\Zelvora\\Zelvora.exe", "Zelvora.exe"},
  };
  for (const TNameCase& c : cases) {
    SCOPED_TRACE(c.Argv0);
    const pid_t child = StartSleeper(c.Argv0);
    ASSERT_GT(child, 0);
    // The name changes when exec is done; until then the child shows as this program.
    EXPECT_TRUE(WaitFor([&] { return NameInSnapshot(child) == c.Expected; }));

    EXPECT_TRUE(TerminateProcess(uint32_t(child)));
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    EXPECT_EQ(NameInSnapshot(child), "");
  }
}

TEST(Processes, SnapshotListsThisProcess) {
  EXPECT_NE(NameInSnapshot(::getpid()), "");
  TProcessSnapshot snapshot;
  TProcessEntry32 first, again;
  ASSERT_TRUE(snapshot.Process32First(first));
  while (snapshot.Process32Next(again)) {
  }
  EXPECT_FALSE(snapshot.Process32Next(again));
  ASSERT_TRUE(snapshot.Process32First(again));  // starts over
  EXPECT_EQ(again.th32ProcessID, first.th32ProcessID);
}

TEST(Processes, SnapshotsTakenWhileProcessesComeAndGoNeverFail) {
  // Reading a process that has just ended fails in the kernel; the snapshot
  // must skip it rather than throw (it once did, in the middle of a backup).
  const pid_t churn = ::fork();
  ASSERT_GE(churn, 0);
  if (churn == 0) {
    ::execl("/bin/sh", "sh", "-c", "i=0; while [ $i -lt 3000 ]; do /bin/true; i=$((i+1)); done",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  size_t snapshots = 0;
  bool reaped = false;
  while (!reaped && snapshots < 2000) {
    TProcessSnapshot snapshot;
    TProcessEntry32 entry;
    EXPECT_TRUE(snapshot.Process32First(entry));
    ++snapshots;
    reaped = ::waitpid(churn, nullptr, WNOHANG) == churn;
  }
  if (!reaped) {
    ::kill(churn, SIGKILL);
    ::waitpid(churn, nullptr, 0);
  }
  EXPECT_GT(snapshots, 0u);
}

TEST(Processes, TerminateRefusesIdsThatAreNoProcess) {
  EXPECT_FALSE(TerminateProcess(0));  // would signal our own process group
  EXPECT_FALSE(TerminateProcess(0xFFFFFFFFu));
  EXPECT_FALSE(TerminateProcess(0x7FFFFFFFu));
}

TEST(Processes, WinExecRunsAHiddenCommandNotWaitedFor) {
  TTempDrive drive;
  const std::string out = drive.Host("out.txt");
  const std::string empty = drive.Host("stdin.txt");
  const std::string command = "printf 'net %s\\n' stop > '" + out + ".part' && mv '" + out +
                              ".part' '" + out + "'; cat > '" + empty + ".part'; mv '" + empty +
                              ".part' '" + empty + "'; echo discarded; echo discarded >&2";
  EXPECT_GT(WinExec(command), 31u);
  ASSERT_TRUE(WaitFor([&] { return !drive.Read("out.txt").empty(); }));
  EXPECT_EQ(drive.Read("out.txt"), "net stop\n");
  // Its input is empty, not ours: cat ends at once.
  ASSERT_TRUE(WaitFor([&] { return ::access(empty.c_str(), F_OK) == 0; }));
  EXPECT_EQ(drive.Read("stdin.txt"), "");
  // The command is nobody's child here: nothing is left to reap.
  int status = 0;
  EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST(Processes, VersionWordCarriesTheKernelRelease) {
  utsname host{};
  ASSERT_EQ(::uname(&host), 0);
  int major = 0, minor = 0, build = 0;
  ASSERT_GE(std::sscanf(host.release, "%d.%d.%d", &major, &minor, &build), 2);
  const uint32_t version = GetVersion();
  EXPECT_EQ(version & 0xFF, uint32_t(major));
  EXPECT_EQ(version >> 8 & 0xFF, uint32_t(minor));
  EXPECT_EQ(version >> 16, uint32_t(build) & 0x7FFF);
  EXPECT_EQ(version & 0x80000000u, 0u);
}
