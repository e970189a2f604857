#include "archive/AbBrowse.h"

#include <algorithm>

#include "archive/AbUtils.h"
#include "archive/AbZipTyp.h"
#include "platform/Classes.h"
#include "platform/FileSystem.h"

namespace {

// The extension of the last path part, dot included, in ASCII capitals.
std::string UpperExtensionOf(const std::string& fileName) {
  const size_t slash = fileName.find_last_of("\\/:");
  const size_t partStart = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = fileName.find_last_of('.');
  if (dot == std::string::npos || dot < partStart) return std::string();
  std::string extension = fileName.substr(dot);
  for (char& c : extension)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return extension;
}

TAbArchiveType KindByContents(const std::string& fileName, const std::string& extension) {
  if (extension != ".ZIP" && extension != ".EXE") return atUnknown;
  TFileStream file(fileName, fmOpenRead | fmShareDenyNone);
  if (extension == ".EXE") return VerifySelfExtracting(file) == 3 ? atSelfExtZip : atUnknown;
  switch (VerifyZip(file)) {
    case 1:
      return atZip;
    case 2:
      return atSpannedZip;
    default:
      return atUnknown;
  }
}

TAbArchiveType KindByExtension(const std::string& extension) {
  if (extension == ".ZIP") return atZip;
  if (extension == ".TAR") return atTar;
  if (extension == ".GZ") return atGzip;
  if (extension == ".TGZ") return atGzippedTar;
  if (extension == ".CAB") return atCab;
  return atUnknown;
}

}  // namespace

TAbArchiveType AbArchiveKindOf(const std::string& FileName) {
  const std::string extension = UpperExtensionOf(FileName);
  if (FileExists(FileName) && AbSizeOfFile(FileName) > 0)
    return KindByContents(FileName, extension);
  return KindByExtension(extension);
}

// ------------------------------------------------------------ meter link

TAbMeterLink::~TAbMeterLink() {
  // Each user forgets this link (and unregisters, which edits FUsers).
  const std::vector<TAbBaseBrowser*> users = FUsers;
  for (TAbBaseBrowser* user : users) user->MeterLinkDestroyed(*this);
}

// ------------------------------------------------------------ browser

TAbBaseBrowser::~TAbBaseBrowser() {
  for (TAbMeterLink* link : FWatchedLinks) {
    auto& users = link->FUsers;
    users.erase(std::remove(users.begin(), users.end(), this), users.end());
  }
}

void TAbBaseBrowser::CloseFile() {
  if (!FFileName.empty()) SetFileName(std::string());
}

void TAbBaseBrowser::SetBaseDirectory(const std::string& Value) {
  if (FArchive) {
    FArchive->SetBaseDirectory(Value);
    FBaseDirectory = FArchive->BaseDirectory();
  } else {
    FBaseDirectory = Value;
  }
}

void TAbBaseBrowser::SetTempDirectory(const std::string& Value) {
  FTempDirectory = Value;
  if (FArchive) FArchive->TempDirectory = Value;
}

void TAbBaseBrowser::SetLogFile(const std::string& Value) {
  FLogFile = Value;
  if (FArchive) FArchive->SetLogFile(Value);
  SetLogging(!Value.empty());
}

void TAbBaseBrowser::SetLogging(bool Value) {
  FLogging = Value;
  if (FArchive) FArchive->SetLogging(Value);
}

void TAbBaseBrowser::SetSpanningThreshold(int32_t Value) {
  FSpanningThreshold = Value;
  if (FArchive) FArchive->SetSpanningThreshold(Value);
}

void TAbBaseBrowser::SetArchiveProgressMeter(TAbMeterLink* Value) {
  UseMeterLink(FArchiveProgressMeter, Value);
}

void TAbBaseBrowser::SetItemProgressMeter(TAbMeterLink* Value) {
  UseMeterLink(FItemProgressMeter, Value);
}

void TAbBaseBrowser::Loaded() {
  NotifyChange();
}

void TAbBaseBrowser::SetOnRequestImage(const TAbRequestImageEvent& Value) {
  FOnRequestImage = Value;
  if (FArchive) FArchive->OnRequestImage = Value;
}

