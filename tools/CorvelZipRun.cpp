#include "tools/CorvelZipRun.h"

#include <algorithm>
#include <exception>
#include <utility>
#include <vector>

#include "archive/AbUnzper.h"
#include "archive/AbUtils.h"
#include "archive/AbZipper.h"
#include "archive/inflate/AbUnzPrc.h"
#include "platform/Classes.h"
#include "platform/DriveMap.h"
#include "platform/FileSystem.h"

namespace {

// Hidden (dot) and read-only files are added when named; folders never.
constexpr uint32_t kAddAttributes = faReadOnly | faHidden | faArchive;

bool HasWildcards(const std::string& name) {
  return name.find_first_of("*?") != std::string::npos;
}

bool IsFolderEntry(const std::string& name) {
  return !name.empty() && (name.back() == '/' || name.back() == '\\');
}

std::string MethodName(uint16_t method) {
  switch (method) {
    case 0:
      return "Stored";
    case 1:
      return "Shrunk";
    case 2:
    case 3:
    case 4:
    case 5:
      return "Reduced" + IntToStr(method - 1);
    case 6:
      return "Imploded";
    case 8:
      return "Deflated";
    case 9:
      return "Deflate64";
    default:
      return "Method" + IntToStr(method);
  }
}

std::string DosDateTimeText(uint16_t date, uint16_t time) {
  return Format("%04d-%02d-%02d %02d:%02d:%02d", 1980 + (date >> 9), (date >> 5) & 15, date & 31,
                time >> 11, (time >> 5) & 63, (time & 31) * 2);
}

// The text of a failure the engine reported by class and code only.
std::string FailureText(TAbErrorClass errorClass, int32_t errorCode) {
  if (errorClass == ecCorvel && !AbMessageOf(errorCode).empty()) return AbMessageOf(errorCode);
  if (errorClass == ecInOutError) return EInOutError(errorCode).Message();
  return Format("failed (error class %d, code %d)", int(errorClass), int(errorCode));
}

// A stored folder name that would leave the target folder: absolute, with a
// drive, or climbing out through "..".
bool LeavesFolder(const std::string& name) {
  if (name.empty() || name[0] == '/' || name[0] == '\\') return true;
  if (name.size() >= 2 && name[1] == ':') return true;
  size_t start = 0;
  while (start <= name.size()) {
    const size_t end = std::min(name.find_first_of("/\\", start), name.size());
    if (name.compare(start, end - start, "..") == 0 && end - start == 2) return true;
    start = end + 1;
  }
  return false;
}

class TZipRun {
 public:
  TZipRun(const TZipCommand& command, std::ostream& out, std::ostream& err, TZipProgress& progress)
      : FCommand(command), FOut(out), FErr(err), FProgress(progress) {}

  int Run() {
    switch (FCommand.Kind) {
      case TZipCommandKind::List:
        return List();
      case TZipCommandKind::Test:
        return TestOrExtract(false);
      case TZipCommandKind::Extract:
        return TestOrExtract(true);
      case TZipCommandKind::Add:
        return Add();
      default:
        return kZipUnusable;
    }
  }

 private:
  void Fail(const std::string& message) {
    FProgress.Clear();
    FErr << "corvelzip: " << FCommand.Archive << ": " << message << '\n';
  }
  void FailEntry(const std::string& entry, const std::string& message) {
    Fail(entry + ": " + message);
    ++FFailures;
  }

  // ----------------------------------------------------------- reading side

  // Opens the archive for reading through the unzipper; false (after the
  // message) when it cannot be opened.
  bool OpenForReading(TAbUnZipper& unzipper) {
    const std::string path = ZipCommandLinePath(FCommand.Archive);
    if (!FileExists(path)) {
      Fail(AbMessageOf(EAbFileNotFound::Code));
      return false;
    }
    // Judged by its contents whatever its extension, so that a file that is
    // not a ZIP says so.
    unzipper.SetForceType(true);
    unzipper.SetArchiveType(atZip);
    unzipper.SetPassword(FCommand.Password);
    // No prompting: a wrong password is the only answer there is. Answering
    // it again (rather than nothing, which is an abort that would leave the
    // archive unusable for the following entries) ends in "invalid password".
    unzipper.SetPasswordRetries(0);
    unzipper.OnNeedPassword = [this](TAbBaseComponent&, std::string& answer) {
      answer = FCommand.Password;
    };
    try {
      unzipper.SetFileName(path);
    } catch (const std::exception& e) {
      Fail(e.what());
      return false;
    }
    if (unzipper.ZipArchive() == nullptr || unzipper.ZipArchive()->State() == stInvalid) {
      Fail(AbMessageOf(EAbZipInvalid::Code));
      return false;
    }
    return true;
  }

