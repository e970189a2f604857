#include "ComponentSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

uint16_t U16(const std::string& bytes, size_t at) {
  if (at + 2 > bytes.size()) throw std::runtime_error("record cut short");
  return uint16_t(uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8);
}

uint32_t U32(const std::string& bytes, size_t at) {
  return uint32_t(U16(bytes, at)) | uint32_t(U16(bytes, at + 2)) << 16;
}

}  // namespace

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