void TAbBaseBrowser::UseMeterLink(TAbMeterLink*& Field, TAbMeterLink* Value) {
  Field = Value;
  if (Value == nullptr) return;
  if (std::find(FWatchedLinks.begin(), FWatchedLinks.end(), Value) != FWatchedLinks.end()) return;
  FWatchedLinks.push_back(Value);
  Value->FUsers.push_back(this);
}

void TAbBaseBrowser::MeterLinkDestroyed(TAbMeterLink& Link) {
  if (FArchiveProgressMeter == &Link) FArchiveProgressMeter = nullptr;
  if (FItemProgressMeter == &Link) FItemProgressMeter = nullptr;
  FWatchedLinks.erase(std::remove(FWatchedLinks.begin(), FWatchedLinks.end(), &Link),
                      FWatchedLinks.end());
  auto& users = Link.FUsers;
  users.erase(std::remove(users.begin(), users.end(), this), users.end());
}

void TAbBaseBrowser::ResetMeter(TAbMeterLink* Link) {
  if (Link != nullptr) Link->Reset();
}

void TAbBaseBrowser::ShowOnMeter(TAbMeterLink* Link, uint8_t Progress) {
  if (Link != nullptr) Link->DoProgress(Progress);
}

// -------------------------------------------------------------- forwarders

void TAbBaseBrowser::ClearMeters() {
  ResetMeter(FArchiveProgressMeter);
  ResetMeter(FItemProgressMeter);
}

void TAbBaseBrowser::ForwardItemProgress(TAbArchiveItem* Item, uint8_t Progress, bool& Abort) {
  Abort = false;
  ShowOnMeter(FItemProgressMeter, Progress);
  if (OnArchiveItemProgress) OnArchiveItemProgress(*this, Item, Progress, Abort);
}

void TAbBaseBrowser::ForwardArchiveProgress(uint8_t Progress, bool& Abort) {
  Abort = false;
  ShowOnMeter(FArchiveProgressMeter, Progress);
  if (OnArchiveProgress) OnArchiveProgress(*this, Progress, Abort);
}

void TAbBaseBrowser::NotifyChange() {
  if (OnChange) OnChange(*this);
}

void TAbBaseBrowser::ForwardConfirmItem(TAbArchiveItem& Item, TAbProcessType ProcessType,
                                        bool& Confirm) {
  Confirm = true;
  ResetMeter(FItemProgressMeter);
  if (OnConfirmProcessItem) OnConfirmProcessItem(*this, Item, ProcessType, Confirm);
}

void TAbBaseBrowser::ForwardLoad() {
  if (OnLoad) OnLoad(*this);
}

void TAbBaseBrowser::ForwardItemFailure(TAbArchiveItem& Item, TAbProcessType ProcessType,
                                        TAbErrorClass ErrorClass, int32_t ErrorCode) {
  if (OnProcessItemFailure) OnProcessItemFailure(*this, Item, ProcessType, ErrorClass, ErrorCode);
}

void TAbBaseBrowser::AttachArchive() {
  ClearMeters();
  if (!FArchive) return;
  TAbArchive& archive = *FArchive;
  archive.SetSpanningThreshold(FSpanningThreshold);
  archive.SetLogFile(FLogFile);
  archive.SetLogging(FLogging);
  archive.TempDirectory = FTempDirectory;
  SetBaseDirectory(FBaseDirectory);
  archive.OnArchiveProgress = [this](TAbArchive&, uint8_t progress, bool& abort) {
    ForwardArchiveProgress(progress, abort);
  };
  archive.OnArchiveItemProgress = [this](TAbArchive&, TAbArchiveItem* item, uint8_t progress,
                                         bool& abort) {
    ForwardItemProgress(item, progress, abort);
  };
  archive.OnConfirmProcessItem = [this](TAbArchive&, TAbArchiveItem& item,
                                        TAbProcessType processType, bool& confirm) {
    ForwardConfirmItem(item, processType, confirm);
  };
  archive.OnLoad = [this](TAbArchive&) { ForwardLoad(); };
  archive.OnProcessItemFailure = [this](TAbArchive&, TAbArchiveItem& item,
                                        TAbProcessType processType, TAbErrorClass errorClass,
                                        int32_t errorCode) {
    ForwardItemFailure(item, processType, errorClass, errorCode);
  };
  archive.OnRequestImage = FOnRequestImage;
}
