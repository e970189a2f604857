#include "archive/inflate/AbDfCryS.h"

#include <cstring>

#include "platform/Random.h"
#include "platform/SysUtils.h"

namespace {

constexpr uint32_t kKey1Multiplier = 134775813u;

// The mask of every key 2: it depends on bits 2..15 only (bit 1 is forced
// on, and t * (t ^ 1) is the same for both values of bit 0).
constexpr std::array<uint8_t, 16384> MakeMaskTable() {
  std::array<uint8_t, 16384> table{};
  for (uint32_t i = 0; i < 16384; ++i) {
    const uint32_t t = i << 2 | 2;
    table[i] = uint8_t((t * (t ^ 1)) >> 8);
  }
  return table;
}
constexpr std::array<uint8_t, 16384> kMaskTable = MakeMaskTable();

// Of each CRC table entry: the low byte (what key 1 takes of the new key 0),
// and bits 2..15 (what the mask takes of the new key 2).
struct TCrcParts {
  std::array<uint8_t, 256> Low{};
  std::array<uint16_t, 256> MaskBits{};
};
TCrcParts MakeCrcParts() {
  TCrcParts parts;
  for (size_t i = 0; i < 256; ++i) {
    parts.Low[i] = uint8_t(AbCrc32Table[i]);
    parts.MaskBits[i] = uint16_t((AbCrc32Table[i] >> 2) & 0x3FFF);
  }
  return parts;
}

}  // namespace

// ------------------------------------------------------------ TAbZipKeys

void TAbZipKeys::Reset(const std::string& passphrase) {
  *this = TAbZipKeys();
  for (const char c : passphrase) Update(uint8_t(c));
}

void TAbZipKeys::DecryptBuffer(uint8_t* bytes, size_t count) {
  static const TCrcParts parts = MakeCrcParts();
  uint32_t key0 = Key0;
  uint32_t key1 = Key1;
  uint32_t key2 = Key2;
  uint32_t maskIndex = (key2 >> 2) & 0x3FFF;
  for (size_t i = 0; i < count; ++i) {
    // Everything that does not wait for the mask is worked out beside it;
    // what waits takes its parts of the CRC steps from small tables.
    const uint32_t cipher = bytes[i];
    const uint32_t key0Index = (key0 ^ cipher) & 0xFF;
    const uint32_t key1Part = key1 * kKey1Multiplier + 1u;
    const uint32_t mask = kMaskTable[maskIndex];
    bytes[i] = uint8_t(cipher ^ mask);
    const uint32_t index0 = key0Index ^ mask;
    key1 = key1Part + (parts.Low[index0] ^ ((key0 >> 8) & 0xFF)) * kKey1Multiplier;
    key0 = AbCrc32Table[index0] ^ (key0 >> 8);
    const uint32_t index2 = (key2 & 0xFF) ^ (key1 >> 24);
    maskIndex = parts.MaskBits[index2] ^ ((key2 >> 10) & 0x3FFF);
    key2 = AbCrc32Table[index2] ^ (key2 >> 8);
  }
  Key0 = key0;
  Key1 = key1;
  Key2 = key2;
}

// --------------------------------------------------- TAbZipEncryptEngine

void TAbZipEncryptEngine::CreateHeader(TAbZipEncryptHeader& aHeader, const std::string& aPassphrase,
                                       uint32_t aCheckValue) {
  ZASSERT(!aPassphrase.empty(), "TAbZipEncryptEngine.CreateHeader: need a passphrase");
  // The first pass only scrambles the generator's bytes, so the header does
  // not expose the generator's raw output; the second pass is the encryption.
  FKeys.Reset(aPassphrase);
  for (int i = 0; i < 10; ++i) aHeader[i] = FKeys.Encrypt(uint8_t(Random(256)));
  FKeys.Reset(aPassphrase);
  for (int i = 0; i < 10; ++i) aHeader[i] = FKeys.Encrypt(aHeader[i]);
  aHeader[10] = FKeys.Encrypt(uint8_t(aCheckValue >> 16));
  aHeader[11] = FKeys.Encrypt(uint8_t(aCheckValue >> 24));
  FReady = true;
}

