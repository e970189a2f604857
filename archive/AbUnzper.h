// The unzipper: the ZIP browser that extracts. It plugs the per-item
// extraction procedures into its archive and forwards the archive's overwrite
// and password questions to its own events.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "archive/AbZBrows.h"

// Sender is the unzipper; an empty answer means no password.
using TAbUnzipNeedPasswordEvent =
    std::function<void(TAbBaseComponent& Sender, std::string& NewPassword)>;

class TAbCustomUnZipper : public TAbCustomZipBrowser {
 public:
  TAbCustomUnZipper() = default;

  // Extracts every item matching FileMask (';'-separated). Failures of
  // single items go to OnProcessItemFailure and the run goes on.
  // EAbNoArchive without an archive.
  void ExtractMatching(const std::string& FileMask);

  // Each setter also passes the value to an open archive at once.
  const TAbExtractOptions& ExtractOptions() const { return FExtractOptions; }
  void SetExtractOptions(const TAbExtractOptions& Value);
  uint8_t PasswordRetries() const { return FPasswordRetries; }
  void SetPasswordRetries(uint8_t Value);

  // Name may be changed; Confirm starts true (overwrite).
  TAbConfirmOverwriteEvent OnConfirmOverwrite;
  TAbUnzipNeedPasswordEvent OnNeedPassword;

 protected:
  void AttachArchive() override;
  // Confirm := true, then OnConfirmOverwrite.
  virtual void ForwardConfirmOverwrite(std::string& Name, bool& Confirm);
  // Only with OnNeedPassword: asks it and makes the answer the Password.
  virtual void ForwardNeedPassword(std::string& NewPassword);

 private:
  TAbExtractOptions FExtractOptions{eoCreateDirs};
  uint8_t FPasswordRetries = 3;
};

// The unzipper as the windows place it.
class TAbUnZipper : public TAbCustomUnZipper {};
