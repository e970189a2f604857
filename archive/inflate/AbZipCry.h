// The self-contained decrypter of the legacy method decoders: it verifies the
// encryption header with its own password-retry loop and then decrypts input
// blocks in place.
#pragma once

#include <cstdint>
#include <string>

#include "archive/AbZipTyp.h"  // TAbNeedPasswordEvent, shared with the archive
#include "archive/inflate/AbDfCryS.h"
#include "platform/Classes.h"

class TAbZDecoder {
 public:
  // aStream (not owned) stands at the item's 12-byte encryption header.
  // With aCheckByteOnly only byte 11 of the header is compared with
  // aCheckValue, otherwise bytes 10 and 11.
  TAbZDecoder(const std::string& aPassword, TStream& aStream, uint32_t aCheckValue,
              bool aCheckByteOnly);
  virtual ~TAbZDecoder() = default;

  // Tries the password up to PasswordRetries times (at least once), asking
  // for a new one after each failed try. Returns true with the stream just
  // after the header and the keys ready for DecryptBuffer; raises
  // EAbZipInvalidPassword when no try succeeded. A header cut short by the
  // end of the stream never verifies.
  bool CheckPassword();
  // Decrypts `aCount` bytes in place, continuing the key state.
  void DecryptBuffer(void* aBuffer, int32_t aCount);
  // Calls OnNeedPassword with aPassword; without a handler raises
  // EAbZipInvalidPassword.
  virtual void AskPassword(std::string& aPassword);

  TAbNeedPasswordEvent OnNeedPassword;
  std::string Password;
  uint8_t PasswordRetries = 3;

 private:
  bool TryPassword(int64_t headerPosition);

  TAbZipKeys FKeys;
  TAbZipEncryptHeader FHeader{};
  uint32_t FCheckValue;
  bool FCheckByteOnly;
  TStream& FStream;
};
