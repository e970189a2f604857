// The archive model: items with a pending action, the item list with its
// name index, and the archive object that records changes and rebuilds the
// whole archive file on save. The archive never compresses or extracts by
// itself; a descendant calls out through hooks (see AbZipTyp.h).
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "archive/AbExcept.h"
#include "platform/Classes.h"

class TAbArchive;
class TAbArchiveItem;
class TAbPadLock;
class TAbSpanStream;

enum TAbItemAction { iaNone, iaAdd, iaDelete, iaFreshen, iaMove, iaReplace, iaStreamAdd };
enum TAbProcessType { ptAdd, ptDelete, ptExtract, ptFreshen, ptMove, ptReplace, ptFoundUnhandled };
enum TAbArchiveState { stInvalid, stIdle, stBusy };
enum TAbStoreOption { soStripDrive, soStripPath, soRemoveDots, soRecurse, soFreshen, soReplace };
enum TAbExtractOption { eoCreateDirs, eoRestorePath };

// A small set of enumeration values, as the option sets of the components.
template <class TEnum>
class TAbSet {
 public:
  TAbSet() = default;
  TAbSet(std::initializer_list<TEnum> values) {
    for (TEnum value : values) Include(value);
  }
  bool Contains(TEnum value) const { return (FBits & Bit(value)) != 0; }
  void Include(TEnum value) { FBits |= Bit(value); }
  void Exclude(TEnum value) { FBits &= ~Bit(value); }
  bool Empty() const { return FBits == 0; }
  bool operator==(const TAbSet& other) const { return FBits == other.FBits; }
  bool operator!=(const TAbSet& other) const { return FBits != other.FBits; }

 private:
  static uint32_t Bit(TEnum value) { return uint32_t(1) << unsigned(value); }
  uint32_t FBits = 0;
};
using TAbStoreOptions = TAbSet<TAbStoreOption>;
using TAbExtractOptions = TAbSet<TAbExtractOption>;

// Events: method pointers; an empty function means no handler. Parameters
// passed by non-const reference are the "var" parameters a handler may change.
using TAbArchiveEvent = std::function<void(TAbArchive& Sender)>;
using TAbArchiveConfirmEvent = std::function<void(TAbArchive& Sender, bool& Confirm)>;
using TAbArchiveProgressEvent =
    std::function<void(TAbArchive& Sender, uint8_t Progress, bool& Abort)>;
using TAbArchiveItemConfirmEvent = std::function<void(TAbArchive& Sender, TAbArchiveItem& Item,
                                                      TAbProcessType ProcessType, bool& Confirm)>;
using TAbConfirmOverwriteEvent = std::function<void(std::string& Name, bool& Confirm)>;
using TAbArchiveItemFailureEvent =
    std::function<void(TAbArchive& Sender, TAbArchiveItem& Item, TAbProcessType ProcessType,
                       TAbErrorClass ErrorClass, int32_t ErrorCode)>;
// Item is null when no item is current.
using TAbArchiveItemProgressEvent =
    std::function<void(TAbArchive& Sender, TAbArchiveItem* Item, uint8_t Progress, bool& Abort)>;
using TAbRequestImageEvent = std::function<void(TAbArchive& Sender, int32_t ImageNumber,
                                                std::string& ImageName, bool& Abort)>;
using TAbProgressCallback = std::function<void(uint8_t Progress, bool& Abort)>;

// Raised by ReportStepProgress when a handler asks to stop ("Process aborted by user").
class EAbAbortProgress : public EAbException {
 public:
  EAbAbortProgress() : EAbException(AbMessageOf(9)) {}
};

// One entry of an archive. The base keeps its values in fields; a kind of
// archive may redirect the accessors to its own records.
//
// Sizes are 64-bit here so that a value of 4 GiB or more survives until the
// writer refuses it; the ZIP records themselves hold 32 bits.
class TAbArchiveItem {
 public:
  TAbArchiveItem() = default;
  virtual ~TAbArchiveItem() = default;
  TAbArchiveItem(const TAbArchiveItem&) = delete;
  TAbArchiveItem& operator=(const TAbArchiveItem&) = delete;

