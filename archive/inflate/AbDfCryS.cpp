#include "archive/inflate/AbDfCryS.h"

#include <cstring>

#include "platform/Random.h"
#include "platform/SysUtils.h"

// ------------------------------------------------------------ TAbZipKeys

void TAbZipKeys::Reset(const std::string& passphrase) {
  *this = TAbZipKeys();
  for (const char c : passphrase) Update(uint8_t(c));
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
  TAbZipKeys keys = FKeys;
  uint8_t* bytes = static_cast<uint8_t*>(aBuffer);
  for (int32_t i = 0; i < aCount; ++i) bytes[i] = keys.Decrypt(bytes[i]);
  FKeys = keys;
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
