#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "desktop/KillProcessUnit.h"
#include "platform/Clock.h"
#include "platform/DateTime.h"

namespace {

std::string CommandLineOf(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A child process that shows as `exeName` in the snapshot, reaped on destruction.
class TNamedProcess {
 public:
  explicit TNamedProcess(const std::string& exeName) {
    FPid = ::fork();
    if (FPid == 0) {
      const std::string script = "exec -a '" + exeName + "' sleep 30";
      ::execl("/bin/bash", "bash", "-c", script.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // Wait for bash to have replaced itself; readiness, not timing.
    for (int i = 0; i < 500 && CommandLineOf(FPid).rfind(exeName + '\0', 0) != 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~TNamedProcess() {
    if (!FReaped) {
      ::kill(FPid, SIGKILL);
      Reap();
    }
  }
  bool Ready(const std::string& exeName) const {
    return CommandLineOf(FPid).rfind(exeName + '\0', 0) == 0;
  }
  // Waits for the process to end; true when SIGKILL ended it.
  bool KilledBySignal() {
    const int status = Reap();
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  }
  bool Running() const {
    int status = 0;
    return ::waitpid(FPid, &status, WNOHANG) == 0;
  }

 private:
  int Reap() {
    int status = 0;
    ::waitpid(FPid, &status, 0);
    FReaped = true;
    return status;
  }
  pid_t FPid = -1;
  bool FReaped = false;
};

class TClockGuard {
 public:
  TClockGuard() : FClock(EncodeDate(2024, 3, 7)) { SetClock(&FClock); }
  ~TClockGuard() { SetClock(nullptr); }
  TVirtualClock& Get() { return FClock; }

 private:
  TVirtualClock FClock;
};

}  // namespace

TEST(KillProcessByName, StopsEveryInstanceAndSparesOtherNames) {
  TNamedProcess first("Plimctl.exe");
  TNamedProcess second("Plimctl.exe");
  TNamedProcess other("Plimctl.exe.old");
  ASSERT_TRUE(first.Ready("Plimctl.exe"));
  ASSERT_TRUE(second.Ready("Plimctl.exe"));
  ASSERT_TRUE(other.Ready("Plimctl.exe.old"));

  EXPECT_TRUE(KillProcessByName("Plimctl.exe"));
  EXPECT_TRUE(first.KilledBySignal());
  EXPECT_TRUE(second.KilledBySignal());
  EXPECT_TRUE(other.Running());
}

TEST(KillProcessByName, IgnoresTheCaseOfAsciiLettersOnly) {
  TNamedProcess capitals("PLIMTOR.EXE");
  ASSERT_TRUE(capitals.Ready("PLIMTOR.EXE"));
  EXPECT_TRUE(KillProcessByName("Plimtor.exe"));
  EXPECT_TRUE(capitals.KilledBySignal());

  // Only a to z change case: a dotted capital I is another letter.
  TNamedProcess turkish("PLİMTOR.EXE");
  ASSERT_TRUE(turkish.Ready("PLİMTOR.EXE"));
  EXPECT_FALSE(KillProcessByName("plimtor.exe"));
  EXPECT_TRUE(turkish.Running());
}

TEST(KillProcessByName, NoMatchGivesFalse) {
  EXPECT_FALSE(KillProcessByName("Zelvora-no-such-program.exe"));
  EXPECT_FALSE(KillProcessByName(""));
}

TEST(KillProcessByName, TheTwoListsAsTheProgramsPassThem) {
  EXPECT_EQ(
      BackupProcessNames(),
      (std::vector<std::string>{"Vostctl.exe", "Plimsend.exe", "Plimctl.exe", "Plimtor.exe",
                                "Plimtex.exe", "Gatewink.exe", "Zelvora.WQ1", "Zelvora.exe"}));
  EXPECT_EQ(RestoreProcessNames(),
            (std::vector<std::string>{"Vostrelm.exe", "Plimsend.exe", "Plimctl.exe", "Plimtor.exe",
                                      "Gatewink.exe", "Zelvora.WQ1"}));
}

TEST(KillProcessList, StopsTheListedProcessesThenPausesHalfASecond) {
  TClockGuard clock;
  TNamedProcess gateway("Gatewink.exe");
  ASSERT_TRUE(gateway.Ready("Gatewink.exe"));
  KillProcessList({"Gatewink.exe", "Zelvora-no-such-program.exe"});
  EXPECT_TRUE(gateway.KilledBySignal());
  EXPECT_EQ(clock.Get().Sleeps(), std::vector<uint32_t>{500});

  // Nothing to stop: the pause is still made.
  KillProcessList(RestoreProcessNames());
  EXPECT_EQ(clock.Get().Sleeps(), (std::vector<uint32_t>{500, 500}));
}