  int List() {
    TAbUnZipper unzipper;
    if (!OpenForReading(unzipper)) return kZipUnusable;
    FOut << "    Length      Packed  Method     Enc  Date       Time      CRC-32    Name\n"
         << "----------  ----------  ---------  ---  ---------- --------  --------  ----\n";
    int64_t length = 0, packed = 0;
    for (int i = 0; i < unzipper.Count(); ++i) {
      const TAbZipItem& item = unzipper.ItemAt(i);
      FOut << Format("%10lld  %10lld  %-9s  %-3s  %s  %08X  ", (long long)item.UncompressedSize(),
                     (long long)item.CompressedSize(), MethodName(item.CompressionMethod()).c_str(),
                     item.IsEncrypted() ? "*" : "",
                     DosDateTimeText(item.LastModFileDate(), item.LastModFileTime()).c_str(),
                     unsigned(item.CRC32()))
           << item.FileName() << '\n';
      length += item.UncompressedSize();
      packed += item.CompressedSize();
    }
    FOut << "----------  ----------                                               ----\n"
         << Format("%10lld  %10lld  ", (long long)length, (long long)packed) << std::string(47, ' ')
         << unzipper.Count() << (unzipper.Count() == 1 ? " entry\n" : " entries\n");
    return kZipSuccess;
  }

  bool Selected(const TAbArchiveItem& item, std::vector<bool>& maskUsed) const {
    if (FCommand.Names.empty()) return true;
    bool selected = false;
    for (size_t m = 0; m < FCommand.Names.size(); ++m) {
      if (item.MatchesMask(FCommand.Names[m])) {
        maskUsed[m] = true;
        selected = true;
      }
    }
    return selected;
  }

  // Prepares the extraction folder and the unzipper's options; false (after
  // the message) when the folder cannot be made.
  bool SetUpExtraction(TAbUnZipper& unzipper) {
    const std::string folder =
        FCommand.Folder.empty() ? GetCurrentDir() : ZipCommandLinePath(FCommand.Folder);
    const std::string shown = FCommand.Folder.empty() ? folder : FCommand.Folder;
    if (FileExists(folder)) {
      Fail(shown + ": is a file, not a folder");
      return false;
    }
    try {
      if (!DirectoryExists(folder)) AbMakeDirPath(folder);
      unzipper.SetBaseDirectory(folder);
    } catch (const std::exception& e) {
      Fail(shown + ": " + e.what());
      return false;
    }
    TAbExtractOptions options;
    if (FCommand.RestorePaths) options = {eoCreateDirs, eoRestorePath};
    unzipper.SetExtractOptions(options);
    return true;
  }

  // A stored folder: made below the base folder with --paths, else nothing
  // to do (bare names drop folders).
  void MakeFolderEntry(const TAbUnZipper& unzipper, const std::string& name) {
    if (!FCommand.RestorePaths) return;
    if (LeavesFolder(name)) throw EAbZipUnsafePath(name);
    std::string path = AbWithTrailingSlash(unzipper.BaseDirectory()) + name;
    std::replace(path.begin(), path.end(), '/', '\\');
    while (path.size() > 1 && path.back() == '\\') path.pop_back();
    if (!DirectoryExists(path)) AbMakeDirPath(path);
    FOut << "  created: " << name << '\n';
  }

