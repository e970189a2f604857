#include "archive/AbArcTyp.h"

#include <unistd.h>

#include <climits>
#include <utility>

#include "archive/AbSpanSt.h"
#include "archive/AbUtils.h"
#include "platform/Clock.h"
#include "platform/DriveMap.h"
#include "platform/FileSystem.h"
#include "platform/SysUtils.h"

namespace {

// Log words by kind: " added " ... " logging " (codes 310..316), then
// "Unhandled Entity" (513).
int LogMessageCode(int kind) {
  return kind >= 0 && kind <= 6 ? 310 + kind : 513;
}

std::string Trim(const std::string& text) {
  size_t first = 0, last = text.size();
  while (first < last && uint8_t(text[first]) <= ' ') ++first;
  while (last > first && uint8_t(text[last - 1]) <= ' ') --last;
  return text.substr(first, last - first);
}

std::string WithBackslashes(std::string path) {
  AbToBackslashes(path);
  return path;
}

// The folder of the running program, as a Windows path.
std::string ProgramDirectory() {
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (length <= 0) return std::string();
  std::string host(buffer, size_t(length));
  const size_t slash = host.find_last_of('/');
  host = slash == 0 ? "/" : host.substr(0, slash);
  return WindowsPathOf(host);
}

// The local date and time as the log writes it: the short date and long time
// of a Turkish system, dd.MM.yyyy HH:mm:ss.
std::string LogTimeStamp() {
  const TDateTime now = Clock().Now();
  int year, month, day, hour, minute, second, millisecond;
  DecodeDate(now, year, month, day);
  DecodeTime(now, hour, minute, second, millisecond);
  return Format("%02d.%02d.%04d %02d:%02d:%02d", day, month, year, hour, minute, second);
}

// Makes `folder` the current directory (when not empty) for the lifetime of
// the object and restores the previous one afterwards, also on failure.
class TCurrentDirScope {
 public:
  explicit TCurrentDirScope(const std::string& folder) : FSaved(GetCurrentDir()) {
    if (!folder.empty()) ChDir(folder);
  }
  ~TCurrentDirScope() { SetCurrentDir(FSaved); }
  TCurrentDirScope(const TCurrentDirScope&) = delete;
  TCurrentDirScope& operator=(const TCurrentDirScope&) = delete;

 private:
  std::string FSaved;
};

}  // namespace

// ------------------------------------------------------------ TAbArchiveItem

bool TAbArchiveItem::MatchesMask(const std::string& Mask) const {
  std::string drive, dir, name;
  AbSplitPath(WithBackslashes(Mask), drive, dir, name);
  return AbNameMatchesMask(WithBackslashes(FileName()), dir + name);
}

bool TAbArchiveItem::MatchesAnyMask(const std::string& MaskList) const {
  if (MaskList.empty()) return false;
  size_t start = 0;
  while (true) {
    const size_t semicolon = MaskList.find(';', start);
    const std::string piece = Trim(MaskList.substr(start, semicolon - start));
    if (MatchesMask(piece)) return true;
    if (semicolon == std::string::npos) return false;
    start = semicolon + 1;
  }
}

// ------------------------------------------------------------ TAbArchiveList

TAbArchiveList::TAbArchiveList() : FBuckets(BucketCount, nullptr) {}

TAbArchiveList::~TAbArchiveList() {
  Clear();
}

int TAbArchiveList::BucketOf(const std::string& Name) {
  uint32_t h = 0;
  for (char c : UpperCase(Name)) {
    h = (h << 4) + uint8_t(c);
    const uint32_t g = h & 0xF0000000u;
    if (g != 0) h ^= g >> 24;
    h &= ~g;
  }
  return int(h % BucketCount);
}

void TAbArchiveList::Link(TAbArchiveItem& Item) {
  TAbArchiveItem*& head = FBuckets[size_t(BucketOf(Item.FileName()))];
  Item.NextInBucket = head;
  head = &Item;
}

// By identity, so that an item is found whatever names its neighbours have.
void TAbArchiveList::Unlink(TAbArchiveItem& Item) {
  TAbArchiveItem** link = &FBuckets[size_t(BucketOf(Item.FileName()))];
  while (*link != nullptr && *link != &Item) link = &(*link)->NextInBucket;
  if (*link == &Item) *link = Item.NextInBucket;
  Item.NextInBucket = nullptr;
}

