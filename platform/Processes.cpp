#include "platform/Processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

namespace {

bool IsProcessId(const char* name) {
  if (*name == '\0') return false;
  for (const char* c = name; *c; ++c) {
    if (*c < '0' || *c > '9') return false;
  }
  return true;
}

// The whole of a /proc file, or less when the process ends meanwhile. Plain
// reads: a stream buffer throws when the kernel reports the process gone.
std::string ReadWhole(const std::string& path) {
  std::string content;
  const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return content;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(file, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    content.append(buffer, size_t(n));
  }
  ::close(file);
  return content;
}

// The name a Windows snapshot would show: argv[0] without its folders, so a
// program started under Wine as C:\...\Zelvora.exe shows as Zelvora.exe.
std::string ExeNameOf(const std::string& pid) {
  const std::string commandLine = ReadWhole("/proc/" + pid + "/cmdline");
  std::string first = commandLine.substr(0, commandLine.find('\0'));
  if (first.empty()) {  // kernel threads and zombies have no command line
    first = ReadWhole("/proc/" + pid + "/comm");
    while (!first.empty() && first.back() == '\n') first.pop_back();
  }
  const size_t separator = first.find_last_of("/\\");
  return separator == std::string::npos ? first : first.substr(separator + 1);
}

// Runs in the grandchild of WinExec: only async-signal-safe calls from here on.
[[noreturn]] void ExecHidden(const char* commandLine) {
  const int null = ::open("/dev/null", O_RDWR);
  if (null >= 0) {
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
  }
  ::close_range(3, ~0u, 0);  // WinExec passes no handles on
  ::execl("/bin/sh", "sh", "-c", commandLine, static_cast<char*>(nullptr));
  ::_exit(127);
}

int FirstNumber(const char*& text) {
  while (*text && (*text < '0' || *text > '9')) ++text;
  int value = 0;
  while (*text >= '0' && *text <= '9') value = value * 10 + (*text++ - '0');
  return value;
}

}  // namespace

TProcessSnapshot::TProcessSnapshot() {
  const std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
  if (!proc) return;
  while (const dirent* entry = ::readdir(proc.get())) {
    if (!IsProcessId(entry->d_name)) continue;
    TProcessEntry32 process;
    process.th32ProcessID = uint32_t(std::strtoul(entry->d_name, nullptr, 10));
    process.szExeFile = ExeNameOf(entry->d_name);
    if (!process.szExeFile.empty()) FEntries.push_back(process);  // gone meanwhile
  }
}

bool TProcessSnapshot::Process32First(TProcessEntry32& entry) {
  FNext = 0;
  return Process32Next(entry);
}

bool TProcessSnapshot::Process32Next(TProcessEntry32& entry) {
  if (FNext >= FEntries.size()) return false;
  entry = FEntries[FNext++];
  return true;
}

bool TerminateProcess(uint32_t processId) {
  // 0 and values beyond pid_t would signal whole process groups.
  if (processId == 0 || processId > uint32_t(INT_MAX)) return false;
  return ::kill(pid_t(processId), SIGKILL) == 0;
}

uint32_t WinExec(const std::string& commandLine) {
  // Double fork: the command is adopted by init, so nobody has to reap it.
  const pid_t child = ::fork();
  if (child < 0) return 0;
  if (child == 0) {
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild == 0) ExecHidden(commandLine.c_str());
    ::_exit(grandchild < 0 ? 1 : 0);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 33 : 0;
}

uint32_t GetVersion() {
  utsname host{};
  if (::uname(&host) != 0) return 0;
  const char* release = host.release;  // "6.1.76-1-amd64": major, minor, build
  const uint32_t major = uint32_t(FirstNumber(release)) & 0xFF;
  const uint32_t minor = uint32_t(FirstNumber(release)) & 0xFF;
  const uint32_t build = uint32_t(FirstNumber(release)) & 0x7FFF;
  return major | minor << 8 | build << 16;
}

void KeepFreedMemoryForReuse() {
  ::mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
  ::mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
}
