#include "platform/DriveMap.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "platform/SysUtils.h"

namespace {

char UpperLetter(char c) {
  return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}
bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool HasDrive(const std::string& path) {
  return path.size() >= 2 && IsLetter(path[0]) && path[1] == ':';
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::vector<std::string> SplitAt(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

// Resolves "." and ".." and drops empty parts; ".." never climbs above the root.
std::string NormaliseTail(const std::string& tail) {
  std::vector<std::string> kept;
  for (const std::string& part : SplitAt(tail, '\\')) {
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!kept.empty()) kept.pop_back();
      continue;
    }
    kept.push_back(part);
  }
  std::string result;
  for (size_t i = 0; i < kept.size(); ++i) result += (i ? "\\" : "") + kept[i];
  return result;
}

std::string JoinHost(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

// `folder` followed by the first `count` of `parts`.
std::string JoinParts(const std::string& folder, const std::vector<std::string>& parts,
                      size_t count) {
  std::string path = folder;
  for (size_t i = 0; i < count; ++i) path = JoinHost(path, parts[i]);
  return path;
}

bool Exists(const std::string& hostPath) {
  struct stat info;
  return ::lstat(hostPath.c_str(), &info) == 0;
}

// The entry of `folder` whose name equals `name` without regard to ASCII
// case; the first in byte order when several do.
std::optional<std::string> FindWithoutCase(const std::string& folder, const std::string& name) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return std::nullopt;
  std::optional<std::string> found;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string candidate = entry->d_name;
    if (SameText(candidate, name) && (!found || candidate < *found)) found = candidate;
  }
  ::closedir(dir);
  return found;
}

std::string& CurrentDirectory() {
  static std::string current;
  if (current.empty()) {
    std::vector<char> buffer(4096);
    const char* cwd = ::getcwd(buffer.data(), buffer.size());
    current = cwd ? WindowsPathOf(cwd) : std::string();
    if (current.empty()) current = "Z:\\";
  }
  return current;
}

}  // namespace

std::optional<std::string> DriveRoot(char letter) {
  letter = UpperLetter(letter);
  if (letter < 'A' || letter > 'Z') return std::nullopt;
  const std::string variable = std::string("ZELVORA_DRIVE_") + letter;
  if (const char* folder = std::getenv(variable.c_str()); folder && *folder)
    return WithoutTrailingSlashes(folder);
  if (letter == 'Z') return std::string("/");
  if (letter == 'C') {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
      return WithoutTrailingSlashes(data) + "/zelvora/drive_c";
    const char* home = std::getenv("HOME");
    return WithoutTrailingSlashes(home && *home ? home : "/root") + "/.local/share/zelvora/drive_c";
  }
  return std::nullopt;
}

std::string ExpandFileName(const std::string& path) {
  std::string given = path;
  std::replace(given.begin(), given.end(), '/', '\\');
  if (given.empty()) return GetCurrentDir();
  const bool trailing = given.back() == '\\';

  if (given.compare(0, 2, "\\\\") == 0) {  // UNC: \\server\share\rest
    std::string tail = NormaliseTail(given.substr(2));
    return "\\\\" + tail + (trailing && !tail.empty() ? "\\" : "");
  }

  std::string drive;
  std::string tail;
  if (HasDrive(given) && given.size() > 2 && given[2] == '\\') {
    drive = given.substr(0, 2);
    tail = given.substr(2);
  } else {
    const std::string current = GetCurrentDir();
    if (HasDrive(given)) {
      drive = given.substr(0, 2);
      const bool sameDrive = HasDrive(current) && UpperLetter(current[0]) == UpperLetter(given[0]);
      tail = (sameDrive ? current.substr(2) : std::string()) + "\\" + given.substr(2);
    } else if (given[0] == '\\') {
      drive = current.substr(0, 2);
      tail = given;
    } else {
      drive = current.substr(0, 2);
      tail = current.substr(2) + "\\" + given;
    }
  }
  const std::string normal = NormaliseTail(tail);
  if (normal.empty()) return drive + "\\";
  return drive + "\\" + normal + (trailing ? "\\" : "");
}

std::string HostPathOf(const std::string& windowsPath) {
  const std::string full = ExpandFileName(windowsPath);
  if (!HasDrive(full)) return std::string();
  const std::optional<std::string> root = DriveRoot(full[0]);
  if (!root) return std::string();

  std::vector<std::string> parts = SplitAt(full.substr(2), '\\');
  parts.erase(std::remove(parts.begin(), parts.end(), std::string()), parts.end());
  // Every component on the way to a path that exists exists as well, so such
  // a path (the usual case) is its own answer, and a new name in an existing
  // folder needs the lookup of its last component only.
  const std::string given = JoinParts(*root, parts, parts.size());
  if (parts.empty() || Exists(given)) return given;
  const size_t existing =
      parts.size() > 1 && Exists(JoinParts(*root, parts, parts.size() - 1)) ? parts.size() - 1 : 0;

  std::string host = JoinParts(*root, parts, existing);
  bool lookingUp = true;  // once a component is missing, the rest are taken as given
  for (size_t i = existing; i < parts.size(); ++i) {
    std::string next = JoinHost(host, parts[i]);
    if (lookingUp && !Exists(next)) {
      if (const auto match = FindWithoutCase(host, parts[i]))
        next = JoinHost(host, *match);
      else
        lookingUp = false;
    }
    host = next;
  }
  return host;
}

std::string WindowsPathOf(const std::string& hostPath) {
  std::string host = hostPath;
  if (host.empty() || host[0] != '/') {
    std::vector<char> buffer(4096);
    const char* cwd = ::getcwd(buffer.data(), buffer.size());
    host = JoinHost(cwd ? cwd : "/", host);
  }
  // Lexically, so that /root/c/../x is not taken for a path inside /root/c.
  std::replace(host.begin(), host.end(), '/', '\\');
  host = NormaliseTail(host);
  std::replace(host.begin(), host.end(), '\\', '/');
  host = "/" + host;

  char bestLetter = 0;
  size_t bestLength = 0;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    const std::optional<std::string> root = DriveRoot(letter);
    if (!root) continue;
    const bool inside =
        *root == "/" || host == *root || host.compare(0, root->size() + 1, *root + "/") == 0;
    if (inside && (bestLetter == 0 || root->size() > bestLength)) {
      bestLetter = letter;
      bestLength = root->size();
    }
  }
  if (bestLetter == 0) return std::string();
  std::string tail =
      bestLength == 1 ? host.substr(1) : host.substr(std::min(host.size(), bestLength + 1));
  std::replace(tail.begin(), tail.end(), '/', '\\');
  return std::string(1, bestLetter) + ":\\" + NormaliseTail(tail);
}

std::string GetCurrentDir() {
  return CurrentDirectory();
}

bool SetCurrentDir(const std::string& path) {
  const std::string full = ExpandFileName(path);
  struct stat info;
  const std::string host = HostPathOf(full);
  if (host.empty() || ::stat(host.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  std::string kept = full;
  if (kept.size() > 3 && kept.back() == '\\') kept.pop_back();
  CurrentDirectory() = kept;
  return true;
}
