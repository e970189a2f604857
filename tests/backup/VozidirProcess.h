// Running the built programs as processes: a recording `net` first on the
// PATH, processes named like the suite's, and a program run with its input,
// output and environment.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/TestSupport.h"

// A child process that shows as `exeName` in the process snapshot; killed and
// reaped on destruction.
class TNamedProcess {
 public:
  explicit TNamedProcess(const std::string& exeName) : FExeName(exeName) {
    FPid = ::fork();
    if (FPid == 0) {
      const std::string script = "exec -a '" + exeName + "' sleep 60";
      ::execl("/bin/bash", "bash", "-c", script.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // Wait until bash has replaced itself: readiness, not timing.
    for (int i = 0; i < 500 && !Ready(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ~TNamedProcess() {
    if (FReaped) return;
    ::kill(FPid, SIGKILL);
    Reap();
  }
  TNamedProcess(const TNamedProcess&) = delete;
  TNamedProcess& operator=(const TNamedProcess&) = delete;

  bool Ready() const {
    std::ifstream file("/proc/" + std::to_string(FPid) + "/cmdline", std::ios::binary);
    const std::string line((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    return line.rfind(FExeName + '\0', 0) == 0;
  }
  // Still running (not ended, or ended and not reaped yet).
  bool Running() {
    if (FReaped) return false;
    int status = 0;
    if (::waitpid(FPid, &status, WNOHANG) == 0) return true;
    FReaped = true;
    return false;
  }

 private:
  void Reap() {
    int status = 0;
    ::waitpid(FPid, &status, 0);
    FReaped = true;
  }

  std::string FExeName;
  pid_t FPid = -1;
  bool FReaped = false;
};

inline std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs `command` (already quoted) through the shell with `input` on its
// standard input; returns its exit status and standard output. The drive,
// PATH and other variables of this process are inherited.
struct TProgramRun {
  int Status = -1;
  std::string Output;
};

inline TProgramRun RunProgram(const TTempDrive& drive, const std::string& command,
                              const std::string& input) {
  const std::string in = drive.Host("program.in");
  const std::string out = drive.Host("program.out");
  std::ofstream(in, std::ios::binary) << input;
  TProgramRun run;
  const int status =
      std::system((command + " < " + ShellQuote(in) + " > " + ShellQuote(out)).c_str());
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream file(out, std::ios::binary);
  run.Output.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return run;
}

// The command line of a built program with the virtual clock: its pauses cost nothing.
inline std::string ProgramCommand(const std::string& program, const std::string& arguments = "") {
  return "ZELVORA_UI=headless ZELVORA_CLOCK=virtual " + ShellQuote(program) +
         (arguments.empty() ? "" : " " + arguments);
}

// Python's zipfile as the oracle: the archive holds exactly the ordinary
// files of `folder` (host path), each byte-identical, stored under their
// path without the drive. Empty on success, else what differs.
inline std::string CompareArchiveWithFolder(const std::string& archive, const std::string& folder,
                                            const std::string& password) {
  const std::string script = R"(
import os, sys, zipfile
archive, folder, password = sys.argv[1], sys.argv[2], sys.argv[3].encode()
wanted = sorted(n for n in os.listdir(folder)
                if not n.startswith('.') and os.path.isfile(os.path.join(folder, n)))
with zipfile.ZipFile(archive) as z:
    stored = {n.split('/')[-1]: n for n in z.namelist()}
    if sorted(stored) != wanted or len(stored) != len(z.namelist()):
        print('names', z.namelist(), 'wanted', wanted); sys.exit(1)
    for n in wanted:
        with open(os.path.join(folder, n), 'rb') as f:
            if z.read(stored[n], pwd=password) != f.read():
                print('content of', n); sys.exit(1)
)";
  const std::string out =
      (std::filesystem::temp_directory_path() / ("zelvora-compare-" + std::to_string(::getpid())))
          .string();
  const int status = std::system(("python3 -c " + ShellQuote(script) + " " + ShellQuote(archive) +
                                  " " + ShellQuote(folder) + " " + ShellQuote(password) + " > " +
                                  ShellQuote(out) + " 2>&1")
                                     .c_str());
  std::ifstream file(out);
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::filesystem::remove(out);
  if (status == 0) return std::string();
  return text.empty() ? "python3 failed" : text;
}

// `unzip -t -P PASSWORD` accepts the archive.
inline bool UnzipAccepts(const std::string& archive, const std::string& password) {
  return std::system(("unzip -t -P " + password + " " + ShellQuote(archive) + " > /dev/null 2>&1")
                         .c_str()) == 0;
}

inline bool HaveTool(const std::string& tool) {
  return std::system(("command -v " + tool + " > /dev/null 2>&1").c_str()) == 0;
}