void TAbZipEncryptEngine::EncodeBuffer(void* aBuffer, int32_t aCount) {
  ZASSERT(FReady, "TAbZipEncryptEngine.EncodeBuffer: must call CreateHeader first");
  TAbZipKeys keys = FKeys;
  uint8_t* bytes = static_cast<uint8_t*>(aBuffer);
  for (int32_t i = 0; i < aCount; ++i) bytes[i] = keys.Encrypt(bytes[i]);
  FKeys = keys;
}

// --------------------------------------------------- TAbZipDecryptEngine

bool TAbZipDecryptEngine::VerifyHeader(const TAbZipEncryptHeader& aHeader,
                                       const std::string& aPassphrase, uint32_t aCheckValue) {
  ZASSERT(!aPassphrase.empty(), "TAbZipDecryptEngine.VerifyHeader: need a passphrase");
  FKeys.Reset(aPassphrase);
  TAbZipEncryptHeader plain = aHeader;
  for (uint8_t& b : plain) b = FKeys.Decrypt(b);
  FReady = plain[11] == uint8_t(aCheckValue >> 24);
  return FReady;
}

void TAbZipDecryptEngine::Decode(void* aBuffer, int32_t aCount) {
  ZASSERT(FReady, "TAbZipDecryptEngine.Decode: must successfully call VerifyHeader first");
  if (aCount > 0) FKeys.DecryptBuffer(static_cast<uint8_t*>(aBuffer), size_t(aCount));
}

// ---------------------------------------------------- TAbDfEncryptStream

TAbDfEncryptStream::TAbDfEncryptStream(TStream& aStream, uint32_t aCheckValue,
                                       const std::string& aPassphrase)
    : FEngine(std::make_unique<TAbZipEncryptEngine>()), FStream(aStream) {
  TAbZipEncryptHeader header;
  FEngine->CreateHeader(header, aPassphrase, aCheckValue);
  FStream.WriteBuffer(header.data(), int32_t(header.size()));
}

int32_t TAbDfEncryptStream::Read(void*, int32_t) {
  ZASSERT(false, "TAbDfEncryptStream.Read: the stream is write-only");
  return 0;
}

int32_t TAbDfEncryptStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  if (size_t(Count) > FBuffer.size()) {
    FBuffer = std::vector<uint8_t>();  // the old contents are not needed
    FBuffer.resize(size_t(Count));
  }
  std::memcpy(FBuffer.data(), Buffer, size_t(Count));
  FEngine->EncodeBuffer(FBuffer.data(), Count);
  return FStream.Write(FBuffer.data(), Count);
}

int64_t TAbDfEncryptStream::Seek(int64_t Offset, int Origin) {
  return FStream.Seek(Offset, Origin);
}

// ---------------------------------------------------- TAbDfDecryptStream

TAbDfDecryptStream::TAbDfDecryptStream(TStream& aStream, uint32_t aCheckValue,
                                       const std::string& aPassphrase)
    : FCheckValue(aCheckValue),
      FEngine(std::make_unique<TAbZipDecryptEngine>()),
      FPassphrase(aPassphrase),
      FStream(aStream) {}

bool TAbDfDecryptStream::CheckHeader() {
  TAbZipEncryptHeader header;
  FStream.ReadBuffer(header.data(), int32_t(header.size()));
  FReady = FEngine->VerifyHeader(header, FPassphrase, FCheckValue);
  if (!FReady) FStream.Seek(-int64_t(header.size()), soFromCurrent);
  return FReady;
}

int32_t TAbDfDecryptStream::Read(void* Buffer, int32_t Count) {
  ZASSERT(FReady, "TAbDfDecryptStream.Read: the stream header has not been verified");
  const int32_t n = FStream.Read(Buffer, Count);
  FEngine->Decode(Buffer, n);
  return n;
}

int32_t TAbDfDecryptStream::Write(const void*, int32_t) {
  ZASSERT(false, "TAbDfDecryptStream.Write: the stream is read-only");
  return 0;
}

int64_t TAbDfDecryptStream::Seek(int64_t Offset, int Origin) {
  return FStream.Seek(Offset, Origin);
}
