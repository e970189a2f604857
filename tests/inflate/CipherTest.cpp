#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "archive/AbExcept.h"
#include "archive/inflate/AbDfCryS.h"
#include "archive/inflate/AbZipCry.h"
#include "platform/Classes.h"
#include "platform/Random.h"
#include "platform/SysUtils.h"

namespace {

const std::string kPassword = "735296482913572";
using Bytes = std::vector<uint8_t>;

Bytes Pattern(size_t size) {
  Bytes data(size);
  for (size_t i = 0; i < size; ++i) data[i] = uint8_t((i * 7 + i / 251) & 0xFF);
  return data;
}

// What TAbDfEncryptStream writes for `plain`, with the generator at `seed`.
Bytes Encrypt(const Bytes& plain, uint32_t checkValue, const std::string& password,
              uint32_t seed = 20240611) {
  SetRandSeed(seed);
  TMemoryStream out;
  TAbDfEncryptStream encrypt(out, checkValue, password);
  encrypt.WriteBuffer(plain.data(), int32_t(plain.size()));
  return out.Bytes();
}

TMemoryStream StreamOf(const Bytes& bytes) {
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), int32_t(bytes.size()));
  stream.SetPosition(0);
  return stream;
}

// Expects `action` to fail the contract with exactly `message`.
void ExpectAssertion(const std::function<void()>& action, const std::string& message) {
  try {
    action();
    ADD_FAILURE() << "no assertion failure, expected: " << message;
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.FixedMessage(), message);
  }
}

// A temporary host folder removed at the end of the test.
class TTempDir {
 public:
  TTempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "zelvora-cipher-XXXXXX").string();
    FPath = ::mkdtemp(pattern.data());
  }
  ~TTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  std::string operator/(const std::string& name) const { return FPath + "/" + name; }
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool HaveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

uint16_t Le16(const Bytes& b, size_t at) {
  return uint16_t(b[at] | b[at + 1] << 8);
}
uint32_t Le32(const Bytes& b, size_t at) {
  return uint32_t(Le16(b, at)) | uint32_t(Le16(b, at + 2)) << 16;
}

// An independent ZipCrypto decrypter (the ZIP application note's algorithm,
// with its own CRC table): prints the 12 plain header bytes and the data.
const char* kPythonOracle = R"PY(
import sys
table = []
for n in range(256):
    c = n
    for _ in range(8):
        c = (c >> 1) ^ 0xEDB88320 if c & 1 else c >> 1
    table.append(c)
def crc(c, b):
    return (c >> 8) ^ table[(c ^ b) & 0xFF]
k = [0x12345678, 0x23456789, 0x34567890]
def update(b):
    k[0] = crc(k[0], b)
    k[1] = ((k[1] + (k[0] & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
    k[2] = crc(k[2], k[1] >> 24)
for ch in sys.argv[2].encode('latin-1'):
    update(ch)
out = bytearray()
for c in open(sys.argv[1], 'rb').read():
    t = (k[2] & 0xFFFF) | 2
    p = c ^ (((t * (t ^ 1)) >> 8) & 0xFF)
    update(p)
    out.append(p)
sys.stdout.write(out.hex())
)PY";

Bytes RunPythonOracle(const TTempDir& dir, const Bytes& encrypted, const std::string& password) {
  WriteFile(dir / "oracle.py", Bytes(kPythonOracle, kPythonOracle + std::strlen(kPythonOracle)));
  WriteFile(dir / "data.bin", encrypted);
  const std::string command =
      "python3 '" + (dir / "oracle.py") + "' '" + (dir / "data.bin") + "' '" + password + "'";
  Bytes plain;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return plain;
  std::string hex;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) hex.append(chunk, n);
  ::pclose(pipe);
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    plain.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return plain;
}

}  // namespace

// ------------------------------------------------------------ oracles

TEST(CipherOracle, PythonDecryptsWhatTheEncryptStreamWrote) {
  if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
  TTempDir dir;
  const struct {
    size_t Size;
    uint32_t CheckValue;
  } cases[] = {{0, 0x5A3C0000}, {1, 0x12345678}, {1000, 0xABCD0000}, {70000, 0x7E210000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Size);
    const Bytes plain = Pattern(c.Size);
    const Bytes encrypted = Encrypt(plain, c.CheckValue, kPassword);
    ASSERT_EQ(encrypted.size(), plain.size() + 12);
    const Bytes decrypted = RunPythonOracle(dir, encrypted, kPassword);
    ASSERT_EQ(decrypted.size(), encrypted.size());
    EXPECT_EQ(decrypted[10], uint8_t(c.CheckValue >> 16));
    EXPECT_EQ(decrypted[11], uint8_t(c.CheckValue >> 24));
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), decrypted.begin() + 12));
  }
}

