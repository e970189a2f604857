#include "archive/AbUnzper.h"

#include "archive/AbExcept.h"
#include "archive/inflate/AbUnzPrc.h"

void TAbCustomUnZipper::ExtractMatching(const std::string& FileMask) {
  if (!FArchive) throw EAbNoArchive();
  FArchive->ExtractMatching(FileMask, std::string());
}

void TAbCustomUnZipper::SetExtractOptions(const TAbExtractOptions& Value) {
  FExtractOptions = Value;
  if (FArchive) FArchive->ExtractOptions = Value;
}

void TAbCustomUnZipper::SetPasswordRetries(uint8_t Value) {
  FPasswordRetries = Value;
  if (TAbZipArchive* zip = ZipArchive()) zip->PasswordRetries = Value;
}

void TAbCustomUnZipper::ForwardConfirmOverwrite(std::string& Name, bool& Confirm) {
  Confirm = true;
  if (OnConfirmOverwrite) OnConfirmOverwrite(Name, Confirm);
}

void TAbCustomUnZipper::ForwardNeedPassword(std::string& NewPassword) {
  if (!OnNeedPassword) return;
  OnNeedPassword(*this, NewPassword);
  SetPassword(NewPassword);
}

void TAbCustomUnZipper::AttachArchive() {
  TAbCustomZipBrowser::AttachArchive();
  if (!FArchive) return;
  FArchive->ExtractOptions = FExtractOptions;
  FArchive->OnConfirmOverwrite = [this](std::string& name, bool& confirm) {
    ForwardConfirmOverwrite(name, confirm);
  };
  TAbZipArchive* zip = ZipArchive();
  if (zip == nullptr) return;
  zip->PasswordRetries = FPasswordRetries;
  zip->OnNeedPassword = [this](std::string& newPassword) { ForwardNeedPassword(newPassword); };
  zip->ExtractHook = AbExtractItemToFile;
  zip->ExtractToStreamHook = AbExtractItemToStream;
  zip->TestHook = AbVerifyItem;
}
