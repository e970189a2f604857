// What the zipper and the unzipper share: the archive kinds and their
// detection, the progress-meter link, and TAbBaseBrowser, which holds the
// archive object and the settings common to both directions and forwards the
// archive's events to its own events and meters.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/AbArcTyp.h"
#include "archive/AbBase.h"

// Archive kinds, numbered as the components report them.
enum TAbArchiveType {
  atUnknown = 0,
  atZip = 1,
  atSpannedZip = 2,
  atSelfExtZip = 3,
  atTar = 4,
  atGzip = 5,
  atGzippedTar = 6,
  atCab = 7,
};

// The kind of FileName. An existing non-empty file is judged by its contents
// as its (ASCII case-free) extension asks: ".ZIP" the ZIP test (ZIP, spanned
// ZIP or unknown), ".EXE" the self-extracting test; other extensions give
// unknown (TAR, GZIP and cabinet files are not read by this engine). A
// missing or empty file goes by the extension alone: ".ZIP", ".TAR", ".GZ",
// ".TGZ", ".CAB", else unknown.
TAbArchiveType AbArchiveKindOf(const std::string& FileName);

class TAbBaseBrowser;

// A progress sink: shows a percentage or resets. A browser that uses a link
// drops its references when the link is destroyed.
class TAbMeterLink : public TAbBaseComponent {
 public:
  ~TAbMeterLink() override;

  virtual void DoProgress(uint8_t Progress) = 0;
  virtual void Reset() = 0;

 private:
  friend class TAbBaseBrowser;
  std::vector<TAbBaseBrowser*> FUsers;
};

// Events of the components; Sender is the component itself.
using TAbNotifyEvent = std::function<void(TAbBaseComponent& Sender)>;
using TAbProgressEvent =
    std::function<void(TAbBaseComponent& Sender, uint8_t Progress, bool& Abort)>;
// Item is null when the archive reports progress with no current item.
using TAbItemProgressEvent = std::function<void(TAbBaseComponent& Sender, TAbArchiveItem* Item,
                                                uint8_t Progress, bool& Abort)>;
using TAbItemConfirmEvent = std::function<void(TAbBaseComponent& Sender, TAbArchiveItem& Item,
                                               TAbProcessType ProcessType, bool& Confirm)>;
using TAbItemFailureEvent =
    std::function<void(TAbBaseComponent& Sender, TAbArchiveItem& Item, TAbProcessType ProcessType,
                       TAbErrorClass ErrorClass, int32_t ErrorCode)>;
using TAbConfirmEvent = std::function<void(TAbBaseComponent& Sender, bool& Confirm)>;

// A component that holds at most one archive object, for its FileName.
// Every setter stores the value and passes it to an open archive at once.
class TAbBaseBrowser : public TAbBaseComponent {
 public:
  TAbBaseBrowser() = default;
  // Frees the archive without saving it.
  ~TAbBaseBrowser() override;

  // The archive object, or null while none is open.
  TAbArchive* Archive() const { return FArchive.get(); }

  const std::string& FileName() const { return FFileName; }
  // Ends the old archive and opens or creates the one FileName names.
  virtual void SetFileName(const std::string& Value) = 0;
  // Sets FileName to empty when it is not.
  void CloseFile();

  // The archive keeps its own form of the folder (no trailing '\' except
  // after a drive) and refuses a missing one with EAbNoSuchDirectory.
  const std::string& BaseDirectory() const { return FBaseDirectory; }
  void SetBaseDirectory(const std::string& Value);
  const std::string& TempDirectory() const { return FTempDirectory; }
  void SetTempDirectory(const std::string& Value);
  const std::string& LogFile() const { return FLogFile; }
  // Also switches Logging on when Value is not empty, off when it is.
  void SetLogFile(const std::string& Value);
  bool Logging() const { return FLogging; }
  void SetLogging(bool Value);
  int32_t SpanningThreshold() const { return FSpanningThreshold; }
  void SetSpanningThreshold(int32_t Value);

  // The kind last opened or created (atUnknown at first). With ForceType on,
  // the kind set here is used instead of detecting it.
  TAbArchiveType ArchiveType() const { return FArchiveType; }
  void SetArchiveType(TAbArchiveType Value) { FArchiveType = Value; }
  bool ForceType() const { return FForceType; }
  void SetForceType(bool Value) { FForceType = Value; }

  // Meter links (not owned); null for none.
  TAbMeterLink* ArchiveProgressMeter() const { return FArchiveProgressMeter; }
  void SetArchiveProgressMeter(TAbMeterLink* Value);
  TAbMeterLink* ItemProgressMeter() const { return FItemProgressMeter; }
  void SetItemProgressMeter(TAbMeterLink* Value);

  // Items of the open archive; 0 without one.
  int Count() const { return FArchive ? FArchive->Count() : 0; }

  // The window has been created from its stored form: raises OnChange once.
  void Loaded();

  const TAbRequestImageEvent& OnRequestImage() const { return FOnRequestImage; }
  virtual void SetOnRequestImage(const TAbRequestImageEvent& Value);

  TAbProgressEvent OnArchiveProgress;
  TAbItemProgressEvent OnArchiveItemProgress;
  TAbNotifyEvent OnChange;
  TAbItemConfirmEvent OnConfirmProcessItem;
  TAbNotifyEvent OnLoad;
  TAbItemFailureEvent OnProcessItemFailure;

 protected:
  // Resets the archive and item meters.
  virtual void ClearMeters();
  virtual void ForwardItemProgress(TAbArchiveItem* Item, uint8_t Progress, bool& Abort);
  virtual void ForwardArchiveProgress(uint8_t Progress, bool& Abort);
  // Raises OnChange.
  virtual void NotifyChange();
  virtual void ForwardConfirmItem(TAbArchiveItem& Item, TAbProcessType ProcessType, bool& Confirm);
  virtual void ForwardLoad();
  // Only OnProcessItemFailure hears of a failure; without it nobody does.
  virtual void ForwardItemFailure(TAbArchiveItem& Item, TAbProcessType ProcessType,
                                  TAbErrorClass ErrorClass, int32_t ErrorCode);
  // Hands the settings to a newly created archive and binds its events.
  virtual void AttachArchive();
  // Link is going away: every reference to it becomes null.
  virtual void MeterLinkDestroyed(TAbMeterLink& Link);

  // Sets a meter field, so that the link tells this browser when it goes.
  void UseMeterLink(TAbMeterLink*& Field, TAbMeterLink* Value);
  static void ResetMeter(TAbMeterLink* Link);
  static void ShowOnMeter(TAbMeterLink* Link, uint8_t Progress);

  std::unique_ptr<TAbArchive> FArchive;
  std::string FFileName;
  TAbArchiveType FArchiveType = atUnknown;
  bool FForceType = false;

 private:
  friend class TAbMeterLink;

  std::string FBaseDirectory;
  std::string FTempDirectory;
  std::string FLogFile;
  bool FLogging = false;
  int32_t FSpanningThreshold = 0;
  TAbMeterLink* FArchiveProgressMeter = nullptr;
  TAbMeterLink* FItemProgressMeter = nullptr;
  // Links this browser registered with, to unregister when it goes first.
  std::vector<TAbMeterLink*> FWatchedLinks;
  TAbRequestImageEvent FOnRequestImage;
};
