// Reading a written archive back before anyone relies on it: every entry is
// decoded and CRC-checked by the unzipper's test (AbVerifyItem), nothing is
// written, as `zip -T` does.
#pragma once

#include <string>
#include <vector>

#include "archive/AbBrowse.h"
#include "platform/SysUtils.h"

// The archive could not be read back. The text names the archive, then one
// line "ENTRY: MESSAGE" per failed entry (or the reason the archive could not
// be opened).
class EArchiveVerifyFailed : public Exception {
 public:
  EArchiveVerifyFailed(const std::string& archive, const std::vector<std::string>& failures);
};

// Opens `archive` (a Windows path) with the unzipper and the suite's password
// and tests every entry; the share of entries done goes to `meter` (not owned;
// nullptr: none), whose meter pumps the window's messages. Returns the number
// of entries. EArchiveVerifyFailed when the archive cannot be opened or an
// entry fails its test.
int VerifySuiteArchive(const std::string& archive, TAbMeterLink* meter);

// The second copy: `copy` must have the size of `original`, then its entries
// are tested as VerifySuiteArchive does. Returns the number of entries.
int VerifySuiteCopy(const std::string& original, const std::string& copy, TAbMeterLink* meter);
