#include "archive/AbZipper.h"

#include <memory>

#include "archive/AbExcept.h"
#include "archive/deflate/AbZipPrc.h"
#include "platform/DriveMap.h"
#include "platform/FileSystem.h"

void TAbCustomZipper::AddMatching(const std::string& FileMask, uint32_t SearchAttr) {
  if (!FArchive) throw EAbNoArchive();
  FArchive->AddMatching(FileMask, std::string(), SearchAttr);
  NotifyChange();
}

void TAbCustomZipper::Save() {
  if (!FArchive) return;
  FArchive->Save();
  NotifyChange();
}

void TAbCustomZipper::SetArchiveComment(const std::string& Text) {
  if (!FArchive) throw EAbNoArchive();
  if (TAbZipArchive* zip = ZipArchive()) zip->SetComment(Text);
}

void TAbCustomZipper::CreateNew(const std::string& Name, TAbArchiveType Kind) {
  if (Kind != atZip) throw EAbUnhandledType();
  FArchive = std::make_unique<TAbZipArchive>(ExpandFileName(Name), fmCreate | fmShareDenyNone);
  AttachArchive();
  FArchiveType = Kind;
}

void TAbCustomZipper::SetFileName(const std::string& Value) {
  FFileName = Value;
  if (FArchive) {
    FArchive->Save();
    FArchive.reset();
  }
  if (Value.empty()) return;
  if (FileExists(Value))
    OpenExisting(Value, KindOf(Value));
  else
    CreateNew(Value, KindOf(Value));
  NotifyChange();
}

void TAbCustomZipper::SetAutoSave(bool Value) {
  FAutoSave = Value;
  if (TAbZipArchive* zip = ZipArchive()) zip->AutoSave = Value;
}

void TAbCustomZipper::SetCompressionMethodToUse(TAbZipSupportedMethod Value) {
  FCompressionMethodToUse = Value;
  if (TAbZipArchive* zip = ZipArchive()) zip->CompressionMethodToUse = Value;
}

void TAbCustomZipper::SetDeflationOption(TAbZipDeflationOption Value) {
  FDeflationOption = Value;
  if (TAbZipArchive* zip = ZipArchive()) zip->DeflationOption = Value;
}

void TAbCustomZipper::SetDOSMode(bool Value) {
  FDOSMode = Value;
  if (TAbZipArchive* zip = ZipArchive()) zip->DOSMode = Value;
}

void TAbCustomZipper::SetStoreOptions(const TAbStoreOptions& Value) {
  FStoreOptions = Value;
  if (TAbZipArchive* zip = ZipArchive()) zip->StoreOptions = Value;
}

void TAbCustomZipper::SetArchiveSaveProgressMeter(TAbMeterLink* Value) {
  UseMeterLink(FArchiveSaveProgressMeter, Value);
}

void TAbCustomZipper::ClearMeters() {
  TAbCustomZipBrowser::ClearMeters();
  ResetMeter(FArchiveSaveProgressMeter);
}

void TAbCustomZipper::MeterLinkDestroyed(TAbMeterLink& Link) {
  if (FArchiveSaveProgressMeter == &Link) FArchiveSaveProgressMeter = nullptr;
  TAbCustomZipBrowser::MeterLinkDestroyed(Link);
}

void TAbCustomZipper::ForwardConfirmSave(bool& Confirm) {
  Confirm = true;
  if (OnConfirmSave) OnConfirmSave(*this, Confirm);
}

void TAbCustomZipper::ForwardSave() {
  if (OnSave) OnSave(*this);
}

void TAbCustomZipper::ForwardSaveProgress(uint8_t Progress, bool& Abort) {
  Abort = false;
  ShowOnMeter(FArchiveSaveProgressMeter, Progress);
  if (OnArchiveSaveProgress) OnArchiveSaveProgress(*this, Progress, Abort);
}

void TAbCustomZipper::AttachArchive() {
  TAbCustomZipBrowser::AttachArchive();
  TAbZipArchive* zip = ZipArchive();
  if (zip == nullptr) return;
  zip->AutoSave = FAutoSave;
  zip->CompressionMethodToUse = FCompressionMethodToUse;
  zip->DeflationOption = FDeflationOption;
  zip->DOSMode = FDOSMode;
  zip->StoreOptions = FStoreOptions;
  zip->OnArchiveSaveProgress = [this](TAbArchive&, uint8_t progress, bool& abort) {
    ForwardSaveProgress(progress, abort);
  };
  zip->OnConfirmSave = [this](TAbArchive&, bool& confirm) { ForwardConfirmSave(confirm); };
  zip->OnSave = [this](TAbArchive&) { ForwardSave(); };
  zip->OnRequestBlankDisk = OnRequestBlankDisk;
  zip->InsertHook = CompressFileItem;
  zip->InsertFromStreamHook = [](TAbArchive& sender, TAbArchiveItem& item, TStream& outStream,
                                 TStream* inStream) {
    if (inStream == nullptr) throw EAbZipNoInsertion();
    CompressStreamItem(sender, item, outStream, *inStream);
  };
}
