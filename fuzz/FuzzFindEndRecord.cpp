// FindEndRecord and VerifyZip on any file. An independent scan says where
// the end record is; the stream must be left on it, or where it was.
//
// Input: a byte for the stream's starting position, a byte k putting k * 512
// zero bytes before the rest (so short inputs reach past the 64 KiB + 22 bytes that are
// searched), then the file's bytes.
#include <vector>

#include "archive/AbZipTyp.h"
#include "fuzz/FuzzSupport.h"

namespace {

constexpr int64_t kFooterSize = TAbZipDirectoryFileFooter::FixedSize;
constexpr int64_t kSearched = 65536 + kFooterSize;

// The last "PK\5\6" within the searched tail whose comment fits after it.
int64_t ExpectedEndRecord(const std::vector<uint8_t>& file) {
  const int64_t size = int64_t(file.size());
  const int64_t first = std::max<int64_t>(0, size - kSearched);
  for (int64_t at = size - kFooterSize; at >= first; --at) {
    const uint8_t* p = &file[size_t(at)];
    if (p[0] != 'P' || p[1] != 'K' || p[2] != 5 || p[3] != 6) continue;
    const int64_t comment = p[20] | p[21] << 8;
    if (size - at - kFooterSize >= comment) return at;
  }
  return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput input(data, size);
  const uint8_t start = input.Byte();
  std::vector<uint8_t> file(size_t(input.Byte()) * 512, 0);
  file.insert(file.end(), input.Rest(), input.Rest() + input.RestSize());

  TMemoryStream stream;
  if (!file.empty()) stream.WriteBuffer(file.data(), int32_t(file.size()));
  const int64_t before = std::min<int64_t>(start, int64_t(file.size()));
  stream.SetPosition(before);

  const int64_t found = TAbZipArchive::FindEndRecord(stream);
  FUZZ_CHECK(found == ExpectedEndRecord(file), "FindEndRecord differs from the scan");
  FUZZ_CHECK(stream.Position() == (found == -1 ? before : found),
             "FindEndRecord left the stream elsewhere");

  stream.SetPosition(before);
  const int kind = VerifyZip(stream);
  FUZZ_CHECK(kind >= 0 && kind <= 2, "VerifyZip gave an unknown kind");
  FUZZ_CHECK(stream.Position() == before, "VerifyZip moved the stream");
  if (found != -1) {
    stream.SetPosition(found);
    TAbZipDirectoryFileFooter footer;
    footer.ReadFrom(stream);
    FUZZ_CHECK(footer.IsValid(), "the end record found does not read as one");
    FUZZ_CHECK(stream.Position() == found + footer.RecordSize(), "the end record read too far");
  }
  return 0;
}
