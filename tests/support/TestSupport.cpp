#include "tests/support/TestSupport.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

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
  // Out of process: commands the test started detached may still be writing
  // into the folder, and the library's removal leaks on such races. Tests
  // make read-only files and folders, which only root may remove as they are.
  std::string output;
  if (::geteuid() != 0) RunCommand("chmod -R u+rwX " + ShellQuote(FRoot), output);
  RunCommand("rm -rf " + ShellQuote(FRoot), output);
}

std::string TTempDrive::Host(const std::string& relative) const {
  return FRoot + "/" + relative;
}

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

TRecordingNet::TRecordingNet(const TTempDrive& drive) : FLog(drive.Host("net.log")) {
  const std::string bin = drive.Host("bin");
  fs::create_directories(bin);
  std::ofstream(bin + "/net") << "#!/bin/sh\necho \"$PPID $*\" >> '" << FLog << "'\n";
  fs::permissions(bin + "/net", fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
  FOldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", (bin + ":" + FOldPath).c_str(), 1);
}

TRecordingNet::~TRecordingNet() {
  ::setenv("PATH", FOldPath.c_str(), 1);
}

std::vector<std::string> TRecordingNet::Commands(size_t count) const {
  std::vector<std::pair<long, std::string>> lines;
  for (int i = 0; i < 1000; ++i) {
    lines.clear();
    std::ifstream log(FLog);
    for (std::string line; std::getline(log, line);) {
      const size_t blank = line.find(' ');
      lines.emplace_back(std::stol(line.substr(0, blank)), line.substr(blank + 1));
    }
    if (lines.size() >= count) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::sort(lines.begin(), lines.end());
  std::vector<std::string> commands;
  for (const auto& line : lines) commands.push_back(line.second);
  return commands;
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

uint32_t GetLE(const std::string& bytes, size_t at, int size) {
  uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | uint8_t(bytes.at(at + size_t(i)));
  return value;
}

void Put16(std::string& bytes, size_t at, uint16_t value) {
  bytes.at(at) = char(value & 0xFF);
  bytes.at(at + 1) = char(value >> 8);
}

void Put32(std::string& bytes, size_t at, uint32_t value) {
  Put16(bytes, at, uint16_t(value));
  Put16(bytes, at + 2, uint16_t(value >> 16));
}

void FlipHostFileByte(const std::string& path, int64_t at, uint8_t mask) {
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  file.seekg(at);
  const char byte = char(file.get() ^ mask);
  file.seekp(at);
  file.put(byte);
  if (!file.good()) throw std::runtime_error("cannot change a byte of " + path);
}

std::vector<std::string> LogLines(const TTempDrive& drive, const std::string& relative) {
  const std::string text = drive.Exists(relative) ? drive.Read(relative) : std::string();
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start) + " <no line end>");
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
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
