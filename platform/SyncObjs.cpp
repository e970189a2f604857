#include "platform/SyncObjs.h"

#include <sys/stat.h>
#if __has_include(<sys/single_threaded.h>)
#include <sys/single_threaded.h>
#define ZELVORA_HAS_SINGLE_THREADED 1
#endif

#include <fstream>
#include <string>

namespace {

// The thread count of the status file: slow (a read and a parse of some fifty
// lines), so only where the task folder's link count tells nothing.
bool StatusShowsThreads() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 8, "Threads:") == 0) return std::stol(line.substr(8)) > 1;
  }
  return false;
}

}  // namespace

bool IsMultiThread() {
#ifdef ZELVORA_HAS_SINGLE_THREADED
  // The C library knows when no second thread was ever started.
  if (__libc_single_threaded) return false;
#endif
  // The kernel's own count also sees threads started by libraries. The task
  // folder links "." and ".." and one entry per thread, and one stat call
  // gives it: cheap enough for every lock an archive takes.
  struct stat task {};
  if (stat("/proc/self/task", &task) == 0 && task.st_nlink >= 3) return task.st_nlink > 3;
  return StatusShowsThreads();
}
