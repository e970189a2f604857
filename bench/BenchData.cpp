#include "bench/BenchData.h"

#include <algorithm>
#include <fstream>

void WriteBenchDataFile(const std::string& path, int64_t size, uint32_t seed, int noisePeriodMiB) {
  static const char* const kWords[] = {"eczane ",  "ilac ", "recete ", "stok ",    "fatura ",
                                       "musteri ", "kasa ", "depo ",   "Zelvora ", "\r\n"};
  std::ofstream file(path, std::ios::binary);
  std::string chunk;
  uint32_t state = seed;
  for (int64_t written = 0; written < size;) {
    chunk.clear();
    const bool noise = (written >> 20) % noisePeriodMiB == noisePeriodMiB - 1;
    while (chunk.size() < (1 << 20)) {
      state = state * 1664525u + 1013904223u;
      if (noise)
        chunk += char(state >> 24);
      else
        chunk += kWords[(state >> 8) % 10];
    }
    const int64_t n = std::min<int64_t>(int64_t(chunk.size()), size - written);
    file.write(chunk.data(), std::streamsize(n));
    written += n;
  }
}