// Info-ZIP zip encrypts a stored file; our decrypting stream reads it back.
TEST(CipherOracle, DecryptStreamReadsInfoZipEncryptedData) {
  if (!HaveTool("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
  TTempDir dir;
  const Bytes plain = Pattern(5000);
  WriteFile(dir / "file.bin", plain);
  const std::string command =
      "cd '" + dir.Path() + "' && zip -q -0 -P " + kPassword + " out.zip file.bin >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const Bytes zip = ReadFile(dir / "out.zip");
  ASSERT_GE(zip.size(), 30u);
  ASSERT_EQ(Le32(zip, 0), 0x04034b50u);
  const uint16_t flags = Le16(zip, 6);
  ASSERT_EQ(flags & 1, 1);
  // With a data descriptor (bit 3) the check byte comes from the DOS time.
  const uint32_t checkValue = (flags & 8) ? uint32_t(Le16(zip, 10)) << 16 : Le32(zip, 14);
  const size_t data = 30 + Le16(zip, 26) + Le16(zip, 28);

  TMemoryStream archive = StreamOf(zip);
  archive.SetPosition(int64_t(data));
  TAbDfDecryptStream decrypt(archive, checkValue, kPassword);
  ASSERT_TRUE(decrypt.CheckHeader());
  Bytes read(plain.size());
  decrypt.ReadBuffer(read.data(), int32_t(read.size()));
  EXPECT_EQ(read, plain);
}

// ------------------------------------------------------------ engines

TEST(CipherEngine, HeaderCarriesTheCheckBytes) {
  SetRandSeed(77);
  TAbZipEncryptEngine encrypt;
  TAbZipEncryptHeader header;
  encrypt.CreateHeader(header, kPassword, 0xABCD1234);
  EXPECT_TRUE(encrypt.Ready());

  TAbZipKeys keys;
  keys.Reset(kPassword);
  TAbZipEncryptHeader plain = header;
  for (uint8_t& b : plain) b = keys.Decrypt(b);
  EXPECT_EQ(plain[10], 0xCD);
  EXPECT_EQ(plain[11], 0xAB);

  TAbZipDecryptEngine decrypt;
  EXPECT_TRUE(decrypt.VerifyHeader(header, kPassword, 0xAB000000));
  EXPECT_TRUE(decrypt.Ready());
  EXPECT_FALSE(decrypt.VerifyHeader(header, kPassword, 0xAA000000));
  EXPECT_FALSE(decrypt.Ready());
}

TEST(CipherEngine, ConsecutiveHeadersDiffer) {
  SetRandSeed(5);
  TAbZipEncryptEngine engine;
  TAbZipEncryptHeader first;
  TAbZipEncryptHeader second;
  engine.CreateHeader(first, kPassword, 0x11220000);
  engine.CreateHeader(second, kPassword, 0x11220000);
  EXPECT_NE(first, second);
  EXPECT_NE(std::vector<uint8_t>(first.begin() + 10, first.end()),
            std::vector<uint8_t>(second.begin() + 10, second.end()));
}

TEST(CipherEngine, FixedSeedReproducesTheHeader) {
  const Bytes a = Encrypt(Pattern(10), 0x01020000, kPassword, 99);
  const Bytes b = Encrypt(Pattern(10), 0x01020000, kPassword, 99);
  const Bytes c = Encrypt(Pattern(10), 0x01020000, kPassword, 100);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
}

TEST(CipherEngine, OtherPassphrasesRarelyVerify) {
  SetRandSeed(1234);
  TAbZipEncryptEngine encrypt;
  TAbZipEncryptHeader header;
  encrypt.CreateHeader(header, kPassword, 0x9F000000);
  TAbZipDecryptEngine decrypt;
  int passed = 0;
  for (int i = 0; i < 2000; ++i)
    if (decrypt.VerifyHeader(header, "wrong" + std::to_string(i), 0x9F000000)) ++passed;
  // One in 256 on average: about 8 of 2000.
  EXPECT_LT(passed, 30);
  EXPECT_FALSE(decrypt.VerifyHeader(header, "wrong", 0x9F000000) &&
               decrypt.VerifyHeader(header, "Wrong", 0x9F000000) &&
               decrypt.VerifyHeader(header, "wrong!", 0x9F000000));
}

TEST(CipherEngine, TwoCallsEncryptLikeOne) {
  const Bytes plain = Pattern(300);
  SetRandSeed(3);
  TAbZipEncryptEngine one;
  TAbZipEncryptHeader h1;
  one.CreateHeader(h1, kPassword, 0);
  Bytes whole = plain;
  one.EncodeBuffer(whole.data(), int32_t(whole.size()));

  SetRandSeed(3);
  TAbZipEncryptEngine two;
  TAbZipEncryptHeader h2;
  two.CreateHeader(h2, kPassword, 0);
  Bytes split = plain;
  two.EncodeBuffer(split.data(), 123);
  two.EncodeBuffer(split.data() + 123, int32_t(split.size() - 123));
  two.EncodeBuffer(split.data(), 0);
  two.EncodeBuffer(split.data(), -5);
  EXPECT_EQ(h1, h2);
  EXPECT_EQ(whole, split);
  EXPECT_NE(whole, plain);

  TAbZipDecryptEngine decrypt;
  ASSERT_TRUE(decrypt.VerifyHeader(h1, kPassword, 0));
  decrypt.Decode(whole.data(), 10);
  decrypt.Decode(whole.data() + 10, int32_t(whole.size() - 10));
  EXPECT_EQ(whole, plain);
}

TEST(CipherEngine, BufferDecryptionMatchesTheByteSteps) {
  // Random cipher bytes walk the keys through many states; the buffer loop
  // takes its mask and key parts from tables and must agree byte for byte.
  for (const std::string passphrase : {"a", "735296482913572", "\xff\x01 pass"}) {
    SCOPED_TRACE(passphrase);
    TAbZipKeys stepped;
    stepped.Reset(passphrase);
    TAbZipKeys buffered = stepped;
    SetRandSeed(11);
    Bytes data(5000);
    for (uint8_t& b : data) b = uint8_t(Random(256));
    Bytes expected = data;
    for (uint8_t& b : expected) b = stepped.Decrypt(b);
    buffered.DecryptBuffer(data.data(), 1);
    buffered.DecryptBuffer(data.data() + 1, 0);
    buffered.DecryptBuffer(data.data() + 1, data.size() - 1);
    EXPECT_EQ(data, expected);
    EXPECT_EQ(buffered.Key0, stepped.Key0);
    EXPECT_EQ(buffered.Key1, stepped.Key1);
    EXPECT_EQ(buffered.Key2, stepped.Key2);
  }
}

TEST(CipherEngine, ContractViolations) {
  TAbZipEncryptHeader header{};
  ExpectAssertion(
      [&] {
        TAbZipEncryptEngine e;
        e.CreateHeader(header, "", 0);
      },
      "TAbZipEncryptEngine.CreateHeader: need a passphrase");
  ExpectAssertion(
      [&] {
        TAbZipEncryptEngine e;
        e.EncodeBuffer(header.data(), 1);
      },
      "TAbZipEncryptEngine.EncodeBuffer: must call CreateHeader first");
  ExpectAssertion(
      [&] {
        TAbZipDecryptEngine d;
        d.VerifyHeader(header, "", 0);
      },
      "TAbZipDecryptEngine.VerifyHeader: need a passphrase");
  ExpectAssertion(
      [&] {
        TAbZipDecryptEngine d;
        d.Decode(header.data(), 1);
      },
      "TAbZipDecryptEngine.Decode: must successfully call VerifyHeader first");
  // A failed verification leaves the engine not ready.
  SetRandSeed(8);
  TAbZipEncryptEngine e;
  e.CreateHeader(header, kPassword, 0x42000000);
  ExpectAssertion(
      [&] {
        TAbZipDecryptEngine d;
        ASSERT_TRUE(d.VerifyHeader(header, kPassword, 0x42000000));
        ASSERT_FALSE(d.VerifyHeader(header, kPassword, 0x43000000));
        d.Decode(header.data(), 1);
      },
      "TAbZipDecryptEngine.Decode: must successfully call VerifyHeader first");
}

// ------------------------------------------------------------ streams

TEST(CipherStreams, RoundTripAndWrongPassword) {
  const Bytes plain = Pattern(10000);
  const Bytes encrypted = Encrypt(plain, 0x3C5A0000, kPassword);
  TMemoryStream archive = StreamOf(encrypted);

  TAbDfDecryptStream wrong(archive, 0x3C5A0000, "not the password");
  EXPECT_FALSE(wrong.CheckHeader());
  EXPECT_EQ(archive.Position(), 0);
  ExpectAssertion([&] { wrong.Read(nullptr, 0); },
                  "TAbDfDecryptStream.Read: the stream header has not been verified");

  TAbDfDecryptStream right(archive, 0x3C5A0000, kPassword);
  ASSERT_TRUE(right.CheckHeader());
  EXPECT_EQ(archive.Position(), 12);
  Bytes read(plain.size() + 100);
  const int32_t n = right.Read(read.data(), int32_t(read.size()));
  ASSERT_EQ(n, int32_t(plain.size()));
  read.resize(size_t(n));
  EXPECT_EQ(read, plain);
}

TEST(CipherStreams, EmptyItemIsTheHeaderAlone) {
  const Bytes encrypted = Encrypt({}, 0x77660000, kPassword);
  EXPECT_EQ(encrypted.size(), 12u);
  TMemoryStream archive = StreamOf(encrypted);
  TAbDfDecryptStream decrypt(archive, 0x77660000, kPassword);
  ASSERT_TRUE(decrypt.CheckHeader());
  uint8_t b;
  EXPECT_EQ(decrypt.Read(&b, 1), 0);
}

TEST(CipherStreams, ShortHeaderIsAReadError) {
  const Bytes encrypted = Encrypt({}, 0, kPassword);
  TMemoryStream archive = StreamOf(Bytes(encrypted.begin(), encrypted.begin() + 11));
  TAbDfDecryptStream decrypt(archive, 0, kPassword);
  EXPECT_THROW(decrypt.CheckHeader(), EReadError);
}

TEST(CipherStreams, EncryptStreamKeepsTheCallersBufferAndGrowsOnce) {
  SetRandSeed(11);
  TMemoryStream out;
  TAbDfEncryptStream encrypt(out, 0x10200000, kPassword);
  EXPECT_EQ(out.Size(), 12);
  const Bytes plain = Pattern(150);
  Bytes first(plain.begin(), plain.begin() + 100);
  const Bytes firstCopy = first;
  EXPECT_EQ(encrypt.Write(first.data(), 100), 100);
  EXPECT_EQ(first, firstCopy);
  EXPECT_EQ(encrypt.WorkBufferSize(), 100);
  EXPECT_EQ(encrypt.Write(plain.data() + 100, 50), 50);
  EXPECT_EQ(encrypt.WorkBufferSize(), 100);
  EXPECT_EQ(out.Size(), 162);
  EXPECT_EQ(encrypt.Seek(0, soFromCurrent), 162);
  EXPECT_EQ(encrypt.Seek(5, soFromBeginning), 5);
  EXPECT_EQ(out.Position(), 5);

  TMemoryStream archive = StreamOf(out.Bytes());
  TAbDfDecryptStream decrypt(archive, 0x10200000, kPassword);
  ASSERT_TRUE(decrypt.CheckHeader());
  Bytes read(150);
  decrypt.ReadBuffer(read.data(), 150);
  EXPECT_EQ(read, plain);
}

TEST(CipherStreams, StreamContracts) {
  SetRandSeed(12);
  TMemoryStream out;
  TAbDfEncryptStream encrypt(out, 0, kPassword);
  uint8_t b = 0;
  ExpectAssertion([&] { encrypt.Read(&b, 1); },
                  "TAbDfEncryptStream.Read: the stream is write-only");
  TAbDfDecryptStream decrypt(out, 0, kPassword);
  ExpectAssertion([&] { decrypt.Write(&b, 1); },
                  "TAbDfDecryptStream.Write: the stream is read-only");
  ExpectAssertion([&] { TAbDfEncryptStream(out, 0, ""); },
                  "TAbZipEncryptEngine.CreateHeader: need a passphrase");
}

namespace {

// Takes at most `room` bytes, then refuses.
class TFullStream : public TMemoryStream {
 public:
  explicit TFullStream(int32_t room) : FRoom(room) {}
  int32_t Write(const void* buffer, int32_t count) override {
    const int32_t n = std::min(count, FRoom);
    FRoom -= n;
    return TMemoryStream::Write(buffer, n);
  }

 private:
  int32_t FRoom;
};

}  // namespace

TEST(CipherStreams, HeaderThatCannotBeWrittenIsAWriteError) {
  TFullStream full(5);
  EXPECT_THROW(TAbDfEncryptStream(full, 0, kPassword), EWriteError);
}

// ------------------------------------------------------------ TAbZDecoder

namespace {

const uint32_t kCheck = 0xC0DE0000 | 0x1234;

Bytes EncryptedItem() {
  return Encrypt(Pattern(64), kCheck, kPassword, 4242);
}

}  // namespace

TEST(ZDecoder, RightPasswordDecryptsInPlace) {
  const Bytes item = EncryptedItem();
  TMemoryStream archive = StreamOf(item);
  TAbZDecoder decoder(kPassword, archive, kCheck, false);
  decoder.PasswordRetries = 0;  // still one try
  EXPECT_TRUE(decoder.CheckPassword());
  EXPECT_EQ(archive.Position(), 12);
  Bytes data(item.begin() + 12, item.end());
  decoder.DecryptBuffer(data.data(), 20);
  decoder.DecryptBuffer(data.data() + 20, int32_t(data.size() - 20));
  EXPECT_EQ(data, Pattern(64));
}

TEST(ZDecoder, WrongPasswordWithoutHandlerFailsAtOnce) {
  const Bytes item = EncryptedItem();
  TMemoryStream archive = StreamOf(item);
  TAbZDecoder decoder("wrong", archive, kCheck, false);
  EXPECT_THROW(decoder.CheckPassword(), EAbZipInvalidPassword);
  try {
    decoder.CheckPassword();
  } catch (const EAbZipInvalidPassword& e) {
    EXPECT_EQ(e.Message(), "Cannot extract file - invalid password");
    EXPECT_EQ(e.ErrorCode, 4);
  }
}

TEST(ZDecoder, RetryLoop) {
  const Bytes item = EncryptedItem();
  const struct {
    uint8_t Retries;
    std::vector<std::string> Answers;  // what the handler answers, in turn
    bool Succeeds;
    int Asked;
  } cases[] = {
      {3, {kPassword}, true, 1},
      {3, {"a", kPassword}, true, 2},
      // Three tries: the third answer is asked for but never tried.
      {3, {"a", "b", kPassword}, false, 3},
      {0, {kPassword}, false, 1},
      {1, {kPassword}, false, 1},
      {2, {kPassword}, true, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << int(c.Retries) << " retries, " << c.Answers.size() << " answers");
    TMemoryStream archive = StreamOf(item);
    TAbZDecoder decoder("first wrong", archive, kCheck, true);
    decoder.PasswordRetries = c.Retries;
    int asked = 0;
    decoder.OnNeedPassword = [&](std::string& password) {
      EXPECT_EQ(password, asked == 0 ? "first wrong" : c.Answers[size_t(asked - 1)]);
      password = c.Answers[size_t(std::min<size_t>(size_t(asked), c.Answers.size() - 1))];
      ++asked;
    };
    if (c.Succeeds) {
      EXPECT_TRUE(decoder.CheckPassword());
      EXPECT_EQ(archive.Position(), 12);
      EXPECT_EQ(decoder.Password, kPassword);
    } else {
      EXPECT_THROW(decoder.CheckPassword(), EAbZipInvalidPassword);
    }
    EXPECT_EQ(asked, c.Asked);
  }
}

TEST(ZDecoder, TwoByteCheck) {
  // Byte 10 carries bits 16-23 of the check value; only the two-byte mode
  // looks at it.
  const Bytes item = EncryptedItem();
  const uint32_t otherLowByte = (kCheck & 0xFF000000) | 0x00110000;
  {
    TMemoryStream archive = StreamOf(item);
    TAbZDecoder decoder(kPassword, archive, otherLowByte, true);
    EXPECT_TRUE(decoder.CheckPassword());
  }
  {
    TMemoryStream archive = StreamOf(item);
    TAbZDecoder decoder(kPassword, archive, otherLowByte, false);
    EXPECT_THROW(decoder.CheckPassword(), EAbZipInvalidPassword);
  }
}

TEST(ZDecoder, ShortHeaderNeverVerifies) {
  const Bytes item = EncryptedItem();
  for (size_t size : {0, 1, 11}) {
    SCOPED_TRACE(size);
    TMemoryStream archive = StreamOf(Bytes(item.begin(), item.begin() + long(size)));
    TAbZDecoder decoder(kPassword, archive, kCheck, true);
    EXPECT_THROW(decoder.CheckPassword(), EAbZipInvalidPassword);
  }
}

TEST(ZDecoder, StartsAtTheStreamsPosition) {
  Bytes item = {1, 2, 3};
  const Bytes encrypted = EncryptedItem();
  item.insert(item.end(), encrypted.begin(), encrypted.end());
  TMemoryStream archive = StreamOf(item);
  archive.SetPosition(3);
  TAbZDecoder decoder("wrong", archive, kCheck, true);
  decoder.OnNeedPassword = [](std::string& password) { password = kPassword; };
  EXPECT_TRUE(decoder.CheckPassword());
  EXPECT_EQ(archive.Position(), 15);
}
