// Free helpers of the archive engine: CRC-32, MS-DOS date and time words, the
// progress percentage, path and name rules, wildcard matching, file
// collection, temporary names and drive queries; and TAbPadLock, the lock of
// an archive. Paths are Windows paths ('\' separators); character positions
// are 1-based, as the engine counts them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TCriticalSection;

// ------------------------------------------------------------------ CRC-32
// The ZIP standard's CRC-32 (reflected polynomial 0xEDB88320). Callers start
// at 0xFFFFFFFF and complement the final value: "123456789" gives 0xCBF43926.

// The 256-entry table of the polynomial (entry 1 is 0x77073096).
extern const std::array<uint32_t, 256> AbCrc32Table;

// One step, with no pre- or post-conditioning (the cipher's key update relies on that).
uint32_t AbCrcByte(uint8_t value, uint32_t crc);
// Applies the step to `length` bytes of `buffer` and stores the result in `crc`.
void AbCrcBuffer(uint32_t& crc, const void* buffer, uint16_t length);
// The same steps over a buffer of any length, returning the new value: what
// every bulk checksum of the coders and the zipper goes through.
uint32_t AbCrcUpdate(uint32_t crc, const void* buffer, size_t length);

// ------------------------------------------------------- MS-DOS date, time
// A DOS date-time travels as one 32-bit value: date word in the high 16 bits,
// time word in the low 16 bits (the platform's FileGetDate form).
// time = hour*2048 + minute*32 + second/2; date = (year-1980)*512 + month*32 + day.

// Dates before 1980 give 1 January 1980 00:00:00 and dates after 2107 give
// 31 December 2107 23:59:58, the ends of what the words can hold.
uint16_t AbDosDateWord(int year, int month, int day);
uint16_t AbDosTimeWord(int hour, int minute, int second);
int32_t AbDosFileDate(int year, int month, int day, int hour, int minute, int second);
int32_t AbMakeDosFileDate(uint16_t dateWord, uint16_t timeWord);
uint16_t AbDosDateOf(int32_t dosFileDate);
uint16_t AbDosTimeOf(int32_t dosFileDate);
void AbUnpackDosDate(uint16_t dateWord, int& year, int& month, int& day);
// The second is twice the stored value (always even).
void AbUnpackDosTime(uint16_t timeWord, int& hour, int& minute, int& second);

// ---------------------------------------------------------------- Progress
// Done as a percentage of Total, 0..100. Totals above 16,384,000 are first
// scaled down by 256 (both values). Total <= 0 or Done <= 0 gives 0; Done >=
// Total gives 100.
uint8_t AbPercentOf(int32_t done, int32_t total);

// ------------------------------------------------------------------- Paths
enum TAbPathKind { pkNone = 0, pkRelative = 1, pkAbsolute = 2 };

// Appends '\' unless the path is empty or ends in ':', '\' or NUL.
std::string AbWithTrailingSlash(const std::string& path);
// Characters before the n-th '\' (its position - 1); the length when there are fewer.
int32_t AbNthSlashPos(const std::string& path, int32_t n);
// pkAbsolute with "\\" anywhere or a ':'; else pkRelative with '\' or '/'; else pkNone.
TAbPathKind AbPathKind(const std::string& path);
// Drive ("C:" or "\\server\share"), directory (with its trailing '\') and name;
// '/' counts as '\'. A path without drive keeps a leading '\' in `dir`.
void AbSplitPath(const std::string& path, std::string& drive, std::string& dir, std::string& name);
// Appends each '\'-separated piece of `path` (without a trailing '\') to `list`.
void AbSplitDirs(const std::string& path, std::vector<std::string>& list);
// Removes the drive part: C:\Zelvora\a.mdf -> Zelvora\a.mdf, \\srv\share\x\a -> x\a.
void AbDropDrive(std::string& path);
// Removes leading "..\" pieces only: ..\..\x\..\y -> x\..\y.
void AbTrimParentRefs(std::string& path);
// Every '/' becomes '\'.
void AbToBackslashes(std::string& path);
// The path spelled with the 8.3 names of its levels (the long name where a
// level has none). Raises EAbException "Path not found" for a missing
// directory level and EAbFileNotFound for a missing file.
std::string AbShortPathOf(const std::string& path);
// The name of volume n of a spanned set: the extension's first two
// characters and n mod 100 in two digits (set.zip, 7 -> set.z07).
void AbVolumeFileName(std::string& name, uint16_t n);
// True for an existing folder; false for a path with wildcards or on any failure.
bool AbIsDirectory(const std::string& path);
// Creates every missing level of `path` (C:\A\B: C:\A, then C:\A\B). Raises
// EInOutError when a level cannot be created; levels already made stay.
void AbMakeDirPath(const std::string& path);

