#include "archive/AbUtils.h"

#include <algorithm>

#include "archive/AbExcept.h"
#include "platform/DriveMap.h"
#include "platform/FileSystem.h"
#include "platform/SyncObjs.h"
#include "platform/SysUtils.h"

namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

// Fifteen more tables for stepping sixteen bytes at a time: table k holds the
// CRC of a byte followed by k zero bytes.
constexpr size_t kSlices = 16;
using TSlicingTables = std::array<std::array<uint32_t, 256>, kSlices>;

constexpr TSlicingTables MakeSlicingTables() {
  TSlicingTables tables{};
  tables[0] = MakeCrcTable();
  for (size_t k = 1; k < kSlices; ++k) {
    for (size_t n = 0; n < 256; ++n) {
      const uint32_t prev = tables[k - 1][n];
      tables[k][n] = tables[0][prev & 0xFF] ^ (prev >> 8);
    }
  }
  return tables;
}

constexpr TSlicingTables kSlicing = MakeSlicingTables();

uint32_t LittleEndian32(const uint8_t* bytes) {
  return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
         uint32_t(bytes[3]) << 24;
}

constexpr int32_t kMaxFreeSpace = 2147483647;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Position of the extension's dot, or npos when the name part has none.
size_t ExtensionDot(const std::string& name) {
  const size_t dot = name.find_last_of(".\\:");
  return dot != std::string::npos && name[dot] == '.' ? dot : std::string::npos;
}

// The directory part of a path, up to and including its last '\' (or ':').
std::string DirectoryPart(const std::string& path) {
  const size_t last = path.find_last_of("\\:");
  return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

std::string NamePart(const std::string& path) {
  return path.substr(DirectoryPart(path).size());
}

std::string TrimBlanks(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The drive part of a path ("C:" or "\\server\share"), empty when it has none.
std::string DrivePart(const std::string& path) {
  if (StartsWith(path, "\\\\")) return path.substr(0, size_t(AbNthSlashPos(path, 4)));
  const size_t colon = path.find(':');
  return colon == std::string::npos ? std::string() : path.substr(0, colon + 1);
}

// Free bytes of `root`, or -1 when the drive's type tells nothing can be known.
int64_t FreeBytesOfDrive(const std::string& root) {
  if (StartsWith(root, "\\\\")) return DiskFree(root);
  switch (GetDriveType(root)) {
    case DRIVE_REMOVABLE:
    case DRIVE_FIXED:
    case DRIVE_CDROM:
    case DRIVE_REMOTE:
      return DiskFree(root);
    default:
      return -1;
  }
}

}  // namespace

const std::array<uint32_t, 256> AbCrc32Table = kSlicing[0];

uint32_t AbCrcByte(uint8_t value, uint32_t crc) {
  return AbCrc32Table[(crc ^ value) & 0xFF] ^ (crc >> 8);
}

void AbCrcBuffer(uint32_t& crc, const void* buffer, uint16_t length) {
  crc = AbCrcUpdate(crc, buffer, length);
}

uint32_t AbCrcUpdate(uint32_t crc, const void* buffer, size_t length) {
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  const auto& t = kSlicing;
  // Sixteen bytes per step give the same value as sixteen single steps.
  for (; length >= 16; length -= 16, bytes += 16) {
    const uint32_t a = crc ^ LittleEndian32(bytes);
    const uint32_t b = LittleEndian32(bytes + 4);
    const uint32_t c = LittleEndian32(bytes + 8);
    const uint32_t d = LittleEndian32(bytes + 12);
    crc = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
          t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
          t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
          t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
  }
  for (; length > 0; --length) crc = t[0][(crc ^ *bytes++) & 0xFF] ^ (crc >> 8);
  return crc;
}

uint16_t AbDosDateWord(int year, int month, int day) {
  if (year < 1980) return uint16_t((0 << 9) | (1 << 5) | 1);
  if (year > 2107) return uint16_t((127 << 9) | (12 << 5) | 31);
  return uint16_t(((year - 1980) << 9) | (month << 5) | day);
}

uint16_t AbDosTimeWord(int hour, int minute, int second) {
  return uint16_t((hour << 11) | (minute << 5) | (second / 2));
}

int32_t AbDosFileDate(int year, int month, int day, int hour, int minute, int second) {
  if (year < 1980) return AbMakeDosFileDate(AbDosDateWord(year, 1, 1), 0);
  if (year > 2107) return AbMakeDosFileDate(AbDosDateWord(year, 12, 31), AbDosTimeWord(23, 59, 58));
  return AbMakeDosFileDate(AbDosDateWord(year, month, day), AbDosTimeWord(hour, minute, second));
}

int32_t AbMakeDosFileDate(uint16_t dateWord, uint16_t timeWord) {
  return int32_t((uint32_t(dateWord) << 16) | timeWord);
}

uint16_t AbDosDateOf(int32_t dosFileDate) {
  return uint16_t(uint32_t(dosFileDate) >> 16);
}

uint16_t AbDosTimeOf(int32_t dosFileDate) {
  return uint16_t(uint32_t(dosFileDate) & 0xFFFF);
}

void AbUnpackDosDate(uint16_t dateWord, int& year, int& month, int& day) {
  year = 1980 + (dateWord >> 9);
  month = (dateWord >> 5) & 0x0F;
  day = dateWord & 0x1F;
}

void AbUnpackDosTime(uint16_t timeWord, int& hour, int& minute, int& second) {
  hour = timeWord >> 11;
  minute = (timeWord >> 5) & 0x3F;
  second = 2 * (timeWord & 0x1F);
}

uint8_t AbPercentOf(int32_t done, int32_t total) {
  if (total > 16384000) {
    done = int32_t((uint32_t(done) + 128u) >> 8);
    total = int32_t((uint32_t(total) + 128u) >> 8);
  }
  if (total <= 0 || done <= 0) return 0;
  if (done >= total) return 100;
  return uint8_t(int64_t(done) * 100 / total);
}

std::string AbWithTrailingSlash(const std::string& path) {
  if (path.empty()) return path;
  const char last = path.back();
  if (last == ':' || last == '\\' || last == '\0') return path;
  return path + '\\';
}

int32_t AbNthSlashPos(const std::string& path, int32_t n) {
  int32_t seen = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '\\' && ++seen == n) return int32_t(i);
  }
  return int32_t(path.size());
}

