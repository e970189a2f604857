// Fingerprints of what our Deflate encoder writes: one SHA-256 per input and
// setting (every level letter, Deflate64, a password, Adler-32, a small
// history, a source that hands out short reads), over the files of a folder
// and a set of generated inputs. Two runs that print the same lines wrote the
// same bytes; the last line fingerprints all of them together.
//
// Usage: deflate_identity [FOLDER]
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/deflate/AbDfBase.h"
#include "archive/deflate/AbDfEnc.h"
#include "platform/Classes.h"
#include "platform/Random.h"
#include "tests/support/BytesReader.h"

namespace fs = std::filesystem;

namespace {

// ------------------------------------------------------------ SHA-256

class TSha256 {
 public:
  void Add(const uint8_t* aBytes, size_t aCount) {
    for (size_t i = 0; i < aCount; ++i) {
      FBlock[FUsed++] = aBytes[i];
      if (FUsed == 64) Compress();
    }
    FBits += uint64_t(aCount) * 8;
  }

  std::string Hex() {
    const uint64_t bits = FBits;
    const uint8_t one = 0x80;
    Add(&one, 1);
    const uint8_t zero = 0;
    while (FUsed != 56) Add(&zero, 1);
    for (int i = 7; i >= 0; --i) {
      const uint8_t b = uint8_t(bits >> (8 * i));
      Add(&b, 1);
    }
    std::string hex;
    for (uint32_t h : FState) {
      char part[9];
      std::snprintf(part, sizeof(part), "%08x", h);
      hex += part;
    }
    return hex;
  }

 private:
  static uint32_t Rotr(uint32_t aValue, int aBits) {
    return (aValue >> aBits) | (aValue << (32 - aBits));
  }

  void Compress() {
    static const uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
        0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
        0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
        0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
        0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
        0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
        0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
        0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
        0xc67178f2};
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
      w[i] = uint32_t(FBlock[4 * i]) << 24 | uint32_t(FBlock[4 * i + 1]) << 16 |
             uint32_t(FBlock[4 * i + 2]) << 8 | FBlock[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
      const uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::array<uint32_t, 8> v = FState;
    for (int i = 0; i < 64; ++i) {
      const uint32_t s1 = Rotr(v[4], 6) ^ Rotr(v[4], 11) ^ Rotr(v[4], 25);
      const uint32_t ch = (v[4] & v[5]) ^ (~v[4] & v[6]);
      const uint32_t t1 = v[7] + s1 + ch + k[i] + w[i];
      const uint32_t s0 = Rotr(v[0], 2) ^ Rotr(v[0], 13) ^ Rotr(v[0], 22);
      const uint32_t maj = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
      const uint32_t t2 = s0 + maj;
      v = {t1 + t2, v[0], v[1], v[2], v[3] + t1, v[4], v[5], v[6]};
    }
    for (size_t i = 0; i < 8; ++i) FState[i] += v[i];
    FUsed = 0;
  }

  std::array<uint32_t, 8> FState = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                    0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::array<uint8_t, 64> FBlock{};
  size_t FUsed = 0;
  uint64_t FBits = 0;
};

// ------------------------------------------------------------ streams over memory

class TBytesWriter : public TStream {
 public:
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void* aBuffer, int32_t aCount) override {
    const auto* bytes = static_cast<const uint8_t*>(aBuffer);
    Bytes.insert(Bytes.end(), bytes, bytes + aCount);
    return aCount;
  }
  int64_t Seek(int64_t aOffset, int aOrigin) override {
    if (aOrigin == soFromBeginning) return aOffset;
    return int64_t(Bytes.size()) + aOffset;
  }
  std::vector<uint8_t> Bytes;
};

// ------------------------------------------------------------ inputs

struct TInput {
  std::string Name;
  std::vector<uint8_t> Bytes;
};

uint32_t NextRandom(uint32_t& aSeed) {
  aSeed = aSeed * 1664525u + 1013904223u;
  return aSeed;
}

std::vector<uint8_t> Noise(size_t aSize, uint32_t aSeed) {
  std::vector<uint8_t> data(aSize);
  for (uint8_t& b : data) b = uint8_t(NextRandom(aSeed) >> 24);
  return data;
}

std::vector<uint8_t> Text(size_t aSize, uint32_t aSeed) {
  static const char* const kWords[] = {"eczane", "ilac",   "recete", "hasta",  "doktor",
                                       "stok",   "fatura", "kutu",   "tablet", "surup"};
  std::vector<uint8_t> text;
  while (text.size() < aSize) {
    const std::string word = kWords[(NextRandom(aSeed) >> 16) % 10];
    text.insert(text.end(), word.begin(), word.end());
    text.push_back((aSeed >> 8) % 9 == 0 ? '\n' : ' ');
  }
  text.resize(aSize);
  return text;
}

std::vector<uint8_t> Pattern(size_t aSize, size_t aPeriod) {
  std::vector<uint8_t> data(aSize);
  for (size_t i = 0; i < aSize; ++i) data[i] = uint8_t('a' + i % aPeriod);
  return data;
}

