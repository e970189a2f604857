// The wall time of a backup's archive with and without its read-back: the
// data folder zipped as Vozidir zips it (password, the suite's zipper), then
// every entry tested as the run does before the service starts again. The
// fixed pauses of the run (7 s and 10 ms per file) are left out: they would
// only hide the difference. Goal: verification adds at most 40%.
//
// Usage: verify_bench [megabytes, default 64] [files, default 8] [rounds, default 3]
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/BenchData.h"
#include "desktop/ArchiveVerifyUnit.h"
#include "desktop/FreeSpaceUnit.h"
#include "desktop/SuiteArchiveUnit.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t megabytes = argc > 1 ? std::atoll(argv[1]) : 64;
  const int files = argc > 2 ? std::atoi(argv[2]) : 8;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
  char pattern[] = "/tmp/verify-bench-XXXXXX";
  const char* root = ::mkdtemp(pattern);
  if (root == nullptr || megabytes <= 0 || files <= 0 || rounds <= 0) return 1;
  ::setenv("ZELVORA_DRIVE_C", root, 1);
  const std::string host = root;
  std::filesystem::create_directories(host + "/Zelvora/Data");
  std::filesystem::create_directories(host + "/Zelvora/Yedek");
  for (int i = 0; i < files; ++i) {
    WriteBenchDataFile(host + "/Zelvora/Data/tablo" + std::to_string(i) + ".mdf",
                       megabytes * (1 << 20) / files, uint32_t(i + 1), 8);
  }
  const std::string archive = std::string(kSuiteBackupFolder) + "\\bench.zip";

  std::vector<double> save, verify;
  int entries = 0;
  for (int round = 0; round < rounds; ++round) {
    std::filesystem::remove(host + "/Zelvora/Yedek/bench.zip");
    auto start = std::chrono::steady_clock::now();
    TAbSuiteZipper zip;
    zip.SetFileName(archive);
    zip.SetPassword(kSuiteArchivePassword);
    for (const std::string& name : SuiteDataFiles()) zip.AddMatching(SuiteDataPath(name), 0);
    zip.Save();
    zip.CloseFile();
    save.push_back(Seconds(start));
    start = std::chrono::steady_clock::now();
    entries = VerifySuiteArchive(archive, nullptr);
    verify.push_back(Seconds(start));
  }
  const double archiveMiB =
      double(std::filesystem::file_size(host + "/Zelvora/Yedek/bench.zip")) / (1 << 20);
  const double saved = Median(save), verified = Median(verify);
  std::printf("data: %lld MiB in %d files; archive %.1f MiB, %d entries; median of %d rounds\n",
              static_cast<long long>(megabytes), files, archiveMiB, entries, rounds);
  std::printf("backup without verification: %.3f s (%.1f MiB/s)\n", saved,
              double(megabytes) / saved);
  std::printf("backup with verification:    %.3f s (verification %.3f s, %.1f MiB/s)\n",
              saved + verified, verified, double(megabytes) / verified);
  std::printf("verification adds %.1f%% (goal: at most 40%%)\n", 100.0 * verified / saved);
  std::filesystem::remove_all(host);
  return 0;
}
