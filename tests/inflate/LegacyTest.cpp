#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "archive/AbExcept.h"
#include "archive/deflate/AbDfBase.h"
#include "archive/inflate/AbSWStm.h"
#include "archive/inflate/AbUnzPrc.h"
#include "archive/inflate/AbZipCry.h"
#include "platform/Classes.h"
#include "platform/SysUtils.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string TestsDir() {
  const char* dir = std::getenv("ZELVORA_TEST_SOURCE_DIR");
  return dir ? dir : std::filesystem::path(__FILE__).parent_path().parent_path().string();
}

std::string LegacyDir() {
  return TestsDir() + "/data/legacy";
}
// Third-party archives are not kept in the repository; they sit beside it.
std::string PkzipDir() {
  return TestsDir() + "/../../shared/fixtures/legacy";
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint16_t Le16(const Bytes& b, size_t at) {
  return uint16_t(b[at] | b[at + 1] << 8);
}
uint32_t Le32(const Bytes& b, size_t at) {
  return uint32_t(Le16(b, at)) | uint32_t(Le16(b, at + 2)) << 16;
}

// What the tests need of a local header.
struct TLocalEntry {
  std::string Name;
  uint16_t Flags = 0;
  uint16_t Method = 0;
  uint16_t Time = 0;
  uint32_t Crc = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
  size_t DataOffset = 0;
};

// Walks the local headers from the start of the file.
std::vector<TLocalEntry> LocalEntries(const Bytes& zip) {
  std::vector<TLocalEntry> entries;
  size_t at = 0;
  while (at + 30 <= zip.size() && Le32(zip, at) == 0x04034b50) {
    TLocalEntry e;
    e.Flags = Le16(zip, at + 6);
    e.Method = Le16(zip, at + 8);
    e.Time = Le16(zip, at + 10);
    e.Crc = Le32(zip, at + 14);
    e.CompressedSize = Le32(zip, at + 18);
    e.UncompressedSize = Le32(zip, at + 22);
    const uint16_t nameLength = Le16(zip, at + 26);
    e.Name.assign(zip.begin() + long(at + 30), zip.begin() + long(at + 30 + nameLength));
    e.DataOffset = at + 30 + nameLength + Le16(zip, at + 28);
    at = e.DataOffset + e.CompressedSize;
    entries.push_back(e);
  }
  return entries;
}

struct TDecoded {
  uint32_t Crc = 0;
  Bytes Output;
};

// Decodes one entry of `zip` the way the extraction of an item sets it up.
TDecoded Decode(const Bytes& zip, const TLocalEntry& e, const std::string& password = "",
                const TAbProgressCallback& progress = {}) {
  TMemoryStream archive;
  archive.WriteBuffer(zip.data(), int32_t(zip.size()));
  archive.SetPosition(int64_t(e.DataOffset));
  std::unique_ptr<TAbZDecoder> decoder;
  if (e.Flags & 1) {
    const uint32_t check = (e.Flags & 8) ? uint32_t(e.Time) << 16 : e.Crc;
    decoder = std::make_unique<TAbZDecoder>(password, archive, check, true);
  }
  TMemoryStream out;
  TDecoded result;
  {
    TAbUnzipHelper helper(archive, decoder.get(), out);
    helper.UncompressedSize = e.UncompressedSize;
    helper.CompressedSize = e.CompressedSize;
    helper.CompressionMethod = uint8_t(e.Method);
    helper.DictionarySize = (e.Flags & 2) ? 2 : 1;
    helper.ShannonFanoTreeCount = (e.Flags & 4) ? 3 : 2;
    helper.ProgressCallback = progress;
    result.Crc = helper.DecodeItem();
  }
  result.Output = out.Bytes();
  return result;
}

// A crafted stream of `method` standing alone.
TDecoded DecodeRaw(uint16_t method, const Bytes& data, uint32_t size, uint16_t flags = 0) {
  TLocalEntry e;
  e.Method = method;
  e.Flags = flags;
  e.CompressedSize = uint32_t(data.size());
  e.UncompressedSize = size;
  return Decode(data, e);
}

uint32_t CrcOf(const Bytes& data) {
  uint32_t crc = 0xFFFFFFFF;
  for (uint8_t byte : data) {
    crc ^= byte;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

// Builds a bit stream least significant bit first, as the legacy methods read it.
class TBitWriter {
 public:
  TBitWriter& Put(uint32_t value, int count) {
    for (int i = 0; i < count; ++i) Bit((value >> i) & 1);
    return *this;
  }
  // A Shannon-Fano code is sent from its first (most significant) bit on.
  TBitWriter& PutCode(uint32_t code, int length) {
    for (int i = length - 1; i >= 0; --i) Bit((code >> i) & 1);
    return *this;
  }
  TBitWriter& Bytes8(const Bytes& bytes) {
    for (uint8_t b : bytes) Put(b, 8);
    return *this;
  }
  Bytes Done() const { return FBytes; }

 private:
  void Bit(uint32_t bit) {
    if (FBit == 0) FBytes.push_back(0);
    FBytes.back() = uint8_t(FBytes.back() | bit << FBit);
    FBit = (FBit + 1) & 7;
  }
  Bytes FBytes;
  int FBit = 0;
};

struct TManifestRow {
  std::string Archive;
  std::string Entry;
  int Method = 0;
  uint32_t Usize = 0;
  uint32_t Crc = 0;
  std::string Password;
};

std::vector<TManifestRow> Manifest() {
  std::ifstream in(LegacyDir() + "/MANIFEST.tsv");
  std::vector<TManifestRow> rows;
  std::string line;
  std::getline(in, line);  // column names
  while (std::getline(in, line)) {
    std::vector<std::string> cells;
    std::stringstream fields(line);
    std::string cell;
    while (std::getline(fields, cell, '\t')) cells.push_back(cell);
    if (cells.size() < 8) continue;
    TManifestRow row;
    row.Archive = cells[0];
    row.Entry = cells[1];
    row.Method = std::stoi(cells[2]);
    row.Usize = uint32_t(std::stoul(cells[4]));
    row.Crc = uint32_t(std::stoul(cells[6], nullptr, 16));
    row.Password = cells.size() > 8 ? cells[8] : "";
    rows.push_back(row);
  }
  return rows;
}

std::optional<TLocalEntry> Find(const std::vector<TLocalEntry>& entries, const std::string& name) {
  for (const TLocalEntry& e : entries)
    if (e.Name == name) return e;
  return std::nullopt;
}

// Runs `action` and expects the data error of a corrupt stream.
template <class TAction>
void ExpectCorrupt(TAction action) {
  try {
    action();
    ADD_FAILURE() << "corrupt data was accepted";
  } catch (const EAbInflateError& e) {
    EXPECT_NE(e.Message().find("Corvel inflate error, possibly a corrupted compressed stream."),
              std::string::npos);
  }
}

}  // namespace

// ------------------------------------------------------------ fixtures

// Every Shrink, Reduce and Implode entry of our own archives, plain and
// encrypted, decodes to its CRC, size and (where we keep it) original bytes.
TEST(LegacyFixtures, OwnArchivesDecodeToTheirOriginals) {
  int decoded = 0;
  for (const TManifestRow& row : Manifest()) {
    if (row.Archive.rfind("pkzip/", 0) == 0) continue;
    SCOPED_TRACE(row.Archive + " " + row.Entry);
    const Bytes zip = ReadFile(LegacyDir() + "/" + row.Archive);
    ASSERT_FALSE(zip.empty());
    const std::optional<TLocalEntry> e = Find(LocalEntries(zip), row.Entry);
    ASSERT_TRUE(e);
    ASSERT_EQ(e->Method, row.Method);
    const TDecoded d = Decode(zip, *e, row.Password);
    EXPECT_EQ(d.Crc, row.Crc);
    EXPECT_EQ(d.Output.size(), row.Usize);
    EXPECT_EQ(d.Output, ReadFile(LegacyDir() + "/inputs/" + row.Entry));
    ++decoded;
  }
  EXPECT_EQ(decoded, 84);  // 72 plain and 12 encrypted entries in the manifest
}

// Archives made by PKZIP for DOS (partial clears of Shrink, real Reduce and
// Implode streams); not part of the repository.
TEST(LegacyFixtures, PkzipArchivesDecodeToTheirCrc) {
  if (!std::filesystem::exists(PkzipDir() + "/pkzip"))
    GTEST_SKIP() << "the PKZIP archives are not beside the repository (" << PkzipDir() << ")";
  for (const TManifestRow& row : Manifest()) {
    if (row.Archive.rfind("pkzip/", 0) != 0) continue;
    SCOPED_TRACE(row.Archive + " " + row.Entry);
    const Bytes zip = ReadFile(PkzipDir() + "/" + row.Archive);
    const std::optional<TLocalEntry> e = Find(LocalEntries(zip), row.Entry);
    ASSERT_TRUE(e);
    const TDecoded d = Decode(zip, *e, row.Password);
    EXPECT_EQ(d.Output.size(), row.Usize);
    EXPECT_EQ(d.Crc, row.Crc);
    EXPECT_EQ(CrcOf(d.Output), row.Crc);
  }
}

TEST(LegacyFixtures, WrongPasswordIsRefused) {
  for (const char* name : {"enc-shrink.zip", "enc-reduce1.zip", "enc-implode-8k3.zip"}) {
    SCOPED_TRACE(name);
    const Bytes zip = ReadFile(LegacyDir() + "/encrypted/" + name);
    const std::optional<TLocalEntry> e = Find(LocalEntries(zip), "text.txt");
    ASSERT_TRUE(e);
    // "legacypw2025" happens to pass none of the three check bytes.
    EXPECT_THROW(Decode(zip, *e, "legacypw2025"), EAbZipInvalidPassword);
  }
}

TEST(LegacyFixtures, ProgressIsReportedAndCanAbort) {
  const Bytes zip = ReadFile(LegacyDir() + "/generated/implode-8k3.zip");
  const std::optional<TLocalEntry> e = Find(LocalEntries(zip), "big.txt");
  ASSERT_TRUE(e);
  std::vector<int> seen;
  Decode(zip, *e, "", [&](uint8_t progress, bool&) { seen.push_back(progress); });
  ASSERT_FALSE(seen.empty());
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end());
  EXPECT_EQ(seen.back(), 100);

  TMemoryStream archive;
  archive.WriteBuffer(zip.data(), int32_t(zip.size()));
  archive.SetPosition(int64_t(e->DataOffset));
  TMemoryStream out;
  {
    TAbUnzipHelper helper(archive, nullptr, out);
    helper.UncompressedSize = e->UncompressedSize;
    helper.CompressedSize = e->CompressedSize;
    helper.CompressionMethod = 6;
    helper.DictionarySize = 2;
    helper.ShannonFanoTreeCount = 3;
    helper.ProgressCallback = [](uint8_t progress, bool& abort) { abort = progress >= 50; };
    EXPECT_THROW(helper.DecodeItem(), EAbUserAbort);
  }
  // What was decoded before the stop reached the destination.
  EXPECT_GE(out.Size(), int64_t(e->UncompressedSize) / 2);
  EXPECT_LT(out.Size(), int64_t(e->UncompressedSize));
}

// ------------------------------------------------------------ Shrink

TEST(LegacyShrink, CraftedStreams) {
  const struct {
    const char* Name;
    Bytes Stream;
    std::string Expected;
  } cases[] = {
      {"two literals", TBitWriter().Put('A', 9).Put('B', 9).Done(), "AB"},
      {"first code is the last input", TBitWriter().Put('Q', 9).Done(), "Q"},
      // 256,1: all later codes are one bit wider.
      {"code size up", TBitWriter().Put('A', 9).Put(256, 9).Put(1, 9).Put('B', 10).Done(), "AB"},
      // The code about to be defined: the previous string and its first byte.
      {"code not yet defined", TBitWriter().Put('A', 9).Put(257, 9).Done(), "AAA"},
      {"defined code", TBitWriter().Put('A', 9).Put('B', 9).Put(257, 9).Done(), "ABAB"},
      // 257=AB and 258=BC are leaves: 256,2 frees both and 257 is given out
      // again, to "CD".
      {"partial clear",
       TBitWriter()
           .Put('A', 9)
           .Put('B', 9)
           .Put('C', 9)
           .Put(256, 9)
           .Put(2, 9)
           .Put('D', 9)
           .Put(257, 9)
           .Done(),
       "ABCDCD"},
      // 257=AB is the prefix of 259=ABC and stays; 258=BA and 259 are
      // freed, and 258 is given out again, to "CD".
      {"partial clear keeps prefixes",
       TBitWriter()
           .Put('A', 9)
           .Put('B', 9)
           .Put(257, 9)
           .Put('C', 9)
           .Put(256, 9)
           .Put(2, 9)
           .Put('D', 9)
           .Put(257, 9)
           .Put(258, 9)
           .Done(),
       "ABABCDABCD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const TDecoded d = DecodeRaw(1, c.Stream, uint32_t(c.Expected.size()));
    EXPECT_EQ(d.Output, Text(c.Expected));
    EXPECT_EQ(d.Crc, CrcOf(Text(c.Expected)));
  }
}

TEST(LegacyShrink, EmptyItem) {
  const TDecoded d = DecodeRaw(1, {}, 0);
  EXPECT_TRUE(d.Output.empty());
  EXPECT_EQ(d.Crc, 0u);
}

TEST(LegacyShrink, CorruptStreams) {
  TBitWriter tooWide;
  tooWide.Put('A', 9);
  for (int size = 9; size <= 13; ++size) tooWide.Put(256, size).Put(1, size);
  tooWide.Put('B', 14);
  const struct {
    const char* Name;
    Bytes Stream;
    uint32_t Size;
  } cases[] = {
      {"first code not a byte", TBitWriter().Put(300, 9).Put('A', 9).Done(), 3},
      {"code size above 13 bits", tooWide.Done(), 2},
      // 257 is freed while it is the previous code; a later undefined code
      // then falls back to it forever.
      {"endless string",
       TBitWriter().Put('A', 9).Put(257, 9).Put(256, 9).Put(2, 9).Put(300, 9).Done(), 100000},
      {"ends early", TBitWriter().Put('A', 9).Put('B', 9).Done(), 3},
      {"runs past the size", TBitWriter().Put('A', 9).Put('B', 9).Put('C', 9).Done(), 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ExpectCorrupt([&] { DecodeRaw(1, c.Stream, c.Size); });
  }
}

// ------------------------------------------------------------ Reduce

namespace {

// Follower sets (from byte 255 down to 0), all empty but those given.
TBitWriter ReduceHeader(uint8_t withSet = 0, const Bytes& set = {}, uint32_t count = 0) {
  TBitWriter w;
  for (int c = 255; c >= 0; --c) {
    if (c == withSet && (count || !set.empty())) {
      w.Put(count ? count : uint32_t(set.size()), 6).Bytes8(set);
    } else {
      w.Put(0, 6);
    }
  }
  return w;
}

}  // namespace

TEST(LegacyReduce, CraftedStreams) {
  const Bytes hundreds = [] {
    Bytes b(300);
    // Odd (never the 144 marker) and different 256 bytes apart.
    for (size_t i = 0; i < b.size(); ++i) b[i] = uint8_t(((i * 7) % 251) | 1);
    return b;
  }();
  Bytes farCopy = hundreds;
  farCopy.insert(farCopy.end(), hundreds.begin(), hundreds.begin() + 5);
  const struct {
    const char* Name;
    uint16_t Method;
    Bytes Stream;
    Bytes Expected;
  } cases[] = {
      {"plain bytes", 2, ReduceHeader().Bytes8(Text("abc")).Done(), Text("abc")},
      {"144 then 0 is one 144",
       2,
       ReduceHeader().Bytes8({'x', 144, 0, 'y'}).Done(),
       {'x', 144, 'y'}},
      // V = 2: length 2 + 3 from one byte back.
      {"short match", 2, ReduceHeader().Bytes8({'a', 144, 2, 0}).Done(), Text("aaaaaa")},
      // Low 7 bits all ones: one more byte adds to the length (127 + 10 + 3).
      {"long match", 2, ReduceHeader().Bytes8({'a', 144, 0x7F, 10, 0}).Done(), Bytes(141, 'a')},
      {"match before the start gives zeros", 2, ReduceHeader().Bytes8({144, 1, 9}).Done(),
       Bytes(4, 0)},
      // Factor 4: the high nibble of V is distance / 256.
      {"factor 4 far match", 5, ReduceHeader().Bytes8(hundreds).Bytes8({144, 0x12, 43}).Done(),
       farCopy},
      // The set of byte 0 (the "last byte" at the start) is x, y, z: bit 1
      // and 8 bits give any byte, bit 0 and a 2-bit index pick from the set;
      // after z (empty set) 8 bits follow directly.
      {"follower set",
       2,
       ReduceHeader(0, Text("xyz")).Put(1, 1).Put(0, 8).Put(0, 1).Put(2, 2).Put('q', 8).Done(),
       {0, 'z', 'q'}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const TDecoded d = DecodeRaw(c.Method, c.Stream, uint32_t(c.Expected.size()));
    EXPECT_EQ(d.Output, c.Expected);
    EXPECT_EQ(d.Crc, CrcOf(c.Expected));
  }
}

TEST(LegacyReduce, CorruptStreams) {
  const struct {
    const char* Name;
    Bytes Stream;
    uint32_t Size;
  } cases[] = {
      {"follower set above 32", ReduceHeader(0, Bytes(33, 'x')).Put('a', 8).Done(), 1},
      {"follower index beyond the set", ReduceHeader(0, Text("xyz")).Put(0, 1).Put(3, 2).Done(), 1},
      {"follower sets cut short", Bytes(100, 0), 0},
      {"ends early", ReduceHeader().Bytes8(Text("ab")).Done(), 3},
      {"match runs past the size", ReduceHeader().Bytes8({'a', 144, 2, 0}).Done(), 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ExpectCorrupt([&] { DecodeRaw(2, c.Stream, c.Size); });
  }
}

// ------------------------------------------------------------ Implode

namespace {

// A tree of `count` entries that all have `length` bits (runs of 16).
TBitWriter& FlatTree(TBitWriter& w, int count, int length) {
  w.Put(uint32_t(count / 16 - 1), 8);
  for (int i = 0; i < count / 16; ++i) w.Put(uint32_t(0xF0 | (length - 1)), 8);
  return w;
}

// The code of symbol v in such a tree: codes are given out from the last
// entry up, so v has (count - 1 - v).
TBitWriter& Symbol(TBitWriter& w, int count, int length, int v) {
  return w.PutCode(uint32_t(count - 1 - v), length);
}

// Literal a, then a match at distance `distance` (1-based) of length symbol `lengthSymbol`.
Bytes ImplodeStream(bool literalTree, int lowBits, int distance, int lengthSymbol, int extra) {
  TBitWriter w;
  if (literalTree) FlatTree(w, 256, 8);
  FlatTree(w, 64, 6);  // lengths
  FlatTree(w, 64, 6);  // distances
  w.Put(1, 1);
  if (literalTree)
    Symbol(w, 256, 8, 'a');
  else
    w.Put('a', 8);
  w.Put(0, 1).Put(uint32_t(distance - 1) & ((1u << lowBits) - 1), lowBits);
  Symbol(w, 64, 6, (distance - 1) >> lowBits);
  Symbol(w, 64, 6, lengthSymbol);
  if (lengthSymbol == 63) w.Put(uint32_t(extra), 8);
  return w.Done();
}

Bytes ThenCopy(const std::string& start, size_t length, size_t distance) {
  Bytes out = Text(start);
  for (size_t i = 0; i < length; ++i) {
    const size_t at = out.size();
    out.push_back(at >= distance ? out[at - distance] : 0);
  }
  return out;
}

}  // namespace

TEST(LegacyImplode, CraftedStreams) {
  const struct {
    const char* Name;
    uint16_t Flags;
    Bytes Stream;
    Bytes Expected;
  } cases[] = {
      // Two trees: literals are plain bytes and the shortest match is 2.
      {"2 trees, 4K", 0, ImplodeStream(false, 6, 1, 0, 0), Text("aaa")},
      // Three trees: the shortest match is 3.
      {"3 trees, 4K", 4, ImplodeStream(true, 6, 1, 0, 0), Text("aaaa")},
      // Length symbol 63 takes 8 more bits: 63 + 10 + 2.
      {"length 63 + extra", 0, ImplodeStream(false, 6, 1, 63, 10), Bytes(76, 'a')},
      // 8 KiB dictionary: 7 low distance bits; distance 200 reaches before the start.
      {"8K, before the start", 2, ImplodeStream(false, 7, 200, 1, 0), ThenCopy("a", 3, 200)},
      {"4K, before the start", 0, ImplodeStream(false, 6, 4000, 5, 0), ThenCopy("a", 7, 4000)},
      {"8K, 3 trees", 6, ImplodeStream(true, 7, 1, 2, 0), Text("aaaaaa")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const TDecoded d = DecodeRaw(6, c.Stream, uint32_t(c.Expected.size()), c.Flags);
    EXPECT_EQ(d.Output, c.Expected);
    EXPECT_EQ(d.Crc, CrcOf(c.Expected));
  }
}

TEST(LegacyImplode, CorruptStreams) {
  auto tree = [](std::vector<uint8_t> runs) {
    TBitWriter w;
    w.Put(uint32_t(runs.size() - 1), 8);
    for (uint8_t r : runs) w.Put(r, 8);
    return w;
  };
  auto withRest = [](TBitWriter w) {
    FlatTree(w, 64, 6);
    w.Put(1, 1).Put('a', 8);
    return w.Done();
  };
  const Bytes valid = ImplodeStream(false, 6, 1, 0, 0);
  const struct {
    const char* Name;
    Bytes Stream;
    uint32_t Size;
  } cases[] = {
      {"runs name more entries than the tree", withRest(tree({0xF5, 0xF5, 0xF5, 0xF5, 0xF5})), 1},
      {"runs leave entries without a code", withRest(tree({0xF5})), 1},
      {"over-subscribed lengths", withRest(tree({0xF4, 0xF4, 0xF4, 0xF4})), 1},
      {"incomplete lengths", withRest(tree({0xF6, 0xF6, 0xF6, 0xF6})), 1},
      {"trees cut short", Bytes(valid.begin(), valid.begin() + 6), 1},
      {"ends early", valid, 4},
      {"match runs past the size", valid, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ExpectCorrupt([&] { DecodeRaw(6, c.Stream, c.Size); });
  }
}

// ------------------------------------------------------------ DecodeItem

TEST(LegacyDecodeItem, UnsupportedMethod) {
  for (uint16_t method : {0, 7, 8, 9, 12}) {
    SCOPED_TRACE(method);
    try {
      DecodeRaw(method, Bytes(10, 0), 5);
      ADD_FAILURE() << "accepted";
    } catch (const EAbZipInvalidMethod& e) {
      EXPECT_EQ(e.Message(), "Cannot extract file - unsupported compression method");
    }
  }
}

TEST(LegacyDecodeItem, ArchiveEndingBeforeTheCompressedSizeIsAReadError) {
  TLocalEntry e;
  e.Method = 1;
  e.CompressedSize = 50;
  e.UncompressedSize = 100;
  const Bytes stream = TBitWriter().Put('A', 9).Put('B', 9).Done();
  try {
    Decode(stream, e);
    ADD_FAILURE() << "accepted";
  } catch (const EAbReadError& error) {
    EXPECT_EQ(error.Message(), "Error reading archive");
  }
}

TEST(LegacyDecodeItem, Method1WritesAtTheDestinationsPosition) {
  const Bytes stream = TBitWriter().Put('A', 9).Put('B', 9).Done();
  TMemoryStream archive;
  archive.WriteBuffer(stream.data(), int32_t(stream.size()));
  archive.SetPosition(0);
  TMemoryStream out;
  out.WriteBuffer("xyz", 3);
  TAbUnzipHelper helper(archive, nullptr, out);
  helper.CompressionMethod = 1;
  helper.UncompressedSize = 2;
  EXPECT_EQ(helper.DecodeItem(), CrcOf(Text("AB")));
  EXPECT_EQ(out.Bytes(), Text("xyzAB"));
}

// A spanned set goes on reading in the next volume when the current one ends.
TEST(LegacyDecodeItem, SpannedItemContinuesInTheNextVolume) {
  const Bytes zip = ReadFile(LegacyDir() + "/generated/implode-8k2.zip");
  const std::optional<TLocalEntry> e = Find(LocalEntries(zip), "text.txt");
  ASSERT_TRUE(e);
  const size_t split = e->DataOffset + 1000;
  TMemoryStream first;
  first.WriteBuffer(zip.data(), int32_t(split));
  first.SetPosition(int64_t(e->DataOffset));
  TMemoryStream second;
  second.WriteBuffer(zip.data() + split, int32_t(zip.size() - split));
  second.SetPosition(0);
  const Bytes expected = ReadFile(LegacyDir() + "/inputs/text.txt");

  std::vector<int> disks;
  TMemoryStream out;
  TAbUnzipHelper helper(first, nullptr, out);
  helper.CompressionMethod = 6;
  helper.DictionarySize = 2;
  helper.ShannonFanoTreeCount = 2;
  helper.CompressedSize = e->CompressedSize;
  helper.UncompressedSize = e->UncompressedSize;
  helper.Spanned = true;
  helper.CurrentDisk = 3;
  helper.OnOpenVolume = [&](uint16_t disk) -> TStream& {
    disks.push_back(disk);
    return second;
  };
  EXPECT_EQ(helper.DecodeItem(), e->Crc);
  EXPECT_EQ(out.Bytes(), expected);
  EXPECT_EQ(disks, std::vector<int>{4});

  // Without a way to open the next volume the set cannot be read on.
  first.SetPosition(int64_t(e->DataOffset));
  TMemoryStream out2;
  TAbUnzipHelper stuck(first, nullptr, out2);
  stuck.CompressionMethod = 6;
  stuck.DictionarySize = 2;
  stuck.CompressedSize = e->CompressedSize;
  stuck.UncompressedSize = e->UncompressedSize;
  stuck.Spanned = true;
  EXPECT_THROW(stuck.DecodeItem(), EAbZipBadSpanStream);
}

// Random damage to real streams: any outcome but a crash, a hang or more
// output than the item's size. Run under the sanitizers to see the first two.
TEST(LegacyDecodeItem, MutatedStreamsFailCleanly) {
  const struct {
    const char* Archive;
    const char* Entry;
    const char* Password;
  } sources[] = {
      {"generated/shrink.zip", "text.txt", ""},
      {"generated/reduce1.zip", "text.txt", ""},
      {"generated/reduce4.zip", "text.txt", ""},
      {"generated/implode-4k2.zip", "text.txt", ""},
      {"generated/implode-8k3.zip", "text.txt", ""},
      {"encrypted/enc-shrink.zip", "text.txt", "legacypw2024"},
  };
  std::mt19937 random(20240611);
  int failures = 0;
  int runs = 0;
  for (const auto& source : sources) {
    SCOPED_TRACE(source.Archive);
    const Bytes zip = ReadFile(LegacyDir() + "/" + source.Archive);
    const std::optional<TLocalEntry> found = Find(LocalEntries(zip), source.Entry);
    ASSERT_TRUE(found);
    for (int round = 0; round < 150; ++round) {
      Bytes damaged = zip;
      TLocalEntry e = *found;
      std::uniform_int_distribution<size_t> place(e.DataOffset,
                                                  e.DataOffset + e.CompressedSize - 1);
      const int flips = 1 + int(random() % 4);
      for (int k = 0; k < flips; ++k) damaged[place(random)] ^= uint8_t(1 + random() % 255);
      if (round % 5 == 0) e.CompressedSize = uint32_t(random() % e.CompressedSize);
      ++runs;
      try {
        const TDecoded d = Decode(damaged, e, source.Password);
        EXPECT_EQ(d.Output.size(), e.UncompressedSize);
      } catch (const Exception&) {
        ++failures;
      }
    }
  }
  // Most damage is noticed by the decoders themselves.
  EXPECT_GT(failures, runs / 2);
}

// ------------------------------------------------------------ window stream

namespace {

Bytes Ramp(size_t size) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = uint8_t(i * 31 + i / 256);
  return b;
}

std::string ExceptionText(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

}  // namespace

TEST(SlidingWindow, PassesEverythingOnAndKeepsTheRecentPast) {
  const Bytes data = Ramp(100000);
  TMemoryStream out;
  out.WriteBuffer("old", 3);
  {
    TabSlidingWindowStream window(out);
    size_t at = 0;
    for (size_t chunk : {1000, 7192, 1, 32768, 20000, 5000, 33839}) {
      const int32_t n = window.Write(data.data() + at, int32_t(chunk));
      EXPECT_EQ(n, int32_t(std::min<size_t>(chunk, 32768)));
      at += size_t(n);
    }
    while (at < data.size())
      at += size_t(window.Write(data.data() + at, int32_t(data.size() - at)));
    EXPECT_EQ(window.Size(), int64_t(data.size()));
    EXPECT_EQ(window.Position(), int64_t(data.size()));
    // 32768 bytes back are always there; read across chunk borders.
    const int64_t back = int64_t(data.size()) - 32768;
    EXPECT_EQ(window.Seek(back, soFromBeginning), back);
    Bytes read(40000);
    EXPECT_EQ(window.Read(read.data(), 40000), 32768);
    read.resize(32768);
    EXPECT_EQ(read, Bytes(data.begin() + back, data.end()));
    EXPECT_EQ(window.Seek(-10, soFromEnd), int64_t(data.size()) - 10);
    EXPECT_EQ(window.Seek(3, soFromCurrent), int64_t(data.size()) - 7);
    EXPECT_EQ(window.Read(read.data(), 100), 7);
  }
  // The window starts the output at offset 0 of the destination.
  EXPECT_EQ(out.Bytes(), data);
}

TEST(SlidingWindow, BeforeTheStartReadsZeros) {
  TMemoryStream out;
  TabSlidingWindowStream window(out);
  window.Write("abc", 3);
  EXPECT_EQ(window.Seek(-32768, soFromBeginning), -32768);
  uint8_t b[4] = {9, 9, 9, 9};
  EXPECT_EQ(window.Read(b, 2), 2);
  EXPECT_EQ(b[0], 0);
  EXPECT_EQ(b[1], 0);
}

TEST(SlidingWindow, Refusals) {
  TMemoryStream out;
  TabSlidingWindowStream window(out);
  const Bytes data = Ramp(50000);
  window.Write(data.data(), 32768);
  window.Write(data.data() + 32768, 17232);
  // 50000 bytes written: the window starts at 49152 - 32768 = 16384.
  EXPECT_EQ(window.Seek(16384, soFromBeginning), 16384);
  EXPECT_EQ(ExceptionText([&] { window.Seek(16383, soFromBeginning); }),
            "TabSlidingWindowStream.Seek: invalid new position");
  EXPECT_EQ(ExceptionText([&] { window.Seek(1, soFromEnd); }),
            "TabSlidingWindowStream.Seek: invalid new position");
  EXPECT_EQ(ExceptionText([&] { window.Seek(0, 3); }),
            "TabSlidingWindowStream.Seek: invalid origin");
  window.Seek(20000, soFromBeginning);
  EXPECT_EQ(ExceptionText([&] { window.Write("x", 1); }),
            "TabSlidingWindowStream.Write: Not at end of stream");
}

namespace {

class TRefusingStream : public TMemoryStream {
 public:
  int32_t Write(const void*, int32_t) override { return 0; }
};

}  // namespace

TEST(SlidingWindow, WriteFailureReachesTheCaller) {
  TRefusingStream out;
  TabSlidingWindowStream window(out);
  const Bytes data = Ramp(32768);
  window.Write(data.data(), 32768);
  window.Write(data.data(), 8191);
  // The chunk that leaves the window is written now.
  EXPECT_EQ(ExceptionText([&] { window.Write(data.data(), 1); }),
            "TabSlidingWindowStream.bsWriteChunk: write failed");
}

TEST(SlidingWindow, ReduceIntoARefusingDestinationFails) {
  TRefusingStream out;
  TMemoryStream archive;
  const Bytes stream = ReduceHeader().Bytes8(Text("abc")).Done();
  archive.WriteBuffer(stream.data(), int32_t(stream.size()));
  archive.SetPosition(0);
  TAbUnzipHelper helper(archive, nullptr, out);
  helper.CompressionMethod = 2;
  helper.UncompressedSize = 3;
  EXPECT_EQ(ExceptionText([&] { helper.DecodeItem(); }),
            "TabSlidingWindowStream.bsWriteChunk: write failed");
}