// Noise with stretches copied from exactly one window (and one Deflate64
// window) back, and runs longer than the longest match.
std::vector<uint8_t> FarCopies(size_t aSize) {
  std::vector<uint8_t> data = Noise(aSize, 7);
  for (size_t at = 70000; at + 300 < aSize; at += 9000) {
    const size_t distance = (at / 9000) % 2 ? 32768 : 65536;
    std::copy_n(data.begin() + long(at - distance), 300, data.begin() + long(at));
  }
  std::fill_n(data.begin() + 5000, 70000, uint8_t(0x55));
  return data;
}

std::vector<TInput> Generated() {
  std::vector<TInput> inputs;
  for (size_t size : {0, 1, 2, 3, 4, 5, 7, 100}) {
    inputs.push_back({"zeros-" + std::to_string(size), std::vector<uint8_t>(size, 0)});
    inputs.push_back({"text-" + std::to_string(size), Text(size, uint32_t(size))});
  }
  inputs.push_back({"zeros-70000", std::vector<uint8_t>(70000, 0)});
  inputs.push_back({"zeros-300000", std::vector<uint8_t>(300000, 0)});
  inputs.push_back({"noise-100", Noise(100, 1)});
  inputs.push_back({"noise-200000", Noise(200000, 2)});
  inputs.push_back({"text-50000", Text(50000, 3)});
  inputs.push_back({"text-1000000", Text(1000000, 4)});
  inputs.push_back({"pattern3-300000", Pattern(300000, 3)});
  inputs.push_back({"pattern250-300000", Pattern(300000, 250)});
  inputs.push_back({"farcopies-400000", FarCopies(400000)});
  // A text start (no zero byte in the first kilobyte), then records.
  std::vector<uint8_t> mixed = Text(1500, 5);
  const std::vector<uint8_t> tail = Noise(30000, 6);
  for (int i = 0; i < 20; ++i) {
    mixed.insert(mixed.end(), tail.begin() + i * 1000, tail.begin() + i * 1000 + 40);
    mixed.insert(mixed.end(), 60, 0);
  }
  inputs.push_back({"mixed", mixed});
  return inputs;
}

std::vector<TInput> FolderFiles(const fs::path& aFolder) {
  std::vector<fs::path> paths;
  for (const auto& entry : fs::recursive_directory_iterator(aFolder))
    if (entry.is_regular_file()) paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());
  std::vector<TInput> inputs;
  for (const fs::path& path : paths) {
    std::ifstream in(path, std::ios::binary);
    inputs.push_back({fs::relative(path, aFolder).string(),
                      std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {})});
  }
  return inputs;
}

// ------------------------------------------------------------ settings

struct TSetting {
  const char* Name;
  char Level;
  uint32_t AddOptions;
  int32_t HistorySize;
  bool Password;
  int32_t Chunk;
};

constexpr TSetting kSettings[] = {
    {"0", '0', 0, 32768, false, 0},
    {"2", '2', 0, 32768, false, 0},
    {"f", 'f', 0, 32768, false, 0},
    {"n", 'n', 0, 32768, false, 0},
    {"s", 's', 0, 32768, false, 0},
    {"x", 'x', 0, 32768, false, 0},
    {"n64", 'n', dfoDeflate64, 65536, false, 0},
    {"x64", 'x', dfoDeflate64, 65536, false, 0},
    {"n-pass", 'n', 0, 32768, true, 0},
    {"n-adler", 'n', dfoAdler32, 32768, false, 0},
    {"n-hist4k", 'n', 0, 4096, false, 0},
    {"n-chunk777", 'n', 0, 32768, false, 777},
};

std::string Fingerprint(const TInput& aInput, const TSetting& aSetting, size_t& aSize) {
  TBytesReader source(aInput.Bytes, aSetting.Chunk);
  TBytesWriter dest;
  TAbDeflateHelper helper;
  helper.SelectLevel('0');
  helper.SelectLevel(aSetting.Level);
  helper.SetOptions(helper.Options() | aSetting.AddOptions);
  helper.HistorySize = aSetting.HistorySize;
  if (aSetting.Password) {
    helper.Password = "735296482913572";
    helper.HeaderCheck = 0x12345678;
    // The cipher header starts with random bytes.
    SetRandSeed(20261211);
  }
  const uint32_t checksum = Deflate(&source, &dest, &helper);
  uint8_t tail[4];
  for (int i = 0; i < 4; ++i) tail[i] = uint8_t(checksum >> (8 * i));
  TSha256 sha;
  sha.Add(dest.Bytes.data(), dest.Bytes.size());
  sha.Add(tail, sizeof(tail));
  aSize = dest.Bytes.size();
  return sha.Hex();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<TInput> inputs = Generated();
  if (argc > 1) {
    std::vector<TInput> files = FolderFiles(argv[1]);
    std::move(files.begin(), files.end(), std::back_inserter(inputs));
  }
  TSha256 all;
  for (const TInput& input : inputs) {
    for (const TSetting& setting : kSettings) {
      size_t size = 0;
      std::string hex;
      // A failure is part of the behaviour too.
      try {
        hex = Fingerprint(input, setting, size);
      } catch (const std::exception& error) {
        hex = std::string("error: ") + error.what();
      }
      std::printf("%s %-10s %10zu %s\n", hex.c_str(), setting.Name, size, input.Name.c_str());
      all.Add(reinterpret_cast<const uint8_t*>(hex.data()), hex.size());
    }
  }
  std::printf("all %s\n", all.Hex().c_str());
  return 0;
}
