#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/CodePages.h"

namespace {

// Runs a python3 program and returns its output; empty when python3 is missing.
std::string Python(const std::string& program) {
  const std::string command = "python3 -c '" + program + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return std::string();
  std::string output;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  return ::pclose(pipe) == 0 ? output : std::string();
}

std::string Byte(int value) {
  return std::string(1, char(value));
}

}  // namespace

TEST(CodePages, UpperHalfAgreesWithPythonsCp857) {
  // One line per byte 0x80..0xFF: the UTF-8 of python's reading, or "?" where
  // the page leaves the byte unassigned.
  const std::string oracle = Python(
      "import sys\n"
      "for b in range(128, 256):\n"
      "    try: c = bytes([b]).decode(\"cp857\")\n"
      "    except UnicodeDecodeError: c = \"?\"\n"
      "    sys.stdout.buffer.write(c.encode(\"utf-8\") + b\"\\n\")\n");
  if (oracle.empty()) GTEST_SKIP() << "python3 is not available";
  size_t start = 0;
  for (int b = 0x80; b <= 0xFF; ++b) {
    const size_t end = oracle.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    std::string expected = oracle.substr(start, end - start);
    start = end + 1;
    if (b == 0xD5) expected = "\u20AC";  // the euro sign of the later revision
    SCOPED_TRACE(b);
    EXPECT_EQ(OemToCharA(Byte(b)), expected);
  }
}

TEST(CodePages, EveryAssignedByteSurvivesTheRoundTrip) {
  for (int b = 0; b < 256; ++b) {
    if (b == 0xE7 || b == 0xF2) continue;  // unassigned: they read as '?'
    SCOPED_TRACE(b);
    EXPECT_EQ(CharToOemA(OemToCharA(Byte(b))), Byte(b));
  }
  EXPECT_EQ(OemToCharA(Byte(0xE7) + Byte(0xF2)), "??");
}

TEST(CodePages, TurkishTextAgreesWithPython) {
  const std::string turkish = "Yedek ŞşĞğİıÇçÖöÜü Başlat";
  const std::string oracle =
      Python("import sys; sys.stdout.buffer.write(\"" + turkish + "\".encode(\"cp857\"))");
  if (oracle.empty()) GTEST_SKIP() << "python3 is not available";
  EXPECT_EQ(CharToOemA(turkish), oracle);
  EXPECT_EQ(OemToCharA(oracle), turkish);
}

TEST(CodePages, CharactersCp857LacksAndBrokenUtf8BecomeQuestionMarks) {
  struct TCase {
    std::string Ansi;
    std::string Oem;
  };
  const TCase cases[] = {
      {"a\u20ACb", "a" + Byte(0xD5) + "b"},
      {"\u2713x\U0001F600", "?x?"},
      {"\xFFx", "?x"},
      {"\xC5", "?"},             // cut short
      {"\xC0\xAF", "??"},        // overlong '/'
      {"\xC5\x9F", Byte(0x9F)},  // ş
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Ansi);
    EXPECT_EQ(CharToOemA(c.Ansi), c.Oem);
  }
}

TEST(CodePages, AnsiIsUtf8) {
  EXPECT_TRUE(AreFileApisANSI());
  EXPECT_TRUE(IsAscii("C:\\Zelvora\\Data\\x.mdf"));
  EXPECT_TRUE(IsAscii(""));
  EXPECT_FALSE(IsAscii("Başlat"));
}
