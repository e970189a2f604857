// Python's zlib as a test oracle: raw Deflate (wbits −15) in both directions.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace pyzlib {

inline bool Available() {
  static const bool available = std::system("python3 -c 'import zlib' >/dev/null 2>&1") == 0;
  return available;
}

// Runs `expression` (Python, over the bytes `data`) and returns the bytes it
// evaluates to; an empty optional-like flag `ok` tells failures apart.
inline std::vector<uint8_t> Run(const std::string& expression, const std::vector<uint8_t>& data,
                                bool& ok) {
  char inName[] = "/tmp/zelvora_pyzlib_in_XXXXXX";
  char outName[] = "/tmp/zelvora_pyzlib_out_XXXXXX";
  const int inFd = mkstemp(inName);
  const int outFd = mkstemp(outName);
  ::close(inFd);
  ::close(outFd);
  {
    std::ofstream in(inName, std::ios::binary);
    in.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
  }
  const std::string command =
      std::string(
          "python3 -c \"import sys, zlib; d = open(sys.argv[1], 'rb').read(); "
          "open(sys.argv[2], 'wb').write(") +
      expression + ")\" " + inName + " " + outName + " 2>/dev/null";
  ok = std::system(command.c_str()) == 0;
  std::ifstream out(outName, std::ios::binary);
  std::vector<uint8_t> result((std::istreambuf_iterator<char>(out)),
                              std::istreambuf_iterator<char>());
  std::remove(inName);
  std::remove(outName);
  return result;
}

// Raw Deflate of `data` at `level` (and zlib `strategy`).
inline std::vector<uint8_t> Compress(const std::vector<uint8_t>& data, int level,
                                     int strategy = 0) {
  bool ok = false;
  std::vector<uint8_t> result =
      Run("(lambda c: c.compress(d) + c.flush())(zlib.compressobj(" + std::to_string(level) +
              ", zlib.DEFLATED, -15, 8, " + std::to_string(strategy) + "))",
          data, ok);
  if (!ok) std::abort();
  return result;
}

// Raw Inflate of `data`; `ok` is false when Python refuses it.
inline std::vector<uint8_t> Decompress(const std::vector<uint8_t>& data, bool& ok) {
  return Run("zlib.decompress(d, -15)", data, ok);
}

}  // namespace pyzlib