int TAbArchiveList::Append(std::unique_ptr<TAbArchiveItem> Item) {
  ZASSERT(Item != nullptr, "TAbArchiveList.Append: no item");
  Link(*Item);
  FList.push_back(std::move(Item));
  return int(FList.size()) - 1;
}

int TAbArchiveList::IndexOfName(const std::string& Name) const {
  for (const TAbArchiveItem* item = FBuckets[size_t(BucketOf(Name))]; item != nullptr;
       item = item->NextInBucket) {
    if (!SameText(item->FileName(), Name)) continue;
    for (size_t i = 0; i < FList.size(); ++i)
      if (FList[i].get() == item) return int(i);
  }
  return -1;
}

bool TAbArchiveList::HasActiveName(const std::string& Name) const {
  for (const TAbArchiveItem* item = FBuckets[size_t(BucketOf(Name))]; item != nullptr;
       item = item->NextInBucket) {
    if (item->Action != iaDelete && SameText(item->FileName(), Name)) return true;
  }
  return false;
}

void TAbArchiveList::DeleteAt(int Index) {
  ZASSERT(Index >= 0 && Index < Count(), "TAbArchiveList.DeleteAt: index out of range");
  Unlink(*FList[size_t(Index)]);
  FList.erase(FList.begin() + Index);
}

void TAbArchiveList::RenameItem(TAbArchiveItem& Item, const std::string& NewName) {
  Unlink(Item);
  Item.SetFileName(NewName);
  Link(Item);
}

void TAbArchiveList::Clear() {
  while (!FList.empty()) FList.pop_back();
  std::fill(FBuckets.begin(), FBuckets.end(), nullptr);
}

TAbArchiveItem& TAbArchiveList::Items(int Index) const {
  ZASSERT(Index >= 0 && Index < Count(), "TAbArchiveList.Items: index out of range");
  return *FList[size_t(Index)];
}

// ---------------------------------------------------------------- TAbArchive

TAbArchive::TAbArchive(const std::string& FileName, uint16_t FileMode)
    : FArchiveName(FileName), FFileMode(FileMode) {
  FStream = OpenSpanStream(FileName, FSpanningThreshold, AbIsRemovableDrive(FileName), FileMode);
  ItemProgressCallback = [this](uint8_t progress, bool& abort) {
    ReportCurrentItemProgress(progress, abort);
  };
  SetBaseDirectory(ProgramDirectory());
  FPadLock = std::make_unique<TAbPadLock>();
  FState = stIdle;
}

TAbArchive::~TAbArchive() = default;

std::unique_ptr<TAbSpanStream> TAbArchive::OpenSpanStream(const std::string& Name,
                                                          int32_t Threshold, bool Removable,
                                                          uint16_t Mode) {
  auto stream =
      std::make_unique<TAbSpanStream>(Name, Threshold, Removable ? mkRemovable : mkFixed, Mode);
  stream->OnImageRequest = [this](TAbSpanStream&, int32_t imageNumber, std::string& imageName,
                                  bool& abort) { RequestSpanImage(imageNumber, imageName, abort); };
  stream->OnProgress = [this](uint8_t progress, bool& abort) {
    ReportSaveProgress(progress, abort);
  };
  return stream;
}

void TAbArchive::SetStream(std::unique_ptr<TAbSpanStream> Stream) {
  FStream = std::move(Stream);
}

std::unique_ptr<TAbSpanStream> TAbArchive::ReleaseStream() {
  return std::move(FStream);
}

void TAbArchive::CheckValid() const {
  if (FState == stInvalid) throw EAbNoArchive();
}

void TAbArchive::Lock() {
  FPadLock->SetHeld(true);
  FState = stBusy;
}

void TAbArchive::Unlock() {
  if (FState == stBusy) FState = stIdle;
  FPadLock->SetHeld(false);
}

void TAbArchive::RunLocked(const std::function<void()>& Body) {
  Lock();
  try {
    Body();
  } catch (...) {
    Unlock();
    throw;
  }
  Unlock();
}