  virtual int64_t CompressedSize() const { return FCompressedSize; }
  virtual uint32_t CRC32() const { return FCRC32; }
  virtual uint32_t ExternalFileAttributes() const { return FExternalFileAttributes; }
  virtual std::string FileName() const { return FFileName; }
  virtual bool IsEncrypted() const { return FIsEncrypted; }
  virtual uint16_t LastModFileDate() const { return FLastModFileDate; }
  virtual uint16_t LastModFileTime() const { return FLastModFileTime; }
  virtual int64_t UncompressedSize() const { return FUncompressedSize; }

  virtual void SetCompressedSize(int64_t value) { FCompressedSize = value; }
  virtual void SetCRC32(uint32_t value) { FCRC32 = value; }
  virtual void SetExternalFileAttributes(uint32_t value) { FExternalFileAttributes = value; }
  virtual void SetFileName(const std::string& value) { FFileName = value; }
  virtual void SetIsEncrypted(bool value) { FIsEncrypted = value; }
  virtual void SetLastModFileDate(uint16_t value) { FLastModFileDate = value; }
  virtual void SetLastModFileTime(uint16_t value) { FLastModFileTime = value; }
  virtual void SetUncompressedSize(int64_t value) { FUncompressedSize = value; }

  // Whether FileName matches Mask (drive dropped, '/' and '\' alike, no letter case).
  bool MatchesMask(const std::string& Mask) const;
  // Whether any of the ';'-separated masks matches; an empty list matches nothing.
  bool MatchesAnyMask(const std::string& MaskList) const;

  // Next item of the same name-hash bucket; kept by TAbArchiveList.
  TAbArchiveItem* NextInBucket = nullptr;
  TAbItemAction Action = iaNone;
  // The item's file on disk (UTF-8, Windows path).
  std::string DiskPath;
  bool Marked = false;

 protected:
  int64_t FCompressedSize = 0;
  uint32_t FCRC32 = 0;
  uint32_t FExternalFileAttributes = 0;
  std::string FFileName;
  bool FIsEncrypted = false;
  uint16_t FLastModFileTime = 0;
  uint16_t FLastModFileDate = 0;
  int64_t FUncompressedSize = 0;
};

// The ordered items of an archive, with an index of their names in 1021
// buckets so that lookups stay fast with thousands of items. The list owns
// its items.
class TAbArchiveList {
 public:
  static constexpr int BucketCount = 1021;

  TAbArchiveList();
  ~TAbArchiveList();
  TAbArchiveList(const TAbArchiveList&) = delete;
  TAbArchiveList& operator=(const TAbArchiveList&) = delete;

  // Takes Item at the end of the list; returns its index.
  int Append(std::unique_ptr<TAbArchiveItem> Item);
  // Index of the first item named Name (ASCII letters without case), or -1.
  int IndexOfName(const std::string& Name) const;
  // Whether an item named Name exists whose action is not iaDelete.
  bool HasActiveName(const std::string& Name) const;
  // Frees the item at Index and removes it.
  void DeleteAt(int Index);
  // Gives Item the name NewName and moves it to the bucket of that name.
  void RenameItem(TAbArchiveItem& Item, const std::string& NewName);
  // Frees every item.
  void Clear();
  int Count() const { return int(FList.size()); }
  // The item at Index (0 <= Index < Count).
  TAbArchiveItem& Items(int Index) const;

  // Bucket of a name: an ELF-style hash of its upper-cased bytes.
  static int BucketOf(const std::string& Name);

 private:
  void Unlink(TAbArchiveItem& Item);
  void Link(TAbArchiveItem& Item);

  std::vector<std::unique_ptr<TAbArchiveItem>> FList;
  std::vector<TAbArchiveItem*> FBuckets;
};

// The in-memory model of one archive file. Changes are recorded as pending
// actions of the items and carried out by Save, which rebuilds the file.
//
// Order of use: construct (FileName, FileMode) -> set properties and hooks ->
// Load (existing file) -> AddMatching / ExtractMatching ... -> Save -> destroy.
class TAbArchive {
 public:
  // Opens FileName (a full path) with FileMode as the archive's span stream.
  TAbArchive(const std::string& FileName, uint16_t FileMode);
  virtual ~TAbArchive();
  TAbArchive(const TAbArchive&) = delete;
  TAbArchive& operator=(const TAbArchive&) = delete;

