// Shared helpers of the Inflate tests: running the decoder over bytes, and
// writing streams bit by bit.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/deflate/AbDfBase.h"
#include "archive/deflate/AbDfStrm.h"
#include "archive/inflate/AbDfDec.h"
#include "platform/Classes.h"

namespace inflate_test {

inline std::vector<uint8_t> ReadTestData(const std::string& name) {
  const char* root = std::getenv("ZELVORA_TEST_SOURCE_DIR");
  const std::string path = std::string(root != nullptr ? root : "tests") + "/data/" + name;
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
}

struct TResult {
  std::vector<uint8_t> output;
  uint32_t checksum = 0;
};

// Inflates all of `compressed` with the options of `helper` (may be null).
inline TResult InflateBytes(const std::vector<uint8_t>& compressed,
                            TAbDeflateHelper* helper = nullptr) {
  TMemoryStream source;
  source.Write(compressed.data(), int32_t(compressed.size()));
  source.SetPosition(0);
  TMemoryStream dest;
  TResult result;
  result.checksum = Inflate(&source, &dest, helper);
  result.output = dest.Bytes();
  return result;
}

inline uint32_t Crc32Of(const std::vector<uint8_t>& data) {
  return UpdateCrc32(0xFFFFFFFF, data.data(), int32_t(data.size())) ^ 0xFFFFFFFF;
}

// Writes a stream field by field. Huffman codes are given as RFC 1951
// writes them (most significant bit first) and go out reversed.
class TBitWriter {
 public:
  TBitWriter() : FBits(std::make_unique<TAbDfOutBitStream>(&FStream)) {}
  TBitWriter& Bits(uint32_t value, int32_t count) {
    FBits->WriteBits(value, count);
    return *this;
  }
  TBitWriter& Code(uint32_t code, int32_t length) {
    uint32_t reversed = 0;
    for (int32_t i = 0; i < length; ++i) reversed |= ((code >> i) & 1) << (length - 1 - i);
    FBits->WriteBits(reversed, length);
    return *this;
  }
  TBitWriter& Align() {
    FBits->AlignToByte();
    return *this;
  }
  TBitWriter& Byte(uint8_t value) { return Bits(value, 8); }
  std::vector<uint8_t> Bytes() {
    FBits->Finish();
    return FStream.Bytes();
  }

 private:
  TMemoryStream FStream;
  std::unique_ptr<TAbDfOutBitStream> FBits;
};

// Fixed-code helpers (RFC 1951 3.2.6).
inline void FixedLiteral(TBitWriter& w, uint32_t symbol) {
  if (symbol <= 143)
    w.Code(0x30 + symbol, 8);
  else if (symbol <= 255)
    w.Code(0x190 + symbol - 144, 9);
  else if (symbol <= 279)
    w.Code(symbol - 256, 7);
  else
    w.Code(0xC0 + symbol - 280, 8);
}

}  // namespace inflate_test