// --------------------------------------------------------------- Wildcards
// Matches `s` from position `sPos` against `pattern` from `pPos` ('*' any run,
// '?' exactly one character, case-sensitive: callers give both in one case).
// A pattern that is exactly "*" or "*.*" matches every non-empty text.
bool AbGlobMatch(const std::string& s, int32_t sPos, const std::string& pattern, int32_t pPos);
// Without regard to ASCII case. A mask with a directory part also needs the
// name's directory part to match it; otherwise only the name parts are compared.
bool AbNameMatchesMask(const std::string& fileName, const std::string& mask);
// Appends to `list` every entry matching `mask` (a path with wildcards in its
// name part) found with `searchAttr`, as the mask's directory + the entry's
// name; with `recurse`, then the hits of the same name mask in every
// sub-directory, depth first.
void AbCollectFiles(const std::string& mask, uint32_t searchAttr, std::vector<std::string>& list,
                    bool recurse);
// AbCollectFiles for each ';'-separated, blank-trimmed mask of `maskList`, in order.
void AbCollectFilesMulti(const std::string& maskList, uint32_t searchAttr,
                         std::vector<std::string>& list, bool recurse);

// ------------------------------------------------------ Temporary names
// A "VMS<hex>.TMP" name in `dir` when it is an existing folder, else in the
// system's temporary folder. With `createIt` the file is created empty with a
// unique name (empty result on failure); otherwise only the name with number 1
// is formed, for callers that want its folder.
std::string AbTempFileName(const std::string& dir, bool createIt);

// ---------------------------------------------------------- Drive queries
// First character of the expanded path when it has a drive, else 'A'.
char AbDriveLetterOf(const std::string& path);
// Whether the expanded path's drive is removable (never, for mapped drives).
bool AbIsRemovableDrive(const std::string& path);
// Free bytes on the path's drive, clamped to 2,147,483,647; -1 when unknown
// (a path that is not absolute, an unknown drive, a failing query).
int32_t AbFreeSpaceOf(const std::string& path);
// Sets the label of drive `driveLetter` to the first 11 characters of
// `label`; 0 or the platform's error code.
int AbLabelVolume(const std::string& label, char driveLetter);
// Labels the disk in `driveLetter` "PKBACK# 00N".
void AbLabelSpanDisk(char driveLetter, int32_t n);
// Size of the file, or -1 when it cannot be found.
int64_t AbSizeOfFile(const std::string& path);

// ---------------------------------------------------------------- Lock
// The lock of an archive: taken only when the process runs more than one
// thread; nests.
class TAbPadLock {
 public:
  TAbPadLock();
  ~TAbPadLock();
  TAbPadLock(const TAbPadLock&) = delete;
  TAbPadLock& operator=(const TAbPadLock&) = delete;

  // true: enter (multi-threaded processes only); false: leave once when held.
  void SetHeld(bool value);
  int32_t Depth() const { return FDepth; }

 private:
  int32_t FDepth = 0;
  std::unique_ptr<TCriticalSection> FSection;
};