TAbPathKind AbPathKind(const std::string& path) {
  if (Contains(path, "\\\\") || Contains(path, ":")) return pkAbsolute;
  if (path.find_first_of("\\/") != std::string::npos) return pkRelative;
  return pkNone;
}

void AbSplitPath(const std::string& path, std::string& drive, std::string& dir, std::string& name) {
  std::string full = path;
  AbToBackslashes(full);
  const size_t last = full.rfind('\\');
  dir = last == std::string::npos ? std::string() : full.substr(0, last + 1);
  name = full.substr(dir.size());
  drive.clear();
  if (Contains(dir, "\\\\")) {
    const size_t cut = size_t(AbNthSlashPos(dir, 4));
    drive = dir.substr(0, cut);
    dir = cut < dir.size() ? dir.substr(cut + 1) : std::string();
  } else if (const size_t colon = dir.find(':'); colon != std::string::npos) {
    drive = dir.substr(0, colon + 1);
    dir.erase(0, colon + 1);
    if (!dir.empty() && dir[0] == '\\') dir.erase(0, 1);
  }
}

void AbSplitDirs(const std::string& path, std::vector<std::string>& list) {
  if (path.empty()) return;
  std::string rest = path;
  if (rest.back() == '\\') rest.pop_back();
  size_t start = 0;
  for (;;) {
    const size_t slash = rest.find('\\', start);
    list.push_back(rest.substr(start, slash - start));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
}

void AbDropDrive(std::string& path) {
  std::string drive, dir, name;
  AbSplitPath(path, drive, dir, name);
  path = dir + name;
}

void AbTrimParentRefs(std::string& path) {
  while (StartsWith(path, "..\\")) path.erase(0, 3);
}

void AbToBackslashes(std::string& path) {
  std::replace(path.begin(), path.end(), '/', '\\');
}

std::string AbShortPathOf(const std::string& path) {
  std::string drive, dir, name;
  AbSplitPath(path, drive, dir, name);
  std::vector<std::string> dirs;
  AbSplitDirs(dir, dirs);

  std::string longPath = drive + '\\';
  std::string shortPath = longPath;
  TSearchRec rec;
  for (const std::string& level : dirs) {
    longPath += level;
    if (FindFirst(longPath, faDirectory | faHidden | faSysFile, rec) != 0) {
      throw EAbException("Path not found");
    }
    // The platform keeps no 8.3 alternates: the long name stands for itself.
    shortPath += rec.Name + '\\';
    FindClose(rec);
    longPath += '\\';
  }
  if (FindFirst(longPath + name, faReadOnly | faHidden | faSysFile | faArchive, rec) != 0) {
    throw EAbFileNotFound();
  }
  shortPath += rec.Name;
  FindClose(rec);
  return shortPath;
}

void AbVolumeFileName(std::string& name, uint16_t n) {
  const size_t dot = ExtensionDot(name);
  const std::string oldExt = dot == std::string::npos ? std::string() : name.substr(dot, 4);
  const std::string digits = Format("%.2d", int(n % 100));
  const std::string newExt = oldExt.size() <= 1 ? "." + digits : oldExt.substr(0, 2) + digits;
  name = (dot == std::string::npos ? name : name.substr(0, dot)) + newExt.substr(0, 4);
}

bool AbIsDirectory(const std::string& path) {
  if (path.find_first_of("*?") != std::string::npos) return false;
  const int32_t attributes = FileGetAttr(path);
  return attributes != -1 && (attributes & faDirectory) != 0;
}

void AbMakeDirPath(const std::string& path) {
  if (AbIsDirectory(path)) return;
  // The first level to create: past the share of a UNC path, past the drive,
  // or the first piece of a path without drive.
  int32_t n = Contains(path, "\\\\") ? 5 : Contains(path, ":") ? 2 : 1;
  std::string prefix;
  do {
    prefix = path.substr(0, size_t(AbNthSlashPos(path, n)));
    if (!prefix.empty() && !AbIsDirectory(prefix) && !CreateDir(prefix)) {
      const int code = GetLastError();
      throw EInOutError(code != 0 ? code : ERROR_PATH_NOT_FOUND);
    }
    ++n;
  } while (prefix.size() < path.size());
}

bool AbGlobMatch(const std::string& s, int32_t sPos, const std::string& pattern, int32_t pPos) {
  if (s.empty()) return pattern.empty();
  if (pPos == 1 && (pattern == "*.*" || pattern == "*")) return true;
  if (pattern.empty()) return sPos == int32_t(s.size()) + 1;

  // Greedy walk with one backtrack point: the last '*' seen and where the
  // text stood when it was taken. Same answers as trying every split after
  // each '*', in linear steps per backtrack instead of exponential ones.
  size_t i = size_t(std::max(sPos, 1) - 1);
  size_t j = size_t(std::max(pPos, 1) - 1);
  size_t star = std::string::npos;
  size_t starText = 0;
  while (i < s.size()) {
    if (j < pattern.size() && pattern[j] == '*') {
      star = j++;
      starText = i;
    } else if (j < pattern.size() && (pattern[j] == '?' || pattern[j] == s[i])) {
      ++i;
      ++j;
    } else if (star != std::string::npos) {
      j = star + 1;
      i = ++starText;
    } else {
      return false;
    }
  }
  while (j < pattern.size() && pattern[j] == '*') ++j;
  return j == pattern.size();
}

bool AbNameMatchesMask(const std::string& fileName, const std::string& mask) {
  const std::string name = UpperCase(fileName);
  const std::string upperMask = UpperCase(mask);
  const std::string maskDir = DirectoryPart(upperMask);
  if (!maskDir.empty() && !AbGlobMatch(DirectoryPart(name), 1, maskDir, 1)) return false;
  return AbGlobMatch(NamePart(name), 1, NamePart(upperMask), 1);
}

void AbCollectFiles(const std::string& mask, uint32_t searchAttr, std::vector<std::string>& list,
                    bool recurse) {
  const std::string maskDir = DirectoryPart(mask);
  const std::string maskName = NamePart(mask);
  const std::string upperMaskName = UpperCase(maskName);

  TSearchRec rec;
  if (FindFirst(mask, searchAttr, rec) == 0) {
    do {
      // Drops hits the platform made through a name other than the one listed.
      if (AbGlobMatch(UpperCase(rec.Name), 1, upperMaskName, 1)) list.push_back(maskDir + rec.Name);
    } while (FindNext(rec) == 0);
    FindClose(rec);
  }
  if (!recurse) return;

  const std::string searchDir = maskDir.empty() ? maskDir : AbWithTrailingSlash(maskDir);
  std::vector<std::string> subDirs;
  if (FindFirst(searchDir + "*.*", faDirectory, rec) == 0) {
    do {
      if ((rec.Attr & faDirectory) != 0 && rec.Name != "." && rec.Name != "..") {
        subDirs.push_back(rec.Name);
      }
    } while (FindNext(rec) == 0);
    FindClose(rec);
  }
  for (const std::string& sub : subDirs) {
    AbCollectFiles(searchDir + sub + '\\' + maskName, searchAttr, list, true);
  }
}

void AbCollectFilesMulti(const std::string& maskList, uint32_t searchAttr,
                         std::vector<std::string>& list, bool recurse) {
  size_t start = 0;
  for (;;) {
    const size_t semicolon = maskList.find(';', start);
    const std::string mask = TrimBlanks(maskList.substr(start, semicolon - start));
    if (!mask.empty()) AbCollectFiles(mask, searchAttr, list, recurse);
    if (semicolon == std::string::npos) break;
    start = semicolon + 1;
  }
}

std::string AbTempFileName(const std::string& dir, bool createIt) {
  const std::string base = !dir.empty() && DirectoryExists(dir) ? dir : GetTempPath();
  if (createIt) return GetTempFileName(base, "VMS");
  return AbWithTrailingSlash(base) + "VMS1.TMP";
}

char AbDriveLetterOf(const std::string& path) {
  const std::string full = ExpandFileName(path);
  return Contains(full, ":") ? full[0] : 'A';
}

bool AbIsRemovableDrive(const std::string& path) {
  const std::string full = ExpandFileName(path);
  if (!Contains(full, ":")) return false;
  return GetDriveType(full.substr(0, 2) + '\\') == DRIVE_REMOVABLE;
}

int32_t AbFreeSpaceOf(const std::string& path) {
  if (AbPathKind(path) != pkAbsolute) return -1;
  std::string drive = DrivePart(path);
  if (drive.empty()) drive = DrivePart(AbWithTrailingSlash(GetCurrentDir()));
  const int64_t free = FreeBytesOfDrive(drive + '\\');
  if (free < -1 || free > kMaxFreeSpace) return kMaxFreeSpace;
  return int32_t(free);
}

int AbLabelVolume(const std::string& label, char driveLetter) {
  const std::string root = std::string(1, driveLetter) + ":\\";
  return SetVolumeLabel(root, label.substr(0, 11)) ? 0 : GetLastError();
}

void AbLabelSpanDisk(char driveLetter, int32_t n) {
  AbLabelVolume(Format("PKBACK# %3.3d", int(n)), driveLetter);
}

int64_t AbSizeOfFile(const std::string& path) {
  TSearchRec rec;
  if (FindFirst(path, faAnyFile, rec) != 0) return -1;
  const int64_t size = rec.Size;
  FindClose(rec);
  return size;
}

TAbPadLock::TAbPadLock() : FSection(std::make_unique<TCriticalSection>()) {}

TAbPadLock::~TAbPadLock() = default;

void TAbPadLock::SetHeld(bool value) {
  if (value) {
    if (!IsMultiThread()) return;
    FSection->Enter();
    ++FDepth;
  } else if (FDepth > 0) {
    --FDepth;
    FSection->Leave();
  }
}
