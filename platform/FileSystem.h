// File-system operations on Windows paths (see DriveMap.h for the mapping).
// Failures answer as the Windows calls do (false, -1 or an error code)
// unless a function says it raises.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// File attributes. Read-only = no write permission; hidden = name starts with
// a dot; directory from the file type; archive on every regular file; system never.
enum : uint32_t {
  faReadOnly = 0x01,
  faHidden = 0x02,
  faSysFile = 0x04,
  faVolumeID = 0x08,
  faDirectory = 0x10,
  faArchive = 0x20,
  faAnyFile = 0x3F,
};

bool DirectoryExists(const std::string& path);
// True for an existing file that is not a folder.
bool FileExists(const std::string& path);
// Creates one folder level; false when it exists or its parent does not.
bool CreateDir(const std::string& path);
// Makes `path` current; raises EInOutError (code 3 "Invalid filename" for a missing folder).
void ChDir(const std::string& path);
// Refuses folders and read-only files (5), as Windows does.
bool DeleteFile(const std::string& path);
bool RemoveDir(const std::string& path);
// Never replaces another file (183); a change of case alone is allowed.
bool RenameFile(const std::string& oldName, const std::string& newName);

// MoveFileExA: renames `existingFile` to `newFile`. With
// MOVEFILE_REPLACE_EXISTING an existing file `newFile` is replaced in one
// step, so readers see either the old or the new file, never neither.
enum : uint32_t { MOVEFILE_REPLACE_EXISTING = 0x1 };
bool MoveFileExA(const std::string& existingFile, const std::string& newFile, uint32_t flags);

// Attributes of a file or folder, or -1 when it does not exist.
int32_t FileGetAttr(const std::string& path);
// Sets the attributes (only read-only has an effect); 0 or a Windows error code.
int FileSetAttr(const std::string& path, uint32_t attributes);

// Last-write time of an open file (TFileStream::Handle) as a DOS date-time
// (date in the high 16 bits, time in the low 16 bits, local time), or -1.
int32_t FileGetDate(int handle);
// Sets the last-write time of an open file from a DOS date-time; 0 or a Windows error code.
int FileSetDate(int handle, int32_t dosDateTime);
// Last-write time of a named file as a DOS date-time, or -1.
int32_t FileAge(const std::string& path);

// Directory search with an attribute mask, as FindFirst / FindNext / FindClose:
// `pathAndMask` is a folder and a mask with * and ? ("C:\Data\*.*"). An entry
// is found when its name matches and it has no attribute among hidden, system,
// volume and directory that `attributes` leaves out. "." and ".." are never found.
struct TSearchRec {
  int32_t Time = 0;  // DOS date-time of the last write
  int64_t Size = 0;
  uint32_t Attr = 0;
  std::string Name;  // the name as it is on disk

  struct State;
  std::shared_ptr<State> FindState;
};
// 0 when an entry was found, else a Windows error code (2 when nothing matches,
// 3 when the folder is missing, 18 when FindNext has no more). Entries come
// sorted by name without regard to case.
int FindFirst(const std::string& pathAndMask, uint32_t attributes, TSearchRec& rec);
int FindNext(TSearchRec& rec);
void FindClose(TSearchRec& rec);

// Windows wildcard match of a name (not a path), without regard to ASCII case:
// '*' any run, '?' one character, "*.*" everything.
bool MatchesWindowsMask(const std::string& name, const std::string& mask);

// The ordinary files directly in `folder` (no folders, no hidden or system
// files) whose names match `mask`, sorted by name without regard to case:
// the names alone, as a file list box shows them.
std::vector<std::string> ListFiles(const std::string& folder, const std::string& mask);

// CopyFileExA. The routine is called before the first byte and after every
// chunk with the file size and the bytes copied so far; it answers one of the
// PROGRESS_ values. `cancel`, when given, is read before every chunk.
enum : uint32_t {
  PROGRESS_CONTINUE = 0,
  PROGRESS_CANCEL = 1,
  PROGRESS_STOP = 2,
  PROGRESS_QUIET = 3
};
enum : uint32_t { COPY_FILE_FAIL_IF_EXISTS = 0x1 };
using TCopyProgressRoutine =
    std::function<uint32_t(int64_t totalFileSize, int64_t totalBytesTransferred)>;
// False on failure or cancellation (a cancelled copy leaves no target file;
// PROGRESS_STOP leaves the part copied); GetLastError then tells why (1235
// ERROR_REQUEST_ABORTED when cancelled or stopped, 80 when the target exists
// and COPY_FILE_FAIL_IF_EXISTS is given, 5 when it is read-only, 32 when it is
// the source itself). The copy keeps the source's last-write time and permissions.
bool CopyFileExA(const std::string& existingFile, const std::string& newFile,
                 const TCopyProgressRoutine& progress, const bool* cancel, uint32_t copyFlags);
// Windows code of the last failed call of this unit.
int GetLastError();

// Drive types (GetDriveType), and the free space of the drive of `path`.
enum : uint32_t {
  DRIVE_UNKNOWN = 0,
  DRIVE_NO_ROOT_DIR = 1,
  DRIVE_REMOVABLE = 2,
  DRIVE_FIXED = 3,
  DRIVE_REMOTE = 4,
  DRIVE_CDROM = 5,
  DRIVE_RAMDISK = 6,
};
// Every mapped drive is fixed; an unmapped root has none.
uint32_t GetDriveType(const std::string& rootPath);
// Free bytes available on the drive that holds `path`, or -1 when unknown.
int64_t DiskFree(const std::string& path);
// Volume labels do nothing here and report success.
bool SetVolumeLabel(const std::string& rootPath, const std::string& label);

// The system's temporary folder in Windows form, with a trailing '\'.
std::string GetTempPath();
// GetTempFileName: creates a new empty file "<prefix up to 3 chars><hex>.TMP"
// in `folder` and returns its full name; empty on failure.
std::string GetTempFileName(const std::string& folder, const std::string& prefix);
