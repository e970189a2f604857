// Runs one corvelzip command on the engine's zipper and unzipper.
#pragma once

#include <ostream>
#include <string>

#include "tools/CorvelZipArgs.h"
#include "tools/CorvelZipProgress.h"

// Exit statuses.
constexpr int kZipSuccess = 0;
// Some entry or file failed; the others were processed.
constexpr int kZipEntryFailed = 1;
// A usage error, or an archive that cannot be opened.
constexpr int kZipUnusable = 2;

// Runs Command (not Help). Results go to Out; every error goes to Err as
// "corvelzip: ARCHIVE: message" or "corvelzip: ARCHIVE: ENTRY: message".
// Returns one of the exit statuses above.
int RunZipCommand(const TZipCommand& Command, std::ostream& Out, std::ostream& Err,
                  TZipProgress& Progress);

// The Windows form of a path given on the command line: one beginning with
// '/' is a host path (/tmp/a is Z:\tmp\a), any other is a Windows path,
// relative ones taken from the current folder.
std::string ZipCommandLinePath(const std::string& Path);
