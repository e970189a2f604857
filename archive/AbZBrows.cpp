#include "archive/AbZBrows.h"

#include <memory>

#include "archive/AbExcept.h"
#include "platform/DriveMap.h"
#include "platform/FileSystem.h"
#include "platform/SysUtils.h"

TAbZipArchive* TAbCustomZipBrowser::ZipArchive() const {
  return dynamic_cast<TAbZipArchive*>(FArchive.get());
}

void TAbCustomZipBrowser::SetPassword(const std::string& Value) {
  FPassword = Value;
  if (TAbZipArchive* zip = ZipArchive()) zip->Password = Value;
}

TAbZipItem& TAbCustomZipBrowser::ItemAt(int Index) const {
  ZASSERT(FArchive != nullptr, "TAbCustomZipBrowser.ItemAt: no archive is open");
  ZASSERT(Index >= 0 && Index < FArchive->Count(),
          "TAbCustomZipBrowser.ItemAt: the index is out of range");
  auto* item = dynamic_cast<TAbZipItem*>(&FArchive->Items(Index));
  ZASSERT(item != nullptr, "TAbCustomZipBrowser.ItemAt: the item is not a ZIP item");
  return *item;
}

void TAbCustomZipBrowser::SetArchiveComment(const std::string& /*Text*/) {}

TAbArchiveType TAbCustomZipBrowser::KindOf(const std::string& Name) const {
  return FForceType ? FArchiveType : AbArchiveKindOf(Name);
}

void TAbCustomZipBrowser::OpenExisting(const std::string& Name, TAbArchiveType Kind) {
  switch (Kind) {
    case atZip:
    case atSpannedZip:
    case atSelfExtZip:
      FArchive =
          std::make_unique<TAbZipArchive>(ExpandFileName(Name), fmOpenRead | fmShareDenyNone);
      break;
    default:
      // TAR, GZIP and cabinet files are never named by the programs.
      throw EAbUnhandledType();
  }
  AttachArchive();
  FArchive->Load();
  FArchiveType = Kind;
}

void TAbCustomZipBrowser::SetFileName(const std::string& Value) {
  FFileName = Value;
  if (FArchive) {
    try {
      FArchive->Save();
    } catch (const std::exception&) {
      // The reading side goes on to the new name whatever this save did.
    }
    FArchive.reset();
  }
  if (Value.empty()) return;
  if (FileExists(Value)) OpenExisting(Value, KindOf(Value));
  NotifyChange();
}

void TAbCustomZipBrowser::AttachArchive() {
  TAbBaseBrowser::AttachArchive();
  TAbZipArchive* zip = ZipArchive();
  if (zip == nullptr) return;
  zip->Password = FPassword;
  zip->OnRequestLastDisk = OnRequestLastDisk;
  zip->OnRequestNthDisk = OnRequestNthDisk;
}
