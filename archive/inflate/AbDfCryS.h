// The traditional PKWARE stream cipher of ZIP items: the key state, the two
// engines that make and verify the 12-byte encryption header, and the stream
// wrappers the stored-item and Deflate code read and write through.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/AbUtils.h"
#include "platform/Classes.h"

// The 12 bytes in front of every encrypted item's data.
using TAbZipEncryptHeader = std::array<uint8_t, 12>;

// ------------------------------------------------------------ key state

// The three cipher keys. Encrypt and Decrypt take the mask from the current
// keys and then update them with the plain byte. The per-byte steps are
// inline: the cipher runs over every byte of every backup.
struct TAbZipKeys {
  uint32_t Key0 = 0x12345678;
  uint32_t Key1 = 0x23456789;
  uint32_t Key2 = 0x34567890;

  // Initial values, then updated with every byte of `passphrase` in order.
  void Reset(const std::string& passphrase);

  void Update(uint8_t plain) {
    Key0 = CrcStep(Key0, plain);
    Key1 = (Key1 + (Key0 & 0xFF)) * 134775813u + 1u;
    Key2 = CrcStep(Key2, uint8_t(Key1 >> 24));
  }
  uint8_t Mask() const {
    const uint32_t t = (Key2 & 0xFFFF) | 2;
    return uint8_t((t * (t ^ 1)) >> 8);
  }
  uint8_t Encrypt(uint8_t plain) {
    const uint8_t cipher = plain ^ Mask();
    Update(plain);
    return cipher;
  }
  uint8_t Decrypt(uint8_t cipher) {
    const uint8_t plain = cipher ^ Mask();
    Update(plain);
    return plain;
  }
  // Decrypt over `count` bytes in place. Each byte's mask needs the keys
  // the byte before left, so the steps are arranged for the shortest chain
  // from one byte to the next.
  void DecryptBuffer(uint8_t* bytes, size_t count);

 private:
  // AbCrcByte, without the call.
  static uint32_t CrcStep(uint32_t crc, uint8_t b) {
    return AbCrc32Table[(crc ^ b) & 0xFF] ^ (crc >> 8);
  }
};

// --------------------------------------------------------------- engines

class TAbZipEncryptEngine {
 public:
  // Fills `aHeader` with 10 random bytes and bytes 16-23 and 24-31 of
  // `aCheckValue`, all encrypted, and leaves the keys where the data begins.
  // The random bytes come from the process-wide generator (Random(256)).
  // An empty passphrase is a contract violation.
  void CreateHeader(TAbZipEncryptHeader& aHeader, const std::string& aPassphrase,
                    uint32_t aCheckValue);
  // Encrypts `aCount` bytes in place, continuing the key state; a count of 0
  // or less changes nothing. Before CreateHeader: a contract violation.
  void EncodeBuffer(void* aBuffer, int32_t aCount);
  bool Ready() const { return FReady; }

 private:
  bool FReady = false;
  TAbZipKeys FKeys;
};

class TAbZipDecryptEngine {
 public:
  // Decrypts a copy of `aHeader` with `aPassphrase` and compares byte 11 with
  // bits 24-31 of `aCheckValue`. True leaves the keys where the data begins;
  // the engine is ready exactly when the last call returned true. An empty
  // passphrase is a contract violation.
  bool VerifyHeader(const TAbZipEncryptHeader& aHeader, const std::string& aPassphrase,
                    uint32_t aCheckValue);
  // Decrypts `aCount` bytes in place, continuing the key state. Before a
  // successful VerifyHeader: a contract violation.
  void Decode(void* aBuffer, int32_t aCount);
  bool Ready() const { return FReady; }

 private:
  bool FReady = false;
  TAbZipKeys FKeys;
};

// --------------------------------------------------------------- streams

// Write-only stream that encrypts into `aStream` (not owned). The header goes
// out at construction, at aStream's current position, so the object exists
// only once the whole header is written (EWriteError otherwise).
class TAbDfEncryptStream : public TStream {
 public:
  TAbDfEncryptStream(TStream& aStream, uint32_t aCheckValue, const std::string& aPassphrase);

  // A contract violation: the stream is write-only.
  int32_t Read(void* Buffer, int32_t Count) override;
  // Encrypts a copy of `Buffer` (left unchanged) and returns what aStream's
  // Write reports. The keys advance over all of Count even when aStream takes
  // fewer bytes, so a short count leaves the stream unusable.
  int32_t Write(const void* Buffer, int32_t Count) override;
  // Passed to aStream unchanged; the key state is not touched.
  int64_t Seek(int64_t Offset, int Origin) override;

  // Size of the work buffer: the largest Write seen so far (never shrinks).
  int32_t WorkBufferSize() const { return int32_t(FBuffer.size()); }

 private:
  std::vector<uint8_t> FBuffer;
  std::unique_ptr<TAbZipEncryptEngine> FEngine;
  TStream& FStream;
};

// Read-only stream that decrypts what it reads from `aStream` (not owned).
// CheckHeader must have returned true before the first Read.
class TAbDfDecryptStream : public TStream {
 public:
  // Stores the values; reads nothing.
  TAbDfDecryptStream(TStream& aStream, uint32_t aCheckValue, const std::string& aPassphrase);

  // Reads the 12 header bytes (EReadError when fewer are left) and verifies
  // them. False: aStream is moved back to the header's first byte.
  bool CheckHeader();
  // Reads up to Count bytes from aStream and decrypts them in place.
  int32_t Read(void* Buffer, int32_t Count) override;
  // A contract violation: the stream is read-only.
  int32_t Write(const void* Buffer, int32_t Count) override;
  // Passed to aStream unchanged.
  int64_t Seek(int64_t Offset, int Origin) override;

 private:
  uint32_t FCheckValue;
  std::unique_ptr<TAbZipDecryptEngine> FEngine;
  std::string FPassphrase;
  bool FReady = false;
  TStream& FStream;
};
