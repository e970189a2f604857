#include "platform/CodePages.h"

#include <cstdint>

namespace {

// The upper half of CP857 (IBM Turkish DOS). 0xD5 is the euro sign, as in the
// later revision of the page; 0xE7 and 0xF2 are unassigned (0 here) and read as '?'.
const uint16_t kCp857Upper[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 0x80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x0131, 0x00C4, 0x00C5,  // 0x88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 0x90
    0x0130, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x015E, 0x015F,  // 0x98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x011E, 0x011F,  // 0xA0
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // 0xA8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,  // 0xB0
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,  // 0xB8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,  // 0xC0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,  // 0xC8
    0x00BA, 0x00AA, 0x00CA, 0x00CB, 0x00C8, 0x20AC, 0x00CD, 0x00CE,  // 0xD0
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,  // 0xD8
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x0000,  // 0xE0
    0x00D7, 0x00DA, 0x00DB, 0x00D9, 0x00EC, 0x00FF, 0x00AF, 0x00B4,  // 0xE8
    0x00AD, 0x00B1, 0x0000, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,  // 0xF0
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,  // 0xF8
};

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += char(code);
  } else if (code < 0x800) {
    out += char(0xC0 | code >> 6);
    out += char(0x80 | (code & 0x3F));
  } else {
    out += char(0xE0 | code >> 12);
    out += char(0x80 | (code >> 6 & 0x3F));
    out += char(0x80 | (code & 0x3F));
  }
}

// Decodes the UTF-8 sequence at `pos` and moves past it; a malformed or
// overlong sequence yields 0xFFFD for its first byte only.
uint32_t NextCodePoint(const std::string& text, size_t& pos) {
  const auto byte = [&](size_t i) { return uint8_t(text[i]); };
  const uint8_t lead = byte(pos);
  size_t length = 0;
  uint32_t code = 0, minimum = 0;
  if (lead < 0x80) {
    ++pos;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, code = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, code = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, code = lead & 0x07, minimum = 0x10000;
  }
  if (length == 0 || pos + length > text.size()) {
    ++pos;
    return 0xFFFD;
  }
  for (size_t i = 1; i < length; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) {
      ++pos;
      return 0xFFFD;
    }
    code = code << 6 | (byte(pos + i) & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF) {
    ++pos;
    return 0xFFFD;
  }
  pos += length;
  return code;
}

char OemByteOf(uint32_t code) {
  if (code < 0x80) return char(code);
  for (int i = 0; i < 128; ++i) {
    if (kCp857Upper[i] == code) return char(0x80 + i);
  }
  return '?';
}

}  // namespace

bool AreFileApisANSI() {
  return true;
}

std::string OemToCharA(const std::string& oem) {
  std::string result;
  result.reserve(oem.size() * 2);
  for (const char c : oem) {
    const uint8_t b = uint8_t(c);
    if (b < 0x80)
      result += c;
    else if (const uint16_t code = kCp857Upper[b - 0x80])
      AppendUtf8(result, code);
    else
      result += '?';
  }
  return result;
}

std::string CharToOemA(const std::string& ansi) {
  std::string result;
  result.reserve(ansi.size());
  for (size_t pos = 0; pos < ansi.size();) result += OemByteOf(NextCodePoint(ansi, pos));
  return result;
}

bool IsAscii(const std::string& text) {
  for (const char c : text) {
    if (uint8_t(c) >= 0x80) return false;
  }
  return true;
}

bool IsValidUtf8(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    const uint8_t lead = uint8_t(text[i]);
    size_t length = 1;
    uint32_t minimum = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, minimum = 0x10000;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    uint32_t code = lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      const uint8_t next = uint8_t(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not UTF-8.
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}
