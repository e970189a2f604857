// Processes and commands of the host, in the shape of the Windows calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One process of the snapshot: its id and executable name (the last
// component of its first command-line argument, split at '/' and '\').
struct TProcessEntry32 {
  uint32_t th32ProcessID = 0;
  std::string szExeFile;
};

// CreateToolhelp32Snapshot / Process32First / Process32Next over a list.
class TProcessSnapshot {
 public:
  // Every process of the host at the time of creation.
  TProcessSnapshot();
  bool Process32First(TProcessEntry32& entry);
  bool Process32Next(TProcessEntry32& entry);

 private:
  std::vector<TProcessEntry32> FEntries;
  size_t FNext = 0;
};

// OpenProcess + TerminateProcess (SIGKILL); true when the signal was sent.
bool TerminateProcess(uint32_t processId);

// WinExec with the window hidden: runs `commandLine` through /bin/sh -c,
// detached, output discarded, not waited for. Returns a value above 31 on
// success, as WinExec does.
uint32_t WinExec(const std::string& commandLine);

// GetVersion: the operating-system version word (major in the low byte, minor
// in the next, build in the upper 16 bits, whose top bit is clear on NT).
uint32_t GetVersion();

// Keeps the memory the process frees in its heap instead of handing it back to
// the system: the engine takes its window and tables afresh for every file it
// packs, and memory handed back comes again as new zeroed pages, one fault per
// page. Called first thing by the programs.
void KeepFreedMemoryForReuse();