void TAbArchive::SetBaseDirectory(const std::string& value) {
  std::string folder = value;
  if (folder.size() > 1 && folder.back() == '\\' && folder[folder.size() - 2] != ':')
    folder.pop_back();
  if (!folder.empty() && !AbIsDirectory(folder)) throw EAbNoSuchDirectory();
  FBaseDirectory = folder;
}

void TAbArchive::SetLogging(bool value) {
  FLogStream.reset();
  FLogging = value;
  if (!value || FLogFile.empty()) return;
  try {
    FLogStream = std::make_unique<TFileStream>(FLogFile, fmCreate | fmShareDenyWrite);
  } catch (const Exception&) {
    throw EAbException(AbMessageOf(38));
  }
  WriteLogLine(FArchiveName, 6);
}

void TAbArchive::WriteLogLine(const std::string& Name, int Kind) {
  if (!FLogStream) return;
  const std::string line = Name + AbMessageOf(LogMessageCode(Kind)) + LogTimeStamp() + "\r\n";
  FLogStream->WriteBuffer(line.data(), int32_t(line.size()));
}

// ------------------------------------------------------------------ reports

void TAbArchive::ReportItemFailure(TAbArchiveItem& Item, TAbProcessType ProcessType,
                                   TAbErrorClass ErrorClass, int32_t ErrorCode) {
  if (OnProcessItemFailure) OnProcessItemFailure(*this, Item, ProcessType, ErrorClass, ErrorCode);
}

void TAbArchive::ReportSaveProgress(uint8_t Progress, bool& Abort) {
  Abort = false;
  if (OnArchiveSaveProgress) OnArchiveSaveProgress(*this, Progress, Abort);
}

void TAbArchive::ReportArchiveProgress(uint8_t Progress, bool& Abort) {
  Abort = false;
  if (OnArchiveProgress) OnArchiveProgress(*this, Progress, Abort);
}

void TAbArchive::ReportItemProgress(TAbArchiveItem* Item, uint8_t Progress, bool& Abort) {
  Abort = false;
  if (OnArchiveItemProgress) OnArchiveItemProgress(*this, Item, Progress, Abort);
}

void TAbArchive::ConfirmItem(TAbArchiveItem& Item, TAbProcessType ProcessType, bool& Confirm) {
  Confirm = true;
  if (OnConfirmProcessItem) OnConfirmProcessItem(*this, Item, ProcessType, Confirm);
  if (Confirm && FLogging) {
    const int kind = ProcessType == ptFoundUnhandled ? 7 : int(ProcessType);
    WriteLogLine(Item.FileName(), kind);
  }
}

void TAbArchive::ConfirmSave(bool& Confirm) {
  Confirm = true;
  if (OnConfirmSave) OnConfirmSave(*this, Confirm);
}

void TAbArchive::ReportLoad() {
  if (OnLoad) OnLoad(*this);
}

void TAbArchive::ReportCurrentItemProgress(uint8_t Progress, bool& Abort) {
  Abort = false;
  ReportItemProgress(FCurrentItem, Progress, Abort);
}

void TAbArchive::ReportSave() {
  if (OnSave) OnSave(*this);
}

void TAbArchive::ReportStepProgress(uint8_t Progress) {
  bool abort = false;
  ReportCurrentItemProgress(Progress, abort);
  if (abort) throw EAbAbortProgress();
}

void TAbArchive::ReportStepProgressAlt(uint8_t Progress) {
  ReportStepProgress(Progress);
}

void TAbArchive::RequestSpanImage(int32_t, std::string&, bool&) {
  throw EAbSpanningNotSupported();
}

// ------------------------------------------------------------ the item list

void TAbArchive::MarkChanged(TAbArchiveItem& Item, TAbItemAction Action) {
  Item.Action = Action;
  FIsDirty = true;
  if (AutoSave) Save();
}

void TAbArchive::AddItem(std::unique_ptr<TAbArchiveItem> Item) {
  CheckValid();
  if (FItemList.HasActiveName(Item->FileName())) {
    if (StoreOptions.Contains(soFreshen))
      FreshenItem(*Item);
    else if (StoreOptions.Contains(soReplace))
      ReplaceItem(*Item);
    else
      ReportItemFailure(*Item, ptAdd, ecCorvel, EAbDuplicateName::Code);
    return;
  }
  bool confirm = true;
  ConfirmItem(*Item, ptAdd, confirm);
  if (!confirm) return;
  RunLocked([&] {
    TAbArchiveItem& item = *Item;
    FItemList.Append(std::move(Item));
    MarkChanged(item, iaAdd);
  });
}

