#include "tests/support/TestSupport.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "platform/DriveMap.h"

namespace fs = std::filesystem;

TTempDrive::TTempDrive() {
  std::string pattern = (fs::temp_directory_path() / "zelvora-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  FRoot = pattern;
  const char* old = std::getenv("ZELVORA_DRIVE_C");
  FHadOldDrive = old != nullptr;
  if (old != nullptr) FOldDrive = old;
  ::setenv("ZELVORA_DRIVE_C", FRoot.c_str(), 1);
  FOldCurrent = GetCurrentDir();
}

TTempDrive::~TTempDrive() {
  SetCurrentDir(FOldCurrent);
  if (FHadOldDrive)
    ::setenv("ZELVORA_DRIVE_C", FOldDrive.c_str(), 1);
  else
    ::unsetenv("ZELVORA_DRIVE_C");
  // Tests make read-only files and folders: give the owner back every right first.
  std::error_code ignored;
  for (auto it = fs::recursive_directory_iterator(FRoot, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::permissions(FRoot, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(FRoot, ignored);
}

std::string TTempDrive::Host(const std::string& relative) const { return FRoot + "/" + relative; }

void TTempDrive::MakeFolder(const std::string& relative) const {
  fs::create_directories(Host(relative));
}

void TTempDrive::Write(const std::string& relative, const std::string& bytes) const {
  const fs::path path = Host(relative);
  fs::create_directories(path.parent_path());
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string TTempDrive::Read(const std::string& relative) const {
  return ReadHostFile(Host(relative));
}

bool TTempDrive::Exists(const std::string& relative) const {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(Host(relative), ignored));
}

std::vector<std::string> TTempDrive::List(const std::string& relativeFolder) const {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(Host(relativeFolder), ignored))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

int RunCommand(const std::string& command, std::string& output) {
  output.clear();
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, n);
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveTool(const std::string& name) {
  std::string output;
  return RunCommand("command -v " + name, output) == 0;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string ReadHostFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

std::string WordBytes(size_t length, uint32_t seed) {
  static const char* const kWords[] = {"eczane ",  "ilaç ", "reçete ", "stok ",    "fatura ",
                                       "müşteri ", "kasa ", "depo ",   "Zelvora ", "\r\n"};
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < length) text += kWords[random() % 10];
  text.resize(length);
  return text;
}

std::string NoiseBytes(size_t length, uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(length, '\0');
  for (char& c : bytes) c = char(random() & 0xFF);
  return bytes;
}
