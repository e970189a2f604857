// TAbCustomZipBrowser: the browser with the password and the ZIP-specific
// parts, and the file-name setter the unzipper keeps.
#pragma once

#include <cstdint>
#include <string>

#include "archive/AbBrowse.h"
#include "archive/AbZipTyp.h"

class TAbCustomZipBrowser : public TAbBaseBrowser {
 public:
  // The open archive when it is a ZIP archive, else null.
  TAbZipArchive* ZipArchive() const;

  // Passed to the archive when it is a ZIP archive.
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& Value);

  // The archive's item at Index. An open ZIP archive and an Index in range
  // are the caller's duty (contract).
  virtual TAbZipItem& ItemAt(int Index) const;
  // Does nothing here; the zipper sets the ZIP comment.
  virtual void SetArchiveComment(const std::string& Text);

  // The reading side's setter: saves the old archive ignoring any error of
  // that save, frees it, then opens an existing archive for reading and loads
  // it. A missing file leaves the component without an archive. A kind this
  // engine does not read raises EAbUnhandledType.
  void SetFileName(const std::string& Value) override;

  TAbRequestDiskEvent OnRequestLastDisk;
  TAbRequestNthDiskEvent OnRequestNthDisk;

 protected:
  void AttachArchive() override;
  // The kind of FileName: the forced kind, or the detected one.
  TAbArchiveType KindOf(const std::string& Name) const;
  // Creates, attaches and loads the archive object of an existing file of
  // `kind`; a load error leaves the object in place and the kind unchanged.
  void OpenExisting(const std::string& Name, TAbArchiveType Kind);

 private:
  std::string FPassword;
};