void TAbArchive::Load() {
  Lock();
  try {
    ReadArchive();
    if (FState != stInvalid) FState = stIdle;
  } catch (...) {
    // A directory that could not be read must not be saved over the file.
    FState = stInvalid;
    ReportLoad();
    Unlock();
    throw;
  }
  ReportLoad();
  Unlock();
}

void TAbArchive::RenameItem(TAbArchiveItem& Item, const std::string& NewName) {
  CheckValid();
  const std::string stored = MakeStoredName(NewName);
  for (int i = 0; i < Count(); ++i) {
    const TAbArchiveItem& other = Items(i);
    if (other.Action != iaDelete && SameText(other.FileName(), stored)) {
      ReportItemFailure(Item, ptMove, ecCorvel, EAbDuplicateName::Code);
      return;
    }
  }
  SaveIfChanged(Item);
  RunLocked([&] {
    bool confirm = true;
    ConfirmItem(Item, ptMove, confirm);
    if (!confirm) return;
    FItemList.RenameItem(Item, stored);
    MarkChanged(Item, iaMove);
  });
}

void TAbArchive::Save() {
  if (FState == stInvalid) return;
  if (!FIsDirty && Count() > 0) return;
  RunLocked([&] {
    bool confirm = true;
    ConfirmSave(confirm);
    if (!confirm) return;
    WriteArchive();
    FIsDirty = false;
    ReportSave();
  });
}

void TAbArchive::AddMatching(const std::string& FileMask, const std::string& ExclusionMask,
                             uint32_t SearchAttr) {
  CheckValid();
  std::string mask = FileMask, exclusionMask = ExclusionMask;
  AbToBackslashes(mask);
  AbToBackslashes(exclusionMask);
  const TAbPathKind kind = AbPathKind(mask);
  const std::string folder =
      (kind == pkNone || kind == pkRelative) ? FBaseDirectory : std::string();
  TCurrentDirScope scope(folder);

  const bool recurse = StoreOptions.Contains(soRecurse);
  const uint32_t attributes = SearchAttr & ~uint32_t(faDirectory);
  std::vector<std::string> exclusions, candidates;
  if (!exclusionMask.empty()) AbCollectFilesMulti(exclusionMask, attributes, exclusions, recurse);
  AbCollectFilesMulti(mask, attributes, candidates, recurse);

  // Compared as full paths without case, so the archive is never added to
  // itself however the mask spells its name.
  const std::string archive = ExpandFileName(FArchiveName);
  for (const std::string& candidate : candidates) {
    bool excluded = false;
    for (const std::string& exclusion : exclusions)
      excluded = excluded || SameText(candidate, exclusion);
    if (excluded || SameText(ExpandFileName(candidate), archive)) continue;
    AddItem(NewItem(candidate));
  }
}

void TAbArchive::ExtractMatching(const std::string& FileMask, const std::string& ExclusionMask) {
  // BaseDirectory is UTF-8 like every disk path here; there is no OEM form to undo.
  CheckValid();
  const int count = Count();
  if (count == 0) return;
  for (int i = 0; i < count; ++i) {
    TAbArchiveItem& item = Items(i);
    if (item.MatchesAnyMask(FileMask) && !item.MatchesAnyMask(ExclusionMask))
      ExtractEntry(i, std::string());
    bool abort = false;
    ReportArchiveProgress(AbPercentOf(i + 1, count), abort);
    if (abort) throw EAbUserAbort();
  }
  bool abort = false;
  ReportArchiveProgress(100, abort);
}

void TAbArchive::ExtractEntry(int Index, const std::string& NewName) {
  CheckValid();
  TAbArchiveItem& item = Items(Index);
  SaveIfChanged(item);
  RunLocked([&] {
    bool confirm = true;
    ConfirmItem(item, ptExtract, confirm);
    if (!confirm) return;
    const std::string name = NewName.empty() ? item.FileName() : NewName;
    FCurrentItem = &item;
    try {
      ExtractOne(Index, name);
    } catch (const std::exception& e) {
      TAbErrorClass errorClass;
      int32_t errorCode;
      AbClassifyException(e, errorClass, errorCode);
      ReportItemFailure(item, ptExtract, errorClass, errorCode);
    }
  });
}

