// The zipper: the component that creates or opens a ZIP archive, adds files
// to it and saves it, compressing each new item with CompressFileItem.
#pragma once

#include <cstdint>
#include <string>

#include "archive/AbZBrows.h"

class TAbCustomZipper : public TAbCustomZipBrowser {
 public:
  TAbCustomZipper() = default;

  // Adds every file matching FileMask (';'-separated) found with SearchAttr;
  // EAbNoArchive without an archive.
  void AddMatching(const std::string& FileMask, uint32_t SearchAttr);
  // Saves the open archive (nothing without one).
  void Save();
  // The ZIP comment; EAbNoArchive without an archive.
  void SetArchiveComment(const std::string& Text) override;

  // Saves the old archive (its error reaches the caller and nothing else
  // happens) and frees it. Then an existing file is opened and loaded; a
  // missing one is created empty at once. EAbUnhandledType for a kind this
  // engine does not write; the component then holds no archive.
  void SetFileName(const std::string& Value) override;

  bool AutoSave() const { return FAutoSave; }
  void SetAutoSave(bool Value);
  TAbZipSupportedMethod CompressionMethodToUse() const { return FCompressionMethodToUse; }
  void SetCompressionMethodToUse(TAbZipSupportedMethod Value);
  TAbZipDeflationOption DeflationOption() const { return FDeflationOption; }
  void SetDeflationOption(TAbZipDeflationOption Value);
  bool DOSMode() const { return FDOSMode; }
  void SetDOSMode(bool Value);
  const TAbStoreOptions& StoreOptions() const { return FStoreOptions; }
  void SetStoreOptions(const TAbStoreOptions& Value);
  TAbMeterLink* ArchiveSaveProgressMeter() const { return FArchiveSaveProgressMeter; }
  void SetArchiveSaveProgressMeter(TAbMeterLink* Value);

  TAbProgressEvent OnArchiveSaveProgress;
  TAbConfirmEvent OnConfirmSave;
  TAbNotifyEvent OnSave;
  TAbRequestDiskEvent OnRequestBlankDisk;

 protected:
  // Also resets the save meter.
  void ClearMeters() override;
  void AttachArchive() override;
  void MeterLinkDestroyed(TAbMeterLink& Link) override;
  virtual void ForwardConfirmSave(bool& Confirm);
  virtual void ForwardSave();
  void ForwardSaveProgress(uint8_t Progress, bool& Abort);

 private:
  // Creates the empty archive file of a new name.
  void CreateNew(const std::string& Name, TAbArchiveType Kind);

  bool FAutoSave = false;
  TAbZipSupportedMethod FCompressionMethodToUse = smBestMethod;
  TAbZipDeflationOption FDeflationOption = doNormal;
  bool FDOSMode = false;
  TAbStoreOptions FStoreOptions{soStripDrive, soRemoveDots};
  TAbMeterLink* FArchiveSaveProgressMeter = nullptr;
};

// The zipper as the windows place it.
class TAbZipper : public TAbCustomZipper {};
