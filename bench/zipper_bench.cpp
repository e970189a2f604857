// Zips generated data through TAbZipper the way a backup does (password,
// best method, normal level) and prints the throughput and the process's peak
// resident memory. The work streams keep 100 KiB in memory and swap the rest,
// so the peak should stay far below the data's size (goal: under 64 MB).
//
// Usage: zipper_bench [megabytes, default 1024] [files, default 8]
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "archive/AbZipper.h"
#include "bench/BenchData.h"

namespace {

long PeakResidentKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t megabytes = argc > 1 ? std::atoll(argv[1]) : 1024;
  const int files = argc > 2 ? std::atoi(argv[2]) : 8;
  char pattern[] = "/tmp/zipper-bench-XXXXXX";
  const char* root = ::mkdtemp(pattern);
  if (root == nullptr) return 1;
  ::setenv("ZELVORA_DRIVE_C", root, 1);
  const std::string data = std::string(root) + "/Data";
  std::system(("mkdir -p '" + data + "'").c_str());

  const int64_t total = megabytes << 20;
  for (int i = 0; i < files; ++i)
    WriteBenchDataFile(data + "/file" + std::to_string(i) + ".dat", total / files, uint32_t(i + 1),
                       16);
  std::printf("generated %lld MiB in %d files; peak RSS so far %ld KiB\n",
              static_cast<long long>(megabytes), files, PeakResidentKiB());

  const auto start = std::chrono::steady_clock::now();
  {
    TAbZipper zipper;
    zipper.SetFileName("C:\\bench.zip");
    zipper.SetPassword("735296482913572");
    zipper.AddMatching("C:\\Data\\*.*", 0);
    zipper.CloseFile();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::ifstream archive(std::string(root) + "/bench.zip", std::ios::binary | std::ios::ate);
  const double archiveMiB = double(archive.tellg()) / (1 << 20);

  std::printf("zipped %lld MiB into %.1f MiB in %.1f s: %.1f MiB/s\n",
              static_cast<long long>(megabytes), archiveMiB, seconds, double(megabytes) / seconds);
  std::printf("peak resident memory: %.1f MiB\n", PeakResidentKiB() / 1024.0);
  std::system(("rm -rf '" + std::string(root) + "'").c_str());
  return 0;
}
