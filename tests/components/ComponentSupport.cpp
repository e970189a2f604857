#include "ComponentSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

TTempDrive::TTempDrive() {
  char pattern[] = "/tmp/zipper-XXXXXX";
  const char* made = ::mkdtemp(pattern);
  if (made == nullptr) throw std::runtime_error("mkdtemp failed");
  FRoot = made;
  const char* old = std::getenv("ZELVORA_DRIVE_C");
  FHadOldDrive = old != nullptr;
  if (old != nullptr) FOldDrive = old;
  ::setenv("ZELVORA_DRIVE_C", FRoot.c_str(), 1);
}

TTempDrive::~TTempDrive() {
  std::string output;
  RunCommand("chmod -R u+w " + ShellQuote(FRoot) + "; rm -rf " + ShellQuote(FRoot), output);
  if (FHadOldDrive)
    ::setenv("ZELVORA_DRIVE_C", FOldDrive.c_str(), 1);
  else
    ::unsetenv("ZELVORA_DRIVE_C");
}

std::string TTempDrive::Host(const std::string& relative) const {
  return FRoot + "/" + relative;
}

void TTempDrive::Write(const std::string& relative, const std::string& bytes) const {
  const std::string path = Host(relative);
  std::string output;
  RunCommand("mkdir -p \"$(dirname " + ShellQuote(path) + ")\"", output);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string TTempDrive::Read(const std::string& relative) const {
  std::ifstream file(Host(relative), std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

bool TTempDrive::Exists(const std::string& relative) const {
  struct stat info;
  return ::stat(Host(relative).c_str(), &info) == 0;
}

void TTempDrive::MakeFolder(const std::string& relative) const {
  std::string output;
  RunCommand("mkdir -p " + ShellQuote(Host(relative)), output);
}

int RunCommand(const std::string& command, std::string& output) {
  output.clear();
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, n);
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveTool(const std::string& name) {
  std::string output;
  return RunCommand("command -v " + name, output) == 0;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

namespace {

uint32_t NextRandom(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

uint16_t U16(const std::string& bytes, size_t at) {
  if (at + 2 > bytes.size()) throw std::runtime_error("record cut short");
  return uint16_t(uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8);
}

uint32_t U32(const std::string& bytes, size_t at) {
  return uint32_t(U16(bytes, at)) | uint32_t(U16(bytes, at + 2)) << 16;
}

}  // namespace

std::string WordBytes(size_t length, uint32_t seed) {
  static const char* const kWords[] = {"eczane ",  "ilaç ", "reçete ", "stok ",    "fatura ",
                                       "müşteri ", "kasa ", "depo ",   "Zelvora ", "\r\n"};
  std::string text;
  uint32_t state = seed;
  while (text.size() < length) text += kWords[NextRandom(state) % 10];
  text.resize(length);
  return text;
}

std::string NoiseBytes(size_t length, uint32_t seed) {
  std::string bytes(length, '\0');
  uint32_t state = seed;
  for (char& c : bytes) c = char(NextRandom(state) & 0xFF);
  return bytes;
}

std::vector<TRecordedEntry> ReadEntries(const std::string& hostArchive) {
  std::ifstream file(hostArchive, std::ios::binary);
  std::ostringstream buffer;
  buffer << file.rdbuf();
  const std::string bytes = buffer.str();
  if (bytes.size() < 22) throw std::runtime_error("no end record");
  const size_t end = bytes.size() - 22;  // the engine writes no archive comment here
  if (U32(bytes, end) != 0x06054B50) throw std::runtime_error("no end record");
  const uint16_t total = U16(bytes, end + 10);
  size_t at = U32(bytes, end + 16);

  std::vector<TRecordedEntry> entries;
  for (uint16_t i = 0; i < total; ++i) {
    if (U32(bytes, at) != 0x02014B50) throw std::runtime_error("bad central header");
    TRecordedEntry e;
    e.VersionNeeded = U16(bytes, at + 6);
    e.Flags = U16(bytes, at + 8);
    e.Method = U16(bytes, at + 10);
    e.Time = U16(bytes, at + 12);
    e.Date = U16(bytes, at + 14);
    e.Crc = U32(bytes, at + 16);
    e.CompressedSize = U32(bytes, at + 20);
    e.UncompressedSize = U32(bytes, at + 24);
    const uint16_t nameLength = U16(bytes, at + 28);
    const uint16_t extraLength = U16(bytes, at + 30);
    const uint16_t commentLength = U16(bytes, at + 32);
    e.InternalAttributes = U16(bytes, at + 36);
    e.ExternalAttributes = U32(bytes, at + 38);
    const uint32_t local = U32(bytes, at + 42);
    e.Name = bytes.substr(at + 46, nameLength);
    at += 46 + nameLength + extraLength + commentLength;

    if (U32(bytes, local) != 0x04034B50) throw std::runtime_error("bad local header");
    e.LocalMatches = U16(bytes, local + 4) == e.VersionNeeded && U16(bytes, local + 6) == e.Flags &&
                     U16(bytes, local + 8) == e.Method && U16(bytes, local + 10) == e.Time &&
                     U16(bytes, local + 12) == e.Date && U32(bytes, local + 14) == e.Crc &&
                     U32(bytes, local + 18) == e.CompressedSize &&
                     U32(bytes, local + 22) == e.UncompressedSize;
    const size_t data = local + 30 + U16(bytes, local + 26) + U16(bytes, local + 28);
    if (data + e.CompressedSize > bytes.size()) throw std::runtime_error("data cut short");
    e.Data = bytes.substr(data, e.CompressedSize);
    const size_t after = data + e.CompressedSize;
    const bool nextIsRecord = after + 4 <= bytes.size() &&
                              (U32(bytes, after) == 0x04034B50 || U32(bytes, after) == 0x02014B50);
    e.HasDescriptor =
        !nextIsRecord && after + 16 <= bytes.size() && U32(bytes, after) == e.Crc &&
        U32(bytes, after + 4) == e.CompressedSize && U32(bytes, after + 8) == e.UncompressedSize &&
        (U32(bytes, after + 12) == 0x04034B50 || U32(bytes, after + 12) == 0x02014B50);
    entries.push_back(std::move(e));
  }
  return entries;
}