  // --- operations of a kind of archive ---
  virtual std::unique_ptr<TAbArchiveItem> NewItem(const std::string& FileSpec) = 0;
  virtual void ExtractOne(int Index, const std::string& NewName) = 0;
  virtual void ExtractOneToStream(int Index, TStream& Stream) = 0;
  virtual void ReadArchive() = 0;
  virtual void WriteArchive() = 0;
  virtual void TestOne(int Index) = 0;
  virtual std::string MakeStoredName(const std::string& FileSpec) = 0;

  // --- reports: each fires its event when set ---
  virtual void ReportItemFailure(TAbArchiveItem& Item, TAbProcessType ProcessType,
                                 TAbErrorClass ErrorClass, int32_t ErrorCode);
  virtual void ReportSaveProgress(uint8_t Progress, bool& Abort);
  virtual void ReportArchiveProgress(uint8_t Progress, bool& Abort);
  virtual void ReportItemProgress(TAbArchiveItem* Item, uint8_t Progress, bool& Abort);
  // Confirm := true, then OnConfirmProcessItem; logs the item when confirmed.
  virtual void ConfirmItem(TAbArchiveItem& Item, TAbProcessType ProcessType, bool& Confirm);
  virtual void ConfirmSave(bool& Confirm);
  virtual void ReportLoad();
  virtual void ReportCurrentItemProgress(uint8_t Progress, bool& Abort);
  virtual void ReportSave();
  // Item progress of CurrentItem; an abort answer raises EAbAbortProgress.
  virtual void ReportStepProgress(uint8_t Progress);
  virtual void ReportStepProgressAlt(uint8_t Progress);
  // The span stream's image callback; kinds without spanning refuse it.
  virtual void RequestSpanImage(int32_t ImageNumber, std::string& ImageName, bool& Abort);

  virtual int32_t SpanningThreshold() const { return FSpanningThreshold; }
  virtual void SetSpanningThreshold(int32_t value) { FSpanningThreshold = value; }

  // Takes ownership of Item and records it for adding; a duplicate name is
  // freshened, replaced or reported as failure 7 (ptAdd) by StoreOptions.
  virtual void AddItem(std::unique_ptr<TAbArchiveItem> Item);
  // Reads the archive's directory (ReadArchive) under the lock; OnLoad always fires.
  virtual void Load();
  // Renames Item to the stored form of NewName; a duplicate is failure 7 (ptMove).
  virtual void RenameItem(TAbArchiveItem& Item, const std::string& NewName);
  // Rebuilds the archive file when there are changes (an empty archive always).
  virtual void Save();

  // --- operations of the components ---
  // Adds every file matching FileMask (';'-separated) and not ExclusionMask.
  void AddMatching(const std::string& FileMask, const std::string& ExclusionMask,
                   uint32_t SearchAttr);
  // Extracts every item matching FileMask and not ExclusionMask; item
  // failures go to OnProcessItemFailure.
  void ExtractMatching(const std::string& FileMask, const std::string& ExclusionMask);
  void ExtractEntry(int Index, const std::string& NewName);
  void FreshenItem(TAbArchiveItem& Item);
  void FreshenEntry(int Index);
  void ReplaceItem(TAbArchiveItem& Item);
  void ReplaceEntry(int Index);
  // Index of the item's FileName, or -1.
  int IndexOfItem(const TAbArchiveItem& Item) const;
  int Count() const { return FItemList.Count(); }
  TAbArchiveItem& Items(int Index) const { return FItemList.Items(Index); }

  const std::string& BaseDirectory() const { return FBaseDirectory; }
  // Drops a trailing '\' (not after a drive); EAbNoSuchDirectory for a missing folder.
  void SetBaseDirectory(const std::string& value);
  bool Logging() const { return FLogging; }
  // Closes any open log; switching on with a LogFile set creates the file
  // and writes its first line ("Error creating Log File" when it cannot).
  void SetLogging(bool value);
  const std::string& LogFile() const { return FLogFile; }
  void SetLogFile(const std::string& value) { FLogFile = value; }

