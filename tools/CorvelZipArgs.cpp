#include "tools/CorvelZipArgs.h"

#include <map>

namespace {

// Options each command takes; -p takes a value everywhere it is allowed.
bool Allows(TZipCommandKind kind, const std::string& option) {
  switch (kind) {
    case TZipCommandKind::Test:
      return option == "-p";
    case TZipCommandKind::Extract:
      return option == "-p" || option == "-d" || option == "--paths";
    case TZipCommandKind::Add:
      return option == "-p" || option == "-m" || option == "-l";
    default:
      return false;
  }
}

TZipCommandKind CommandOf(const std::string& word) {
  static const std::map<std::string, TZipCommandKind> kCommands = {
      {"l", TZipCommandKind::List},
      {"t", TZipCommandKind::Test},
      {"x", TZipCommandKind::Extract},
      {"a", TZipCommandKind::Add},
  };
  const auto found = kCommands.find(word);
  if (found == kCommands.end()) throw EZipUsage("unknown command '" + word + "'");
  return found->second;
}

TAbZipSupportedMethod MethodOf(const std::string& value) {
  if (value == "store") return smStored;
  if (value == "deflate") return smDeflated;
  if (value == "best") return smBestMethod;
  throw EZipUsage("-m takes store, deflate or best, not '" + value + "'");
}

TAbZipDeflationOption LevelOf(const std::string& value) {
  if (value == "n") return doNormal;
  if (value == "x") return doMaximum;
  if (value == "f") return doFast;
  if (value == "s") return doSuperFast;
  if (value == "0") return doInvalid;
  throw EZipUsage("-l takes n, x, f, s or 0, not '" + value + "'");
}

void ApplyOption(TZipCommand& command, const std::string& option, const std::string& value) {
  if (option == "-p")
    command.Password = value;
  else if (option == "-d")
    command.Folder = value;
  else if (option == "-m")
    command.Method = MethodOf(value);
  else if (option == "-l")
    command.Level = LevelOf(value);
}

}  // namespace

TZipCommand ParseZipCommandLine(const std::vector<std::string>& Args) {
  TZipCommand command;
  for (const std::string& arg : Args) {
    if (arg == "--") break;
    if (arg == "--help" || arg == "-h") return command;
  }
  if (Args.empty()) throw EZipUsage("no command given");
  command.Kind = CommandOf(Args[0]);

  std::vector<std::string> words;
  bool optionsEnded = false;
  for (size_t i = 1; i < Args.size(); ++i) {
    const std::string& arg = Args[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      words.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (!Allows(command.Kind, arg)) {
      throw EZipUsage("option " + arg + " is not known to '" + Args[0] + "'");
    } else if (arg == "--paths") {
      command.RestorePaths = true;
    } else if (i + 1 == Args.size()) {
      throw EZipUsage("option " + arg + " needs a value");
    } else {
      ApplyOption(command, arg, Args[++i]);
    }
  }

  if (words.empty()) throw EZipUsage("no archive given");
  command.Archive = words[0];
  command.Names.assign(words.begin() + 1, words.end());
  if (command.Kind == TZipCommandKind::Add && command.Names.empty())
    throw EZipUsage("no files to add");
  if ((command.Kind == TZipCommandKind::List || command.Kind == TZipCommandKind::Test) &&
      !command.Names.empty())
    throw EZipUsage("'" + Args[0] + "' takes only the archive");
  return command;
}

std::string ZipUsageText() {
  return R"(corvelzip - list, test, extract and add entries of ZIP archives

Usage:
  corvelzip l ARCHIVE
  corvelzip t [-p PASSWORD] ARCHIVE
  corvelzip x [-p PASSWORD] [-d FOLDER] [--paths] ARCHIVE [MASK...]
  corvelzip a [-p PASSWORD] [-m store|deflate|best] [-l n|x|f|s|0] ARCHIVE FILE...
  corvelzip --help

Commands:
  l   List the entries: size, compressed size, method, encrypted (*), date
      and time, CRC-32 and name.
  t   Test every entry: decode it and check its CRC-32 (and that its local
      header agrees with the central directory). Each failing entry is named.
  x   Extract the entries matching any MASK (* and ?, without regard to case;
      a mask without a folder matches the file name in any folder; no MASK:
      every entry). By default each entry is written under its bare file name
      directly in the folder, stored folders dropped, as the restore program
      does. Existing files of the same name are replaced.
  a   Add files to ARCHIVE, creating it when it does not exist; an existing
      archive is opened and extended. A FILE may hold * and ?. A relative FILE
      is stored with its relative folder, an absolute one without its drive or
      leading '/'. A name already in the archive is not replaced: that file is
      reported and skipped.

Options:
  -p PASSWORD  Encrypt added files, or decrypt entries, with the traditional
               ZIP cipher. Default: no password.
  -d FOLDER    x: extract into FOLDER (created when missing); default: the
               current folder.
  --paths      x: restore the stored folders below FOLDER, creating them.
               Names that would leave FOLDER (absolute, with a drive, or
               with '..') are refused.
  -m METHOD    a: store, deflate, or best (deflate, but store a file that
               does not shrink). Default: best.
  -l LEVEL     a: the Deflate level: n normal, x maximum, f fast, s super
               fast, 0 stored blocks only. Default: n.
  --           Ends the options; what follows are names.
  -h, --help   Show this text.

Paths may be host paths (/home/user/a.txt, docs/b.txt) or Windows paths
(C:\Data\c.txt); a drive letter X: is the folder named by ZELVORA_DRIVE_X
(C: defaults to ~/.local/share/zelvora/drive_c, Z: to /).

A progress bar is drawn on standard error when it is a terminal. Every error
message names the archive and, where there is one, the entry.

Exit status: 0 everything succeeded; 1 some entry or file failed; 2 a usage
error, or the archive cannot be opened or is not a ZIP archive.
)";
}
