// A critical section: a recursive lock.
#pragma once

#include <mutex>

class TCriticalSection {
 public:
  void Enter() { FMutex.lock(); }
  void Leave() { FMutex.unlock(); }

 private:
  std::recursive_mutex FMutex;
};

// Whether the process runs more than one thread (IsMultiThread).
bool IsMultiThread();