  TAbArchiveState State() const { return FState; }
  // An extraction that the user stopped leaves the archive unusable (stInvalid).
  void SetState(TAbArchiveState value) { FState = value; }
  const std::string& ArchiveName() const { return FArchiveName; }
  bool IsDirty() const { return FIsDirty; }
  bool IsSpannedSet() const { return FIsSpannedSet; }
  uint16_t FileMode() const { return FFileMode; }
  TAbArchiveItem* CurrentItem() const { return FCurrentItem; }
  // The archive file (the current volume of a spanned set).
  TAbSpanStream& Stream() const { return *FStream; }
  TAbArchiveList& ItemList() { return FItemList; }

  // The item progress callback of the per-item helpers (ReportCurrentItemProgress).
  TAbProgressCallback ItemProgressCallback;

  bool AutoSave = false;
  bool DOSMode = false;
  TAbExtractOptions ExtractOptions;
  TAbStoreOptions StoreOptions;
  std::string TempDirectory;
  // Source of iaStreamAdd items; not owned.
  TStream* InStream = nullptr;

  TAbArchiveItemFailureEvent OnProcessItemFailure;
  TAbArchiveProgressEvent OnArchiveProgress;
  TAbArchiveProgressEvent OnArchiveSaveProgress;
  TAbArchiveItemProgressEvent OnArchiveItemProgress;
  TAbArchiveItemConfirmEvent OnConfirmProcessItem;
  TAbConfirmOverwriteEvent OnConfirmOverwrite;
  TAbArchiveConfirmEvent OnConfirmSave;
  TAbArchiveEvent OnLoad;
  TAbRequestImageEvent OnRequestImage;
  TAbArchiveEvent OnSave;

 protected:
  // EAbNoArchive when the archive is not usable.
  void CheckValid() const;
  void Lock();
  void Unlock();
  // Saves the whole archive first when Item has a pending action.
  void SaveIfChanged(TAbArchiveItem& Item);
  void ResolveDiskPath(TAbArchiveItem& Item);
  bool FreshenRequired(TAbArchiveItem& Item);
  // Writes "Name + kind word + date and time" and CR LF to the open log.
  void WriteLogLine(const std::string& Name, int Kind);
  // A span stream on Name wired to this archive's image and progress callbacks.
  std::unique_ptr<TAbSpanStream> OpenSpanStream(const std::string& Name, int32_t Threshold,
                                                bool Removable, uint16_t Mode);
  void SetStream(std::unique_ptr<TAbSpanStream> Stream);
  std::unique_ptr<TAbSpanStream> ReleaseStream();
  void MarkChanged(TAbArchiveItem& Item, TAbItemAction Action);

  TAbArchiveState FState = stInvalid;
  std::string FArchiveName;
  TAbArchiveItem* FCurrentItem = nullptr;
  bool FIsDirty = false;
  bool FIsSpannedSet = false;
  uint16_t FFileMode = 0;
  int32_t FSpanningThreshold = 0;
  TAbArchiveList FItemList;

 private:
  void RunLocked(const std::function<void()>& Body);

  std::unique_ptr<TAbSpanStream> FStream;
  std::string FBaseDirectory;
  std::string FLogFile;
  bool FLogging = false;
  std::unique_ptr<TStream> FLogStream;
  std::unique_ptr<TAbPadLock> FPadLock;
};

// Where an extracted item goes: BaseDirectory + Name (or its bare file name
// without eoRestorePath), creating missing folders with eoCreateDirs (else
// EAbNoSuchDirectory) and asking ConfirmOverwrite for an existing file. Name
// becomes the target when the answer is to go on; returns that answer.
bool AbMakeExtractPath(const std::string& BaseDirectory, std::string& Name,
                       const TAbExtractOptions& ExtractOptions,
                       const TAbConfirmOverwriteEvent& ConfirmOverwrite);
