// Code pages: UTF-8 is the ANSI code page; the OEM code page is CP857 (Turkish DOS).
#pragma once

#include <string>

// The file functions use the ANSI code page: always true here.
bool AreFileApisANSI();
// CP857 bytes to UTF-8 (OemToCharA).
std::string OemToCharA(const std::string& oem);
// UTF-8 to CP857 (CharToOemA); characters CP857 lacks become '?'.
std::string CharToOemA(const std::string& ansi);
// Whether every character of a UTF-8 text is ASCII.
bool IsAscii(const std::string& text);
// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(const std::string& text);