void TAbArchive::FreshenItem(TAbArchiveItem& Item) {
  CheckValid();
  const int index = IndexOfItem(Item);
  if (index >= 0) FreshenEntry(index);
}

void TAbArchive::FreshenEntry(int Index) {
  CheckValid();
  TAbArchiveItem& item = Items(Index);
  SaveIfChanged(item);
  RunLocked([&] {
    ResolveDiskPath(item);
    bool changed = false;
    try {
      changed = FreshenRequired(item);
    } catch (const std::exception& e) {
      TAbErrorClass errorClass;
      int32_t errorCode;
      AbClassifyException(e, errorClass, errorCode);
      ReportItemFailure(item, ptFreshen, errorClass, errorCode);
    }
    if (!changed) return;
    bool confirm = true;
    ConfirmItem(item, ptFreshen, confirm);
    if (confirm) MarkChanged(item, iaFreshen);
  });
}

void TAbArchive::ReplaceItem(TAbArchiveItem& Item) {
  CheckValid();
  const int index = IndexOfItem(Item);
  if (index >= 0) ReplaceEntry(index);
}

void TAbArchive::ReplaceEntry(int Index) {
  CheckValid();
  TAbArchiveItem& item = Items(Index);
  SaveIfChanged(item);
  RunLocked([&] {
    ResolveDiskPath(item);
    bool confirm = true;
    ConfirmItem(item, ptReplace, confirm);
    if (confirm) MarkChanged(item, iaReplace);
  });
}

int TAbArchive::IndexOfItem(const TAbArchiveItem& Item) const {
  return FItemList.IndexOfName(Item.FileName());
}

void TAbArchive::SaveIfChanged(TAbArchiveItem& Item) {
  if (Item.Action != iaNone) Save();
}

void TAbArchive::ResolveDiskPath(TAbArchiveItem& Item) {
  const std::string name = Item.FileName();
  if (StoreOptions.Contains(soRecurse) && AbPathKind(name) == pkNone) {
    std::vector<std::string> found;
    {
      TCurrentDirScope scope(FBaseDirectory);
      AbCollectFiles(name, faReadOnly | faHidden | faSysFile | faVolumeID | faArchive, found, true);
    }
    Item.DiskPath = found.empty() ? std::string()
                                  : WithBackslashes(AbWithTrailingSlash(FBaseDirectory) + found[0]);
    return;
  }
  Item.DiskPath =
      WithBackslashes(FBaseDirectory.empty() ? name : AbWithTrailingSlash(FBaseDirectory) + name);
}

bool TAbArchive::FreshenRequired(TAbArchiveItem& Item) {
  TCurrentDirScope scope(FBaseDirectory);
  TFileStream file(Item.DiskPath, fmOpenRead | fmShareDenyWrite);
  const int32_t dosDate = FileGetDate(file.Handle());
  return AbDosDateOf(dosDate) != Item.LastModFileDate() ||
         AbDosTimeOf(dosDate) != Item.LastModFileTime();
}

// ------------------------------------------------------------- free helpers

bool AbMakeExtractPath(const std::string& BaseDirectory, std::string& Name,
                       const TAbExtractOptions& ExtractOptions,
                       const TAbConfirmOverwriteEvent& ConfirmOverwrite) {
  bool confirm = true;
  AbToBackslashes(Name);
  std::string target = BaseDirectory;
  if (!target.empty() && target.back() != '\\') target += '\\';
  if (ExtractOptions.Contains(eoRestorePath)) {
    target += Name;
  } else {
    const size_t slash = Name.find_last_of('\\');
    target += slash == std::string::npos ? Name : Name.substr(slash + 1);
  }
  const size_t slash = target.find_last_of('\\');
  const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash);
  if (!dir.empty() && !AbIsDirectory(dir)) {
    if (!ExtractOptions.Contains(eoCreateDirs)) throw EAbNoSuchDirectory();
    AbMakeDirPath(dir);
  }
  if (FileExists(target) && ConfirmOverwrite) ConfirmOverwrite(target, confirm);
  if (confirm) Name = target;
  return confirm;
}
