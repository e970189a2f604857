#include "archive/inflate/AbZipCry.h"

#include "archive/AbExcept.h"

TAbZDecoder::TAbZDecoder(const std::string& aPassword, TStream& aStream, uint32_t aCheckValue,
                         bool aCheckByteOnly)
    : Password(aPassword),
      FCheckValue(aCheckValue),
      FCheckByteOnly(aCheckByteOnly),
      FStream(aStream) {}

bool TAbZDecoder::TryPassword(int64_t headerPosition) {
  FKeys.Reset(Password);
  FStream.Seek(headerPosition, soFromBeginning);
  FHeader.fill(0);
  const int32_t n = FStream.Read(FHeader.data(), int32_t(FHeader.size()));
  for (uint8_t& b : FHeader) b = FKeys.Decrypt(b);
  // A short header is rejected outright: the zero fill could otherwise pass
  // the one-byte check by chance.
  if (n != int32_t(FHeader.size())) return false;
  return FHeader[11] == uint8_t(FCheckValue >> 24) &&
         (FCheckByteOnly || FHeader[10] == uint8_t(FCheckValue >> 16));
}

bool TAbZDecoder::CheckPassword() {
  const int64_t headerPosition = FStream.Position();
  bool ok = false;
  int attempt = 0;
  do {
    ok = TryPassword(headerPosition);
    if (!ok) AskPassword(Password);
    ++attempt;
  } while (!ok && attempt < PasswordRetries);
  if (!ok) throw EAbZipInvalidPassword();
  return true;
}

void TAbZDecoder::DecryptBuffer(void* aBuffer, int32_t aCount) {
  if (aCount > 0) FKeys.DecryptBuffer(static_cast<uint8_t*>(aBuffer), size_t(aCount));
}

void TAbZDecoder::AskPassword(std::string& aPassword) {
  if (!OnNeedPassword) throw EAbZipInvalidPassword();
  OnNeedPassword(aPassword);
}
