// The encoder's exact output, pinned: a generated corpus deflated at every
// level letter, with and without Deflate64 and with a password, must keep
// the digests recorded here. Speed work on the match search, the token and
// bit writers and the cipher may change how the bytes are made, never which
// bytes. Every output also inflates back to the corpus.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "archive/deflate/AbDfBase.h"
#include "archive/deflate/AbDfEnc.h"
#include "archive/inflate/AbDfDec.h"
#include "platform/Classes.h"
#include "platform/Random.h"
#include "tests/deflate/DeflateEncoderSupport.h"

namespace {

using dfenc::BytesOf;
using dfenc::StreamOf;

class TGenerator {
 public:
  explicit TGenerator(uint32_t aSeed) : FState(aSeed) {}
  uint32_t Next() {
    FState = FState * 1664525u + 1013904223u;
    return FState >> 8;
  }

 private:
  uint32_t FState;
};

void AppendText(std::vector<uint8_t>& aOut, size_t aSize, TGenerator& aGen) {
  static const char* const kWords[] = {"eczane",  "ilac",   "recete", "hasta",  "doktor", "stok",
                                       "fatura",  "kutu",   "tablet", "surup",  "krem",   "damla",
                                       "merhem",  "kapsul", "doz",    "gunde",  "sabah",  "aksam",
                                       "Zelvora", "kasa",   "depo",   "musteri"};
  const size_t end = aOut.size() + aSize;
  while (aOut.size() < end) {
    const std::string word = kWords[aGen.Next() % (sizeof(kWords) / sizeof(*kWords))];
    aOut.insert(aOut.end(), word.begin(), word.end());
    const uint32_t pick = aGen.Next() % 16;
    aOut.push_back(pick == 0 ? '\n' : pick == 1 ? ',' : ' ');
    if (pick == 2) {
      const std::string number = std::to_string(aGen.Next() % 100000);
      aOut.insert(aOut.end(), number.begin(), number.end());
    }
  }
  aOut.resize(end);
}

// Database-like rows: a name, a counter, a few random bytes, zero padding.
void AppendRecords(std::vector<uint8_t>& aOut, size_t aSize, TGenerator& aGen) {
  static const char* const kNames[] = {"PARACETAMOL 500MG", "AMOKSISILIN 1000MG", "IBUPROFEN 400MG",
                                       "METFORMIN 850MG"};
  const size_t end = aOut.size() + aSize;
  for (uint32_t row = 0; aOut.size() < end; ++row) {
    const std::string name = kNames[aGen.Next() % 4];
    aOut.insert(aOut.end(), name.begin(), name.end());
    for (int i = 0; i < 4; ++i) aOut.push_back(uint8_t(row >> (8 * i)));
    for (int i = 0; i < 6; ++i) aOut.push_back(uint8_t(aGen.Next()));
    aOut.insert(aOut.end(), 20 + aGen.Next() % 90, 0);
  }
  aOut.resize(end);
}

void AppendNoise(std::vector<uint8_t>& aOut, size_t aSize, TGenerator& aGen) {
  for (size_t i = 0; i < aSize; ++i) aOut.push_back(uint8_t(aGen.Next()));
}

// Pieces copied from 40..60 KiB back: only a 64 KiB window reaches them.
void AppendFarRepeats(std::vector<uint8_t>& aOut, size_t aSize, TGenerator& aGen) {
  const size_t end = aOut.size() + aSize;
  while (aOut.size() < end) {
    const size_t back = 40000 + aGen.Next() % 20000;
    const size_t length = 20 + aGen.Next() % 400;
    const size_t from = aOut.size() - back;
    for (size_t i = 0; i < length; ++i) aOut.push_back(aOut[from + i]);
    AppendNoise(aOut, aGen.Next() % 50, aGen);
  }
  aOut.resize(end);
}

// About 1.5 MB: text, rows, noise, a long run, far repeats, more text.
const std::vector<uint8_t>& Corpus() {
  static const std::vector<uint8_t> corpus = [] {
    std::vector<uint8_t> data;
    TGenerator gen(20240611);
    AppendText(data, 300000, gen);
    AppendRecords(data, 350000, gen);
    AppendNoise(data, 150000, gen);
    data.insert(data.end(), 200000, uint8_t('A'));
    AppendFarRepeats(data, 250000, gen);
    AppendText(data, 120000, gen);
    AppendRecords(data, 130000, gen);
    AppendNoise(data, 70001, gen);
    return data;
  }();
  return corpus;
}

// FNV-1a, 64 bits.
uint64_t Digest(const std::vector<uint8_t>& aBytes) {
  uint64_t hash = 14695981039346656037ull;
  for (uint8_t b : aBytes) {
    hash ^= b;
    hash *= 1099511628211ull;
  }
  return hash;
}

// CRC-32 one bit at a time, independent of the engine's tables.
uint32_t BitwiseCrc32(const std::vector<uint8_t>& aBytes) {
  uint32_t crc = 0xFFFFFFFF;
  for (uint8_t b : aBytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  }
  return crc ^ 0xFFFFFFFF;
}

constexpr const char* kPassword = "735296482913572";
constexpr int32_t kHeaderCheck = 0x5A3C1E0F;
constexpr uint32_t kRandSeed = 4242;

struct TCase {
  char Level;
  bool Deflate64;
  bool Password;
  uint64_t Digest;
  size_t Size;
};

void Configure(TAbDeflateHelper& aHelper, const TCase& aCase) {
  aHelper.SelectLevel('0');
  aHelper.SelectLevel(aCase.Level);
  if (aCase.Deflate64) aHelper.SetOptions(aHelper.Options() | dfoDeflate64);
  if (aCase.Deflate64) aHelper.HistorySize = 65536;
  if (aCase.Password) {
    aHelper.Password = kPassword;
    aHelper.HeaderCheck = kHeaderCheck;
  }
}

// Recorded from the encoder as it was before any speed work.
const TCase kCases[] = {
    {'0', false, false, 0xa22733f367f4d1fdull, 1570121},
    {'0', true, false, 0xa22733f367f4d1fdull, 1570121},
    {'0', false, true, 0xa32a3e3fda64647cull, 1570133},
    {'2', false, false, 0x8ecfec62212f1784ull, 460804},
    {'2', true, false, 0xc19af65f1c02efa7ull, 347195},
    {'2', false, true, 0x6981ae66c4cb3a2eull, 460816},
    {'f', false, false, 0x8dd61f5fa55ef202ull, 473662},
    {'f', true, false, 0xe0960e5b7ef72652ull, 361783},
    {'f', false, true, 0xc180866f4cc52e3dull, 473674},
    {'n', false, false, 0xd3a1798457b9865cull, 454590},
    {'n', true, false, 0x5ad874686a222004ull, 343251},
    {'n', false, true, 0xc036954886791c48ull, 454602},
    {'s', false, false, 0xdff9292488294d11ull, 474173},
    {'s', true, false, 0x6ec44e460746454eull, 360188},
    {'s', false, true, 0x563cc0efc8f67966ull, 474185},
    {'x', false, false, 0xcf1f105c3c552604ull, 434327},
    {'x', true, false, 0x32f148cfac3c223full, 319366},
    {'x', false, true, 0x3252c227fc44ac7cull, 434339},
    {'n', true, true, 0xcf1fadf22d16a2a1ull, 343263},
};

TEST(DeflateGolden, OutputDigestsAreUnchanged) {
  const std::vector<uint8_t>& corpus = Corpus();
  const uint32_t expectedCrc = BitwiseCrc32(corpus);
  for (const TCase& c : kCases) {
    SCOPED_TRACE(std::string("level ") + c.Level + (c.Deflate64 ? " deflate64" : "") +
                 (c.Password ? " password" : ""));
    TAbDeflateHelper helper;
    Configure(helper, c);
    SetRandSeed(kRandSeed);
    TMemoryStream source = StreamOf(corpus);
    TMemoryStream packed;
    EXPECT_EQ(Deflate(&source, &packed, &helper), expectedCrc);
    const std::vector<uint8_t> bytes = BytesOf(packed);
    EXPECT_EQ(Digest(bytes), c.Digest);
    EXPECT_EQ(bytes.size(), c.Size);

    TAbDeflateHelper inflateHelper;
    Configure(inflateHelper, c);
    packed.SetPosition(0);
    TMemoryStream unpacked;
    EXPECT_EQ(Inflate(&packed, &unpacked, &inflateHelper), expectedCrc);
    EXPECT_TRUE(BytesOf(unpacked) == corpus);
  }
}

}  // namespace
