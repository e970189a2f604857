// Throughput and compressed size of our Deflate encoder at the levels the
// archive uses, beside zlib's levels 1, 6 and 9 (raw Deflate) on the same
// data. Prints a table; checks nothing.
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/deflate/AbDfBase.h"
#include "archive/deflate/AbDfEnc.h"
#include "platform/Classes.h"

namespace {

uint32_t NextRandom(uint32_t& aSeed) {
  aSeed = aSeed * 1664525u + 1013904223u;
  return aSeed;
}

// Word text from a small vocabulary, like the suite's text files.
std::vector<uint8_t> Text(size_t aSize) {
  static const char* const kWords[] = {"eczane", "ilac",   "recete", "hasta", "doktor", "stok",
                                       "fatura", "kutu",   "tablet", "surup", "krem",   "damla",
                                       "merhem", "kapsul", "doz",    "gunde", "sabah",  "aksam"};
  std::vector<uint8_t> text;
  uint32_t seed = 1;
  while (text.size() < aSize) {
    const std::string word = kWords[(NextRandom(seed) >> 16) % (sizeof(kWords) / sizeof(*kWords))];
    text.insert(text.end(), word.begin(), word.end());
    text.push_back((seed >> 8) % 9 == 0 ? '\n' : ' ');
  }
  text.resize(aSize);
  return text;
}

// Database-like pages: records with repeated fields, counters and zero padding.
std::vector<uint8_t> Records(size_t aSize) {
  std::vector<uint8_t> data;
  uint32_t seed = 2;
  for (uint32_t record = 0; data.size() < aSize; ++record) {
    const char* name = (NextRandom(seed) >> 20) % 2 ? "PARACETAMOL 500MG" : "AMOKSISILIN 1000MG";
    data.insert(data.end(), name, name + 17);
    for (int i = 0; i < 4; ++i) data.push_back(uint8_t(record >> (8 * i)));
    for (int i = 0; i < 8; ++i) data.push_back(uint8_t(NextRandom(seed) >> 24));
    data.insert(data.end(), 35 + (seed >> 26), 0);
  }
  data.resize(aSize);
  return data;
}

std::vector<uint8_t> Noise(size_t aSize) {
  std::vector<uint8_t> data(aSize);
  uint32_t seed = 3;
  for (uint8_t& b : data) b = uint8_t(NextRandom(seed) >> 24);
  return data;
}

using TClock = std::chrono::steady_clock;

// Runs `aCompress` until at least half a second has passed; MB/s and size.
template <typename TCompress>
void Measure(const char* aName, const std::vector<uint8_t>& aData, TCompress aCompress) {
  size_t size = 0;
  int runs = 0;
  const TClock::time_point start = TClock::now();
  double seconds = 0;
  do {
    size = aCompress();
    ++runs;
    seconds = std::chrono::duration<double>(TClock::now() - start).count();
  } while (seconds < 0.5);
  const double megabytes = double(aData.size()) * runs / 1e6;
  std::printf("  %-10s %8.1f MB/s %10zu bytes  %5.1f %%\n", aName, megabytes / seconds, size,
              100.0 * double(size) / double(aData.size()));
}

size_t OurDeflate(const std::vector<uint8_t>& aData, char aLevel) {
  TMemoryStream source;
  source.WriteBuffer(aData.data(), int32_t(aData.size()));
  source.SetPosition(0);
  TMemoryStream dest;
  TAbDeflateHelper helper;
  helper.SelectLevel('0');
  helper.SelectLevel(aLevel);
  Deflate(&source, &dest, &helper);
  return size_t(dest.Size());
}

size_t ZlibDeflate(const std::vector<uint8_t>& aData, int aLevel) {
  z_stream stream{};
  deflateInit2(&stream, aLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::vector<uint8_t> out(deflateBound(&stream, uLong(aData.size())));
  stream.next_in = const_cast<Bytef*>(aData.data());
  stream.avail_in = uInt(aData.size());
  stream.next_out = out.data();
  stream.avail_out = uInt(out.size());
  deflate(&stream, Z_FINISH);
  const size_t size = stream.total_out;
  deflateEnd(&stream);
  return size;
}

}  // namespace

int main() {
  struct TDataSet {
    const char* Name;
    std::vector<uint8_t> Data;
  };
  const TDataSet sets[] = {
      {"text", Text(8 << 20)}, {"records", Records(8 << 20)}, {"incompressible", Noise(4 << 20)}};
  for (const TDataSet& set : sets) {
    std::printf("%s, %zu bytes\n", set.Name, set.Data.size());
    for (char level : {'s', 'f', 'n', 'x'}) {
      const std::string name = std::string("ours \"") + level + "\"";
      Measure(name.c_str(), set.Data, [&] { return OurDeflate(set.Data, level); });
    }
    for (int level : {1, 6, 9}) {
      const std::string name = "zlib " + std::to_string(level);
      Measure(name.c_str(), set.Data, [&] { return ZlibDeflate(set.Data, level); });
    }
  }
}