  int TestOrExtract(bool extract) {
    TAbUnZipper unzipper;
    if (!OpenForReading(unzipper)) return kZipUnusable;
    if (extract && !SetUpExtraction(unzipper)) return kZipUnusable;
    TAbZipArchive& archive = *unzipper.ZipArchive();

    // A CRC mismatch is reported through this event rather than raised.
    std::string reported;
    unzipper.OnProcessItemFailure = [&](TAbBaseComponent&, TAbArchiveItem&, TAbProcessType,
                                        TAbErrorClass errorClass, int32_t errorCode) {
      reported = FailureText(errorClass, errorCode);
    };
    const int count = unzipper.Count();
    int current = 0;
    unzipper.OnArchiveItemProgress = [&](TAbBaseComponent&, TAbArchiveItem*, uint8_t progress,
                                         bool&) {
      FProgress.Show((current * 100 + progress) / std::max(count, 1),
                     archive.Items(current).FileName());
    };

    std::vector<bool> maskUsed(FCommand.Names.size(), false);
    int done = 0;
    for (current = 0; current < count; ++current) {
      TAbArchiveItem& item = archive.Items(current);
      if (!Selected(item, maskUsed)) continue;
      FProgress.Show(current * 100 / count, item.FileName());
      reported.clear();
      ProcessEntry(unzipper, current, extract, reported);
      ++done;
    }
    FProgress.Clear();
    const int failed = FFailures;
    for (size_t m = 0; m < maskUsed.size(); ++m)
      if (!maskUsed[m]) FailEntry(FCommand.Names[m], "no entry matches");

    if (failed > 0) Fail(Format("%d of %d entries failed", failed, done));
    if (FFailures > 0) return kZipEntryFailed;
    if (!extract)
      FOut << "No errors in " << FCommand.Archive << " (" << done
           << (done == 1 ? " entry)\n" : " entries)\n");
    return kZipSuccess;
  }

  // Tests or extracts entry `index` and reports the outcome. `reported` is
  // where the item-failure event leaves a failure that was not raised.
  void ProcessEntry(TAbUnZipper& unzipper, int index, bool extract, std::string& reported) {
    TAbZipArchive& archive = *unzipper.ZipArchive();
    const std::string name = archive.Items(index).FileName();
    try {
      if (!extract)
        archive.TestOne(index);
      else if (IsFolderEntry(name))
        MakeFolderEntry(unzipper, name);
      else
        archive.ExtractOne(index, name);
    } catch (const std::exception& e) {
      reported = e.what();
    }
    if (!reported.empty())
      FailEntry(name, reported);
    else if (!extract)
      FOut << "  OK: " << name << '\n';
    else if (!IsFolderEntry(name))
      FOut << "  extracted: " << name << '\n';
  }

  // ------------------------------------------------------------- adding

  // The Windows form of a FILE argument; a relative one stays relative so
  // that it is stored with its relative folder.
  static std::string InputPath(const std::string& name) {
    if (!name.empty() && name[0] == '/') return WindowsPathOf(name);
    std::string path = name;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
  }

  // Whether a FILE argument names at least one file; reports it otherwise.
  bool CheckInput(const std::string& name, const std::string& path) {
    const std::string full = ExpandFileName(path);
    if (HasWildcards(full)) {
      TSearchRec rec;
      const bool found = FindFirst(full, kAddAttributes, rec) == 0;
      FindClose(rec);
      if (!found) FailEntry(name, "no file matches");
      return found;
    }
    if (FileExists(full)) return true;
    FailEntry(name, DirectoryExists(full) ? "is a folder; only files are added"
                                          : AbMessageOf(EAbFileNotFound::Code));
    return false;
  }

  // Drops the new items whose files cannot be read, so that one unreadable
  // file does not stop the whole save.
  void DropUnreadable(TAbArchive& archive, int first) {
    for (int i = archive.Count() - 1; i >= first; --i) {
      TAbArchiveItem& item = archive.Items(i);
      try {
        TFileStream probe(item.DiskPath, fmOpenRead | fmShareDenyNone);
      } catch (const std::exception& e) {
        FailEntry(item.FileName(), e.what());
        archive.ItemList().DeleteAt(i);
      }
    }
  }

