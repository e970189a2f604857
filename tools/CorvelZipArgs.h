// The command line of corvelzip: the command, its archive, options and names.
#pragma once

#include <string>
#include <vector>

#include "archive/AbZipTyp.h"
#include "platform/SysUtils.h"

enum class TZipCommandKind { Help, List, Test, Extract, Add };

struct TZipCommand {
  TZipCommandKind Kind = TZipCommandKind::Help;
  // As the user typed it (messages name it so); host or Windows form.
  std::string Archive;
  std::string Password;
  // x: the target folder; empty for the current one.
  std::string Folder;
  // x: restore the stored folders instead of bare file names.
  bool RestorePaths = false;
  TAbZipSupportedMethod Method = smBestMethod;
  TAbZipDeflationOption Level = doNormal;
  // x: entry masks (none: every entry); a: files or file masks.
  std::vector<std::string> Names;
};

// A command line that cannot be run; the message says why.
class EZipUsage : public Exception {
 public:
  using Exception::Exception;
};

// Parses the arguments after the program name. "--help" (or "-h") anywhere
// asks for help. Options may stand anywhere after the command letter; "--"
// ends them. Raises EZipUsage for a missing command, archive or option value,
// an unknown option or one the command does not take, and for `a` without files.
TZipCommand ParseZipCommandLine(const std::vector<std::string>& Args);

// The text of --help.
std::string ZipUsageText();
