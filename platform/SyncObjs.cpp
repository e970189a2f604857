#include "platform/SyncObjs.h"

#include <fstream>
#include <string>

bool IsMultiThread() {
  // The kernel's own count also sees threads started by libraries.
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 8, "Threads:") == 0) return std::stol(line.substr(8)) > 1;
  }
  return false;
}