  void SetUpZipper(TAbZipper& zipper, std::string& currentName, int& savePercent) {
    zipper.SetForceType(true);
    zipper.SetArchiveType(atZip);
    zipper.SetPassword(FCommand.Password);
    zipper.SetCompressionMethodToUse(FCommand.Method);
    zipper.SetDeflationOption(FCommand.Level);
    zipper.OnProcessItemFailure = [this](TAbBaseComponent&, TAbArchiveItem& item, TAbProcessType,
                                         TAbErrorClass errorClass, int32_t errorCode) {
      FailEntry(item.FileName(), FailureText(errorClass, errorCode));
    };
    zipper.OnArchiveItemProgress = [&, this](TAbBaseComponent&, TAbArchiveItem* item, uint8_t,
                                             bool&) {
      if (item != nullptr) currentName = item->FileName();
      FProgress.Show(savePercent, currentName);
    };
    zipper.OnArchiveSaveProgress = [&, this](TAbBaseComponent&, uint8_t progress, bool&) {
      savePercent = progress;
      FProgress.Show(savePercent, currentName);
    };
  }

  void ReportAdded(const TAbArchive& archive, int first) {
    for (int i = first; i < archive.Count(); ++i) {
      const auto& item = static_cast<const TAbZipItem&>(archive.Items(i));
      FOut << "  added: " << item.FileName() << " (" << MethodName(item.CompressionMethod()) << ", "
           << item.UncompressedSize() << " -> " << item.CompressedSize() << " bytes)\n";
    }
  }

  int Add() {
    const std::string path = ZipCommandLinePath(FCommand.Archive);
    const bool existed = FileExists(path);
    // Each FILE argument as typed (for messages) and as the zipper takes it.
    std::vector<std::pair<std::string, std::string>> inputs;
    for (const std::string& name : FCommand.Names) {
      const std::string input = InputPath(name);
      if (CheckInput(name, input)) inputs.emplace_back(name, input);
    }
    if (inputs.empty()) return kZipEntryFailed;

    const int status = AddInputs(path, inputs);
    // A new archive that received nothing is not left behind as an empty file.
    if (!existed && FileSizeOf(path) == 0) DeleteFile(path);
    return status;
  }

  // Size of an existing file, or -1.
  static int64_t FileSizeOf(const std::string& path) {
    if (!FileExists(path)) return -1;
    TFileStream file(path, fmOpenRead | fmShareDenyNone);
    return file.Size();
  }

  int AddInputs(const std::string& path,
                const std::vector<std::pair<std::string, std::string>>& inputs) {
    TAbZipper zipper;
    std::string currentName;
    int savePercent = 0;
    SetUpZipper(zipper, currentName, savePercent);
    try {
      zipper.SetFileName(path);
    } catch (const std::exception& e) {
      Fail(e.what());
      return kZipUnusable;
    }
    TAbArchive& archive = *zipper.Archive();
    if (archive.State() == stInvalid) {
      Fail(AbMessageOf(EAbZipInvalid::Code));
      return kZipUnusable;
    }
    zipper.SetBaseDirectory(GetCurrentDir());
    const int first = archive.Count();
    for (const auto& input : inputs) {
      try {
        zipper.AddMatching(input.second, kAddAttributes);
      } catch (const std::exception& e) {
        FailEntry(input.first, e.what());
      }
    }
    DropUnreadable(archive, first);
    if (archive.Count() == first) return FFailures > 0 ? kZipEntryFailed : kZipSuccess;
    try {
      zipper.Save();
    } catch (const std::exception& e) {
      const TAbArchiveItem* item = archive.CurrentItem();
      if (item != nullptr)
        FailEntry(item->FileName(), e.what());
      else
        Fail(e.what());
      FProgress.Clear();
      return kZipEntryFailed;
    }
    FProgress.Clear();
    ReportAdded(archive, first);
    return FFailures > 0 ? kZipEntryFailed : kZipSuccess;
  }

  const TZipCommand& FCommand;
  std::ostream& FOut;
  std::ostream& FErr;
  TZipProgress& FProgress;
  int FFailures = 0;
};

}  // namespace

std::string ZipCommandLinePath(const std::string& Path) {
  if (!Path.empty() && Path[0] == '/') return WindowsPathOf(Path);
  return ExpandFileName(Path);
}

int RunZipCommand(const TZipCommand& Command, std::ostream& Out, std::ostream& Err,
                  TZipProgress& Progress) {
  TZipRun run(Command, Out, Err, Progress);
  try {
    return run.Run();
  } catch (const std::exception& e) {
    Progress.Clear();
    Err << "corvelzip: " << Command.Archive << ": " << e.what() << '\n';
    return kZipUnusable;
  }
}
