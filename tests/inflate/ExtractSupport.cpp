#include "ExtractSupport.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace extract_test {

TTempDrive::TTempDrive() {
  char pattern[] = "/tmp/extract-XXXXXX";
  const char* made = ::mkdtemp(pattern);
  if (made == nullptr) throw std::runtime_error("mkdtemp failed");
  FRoot = made;
  const char* old = std::getenv("ZELVORA_DRIVE_C");
  FHadOldDrive = old != nullptr;
  if (old != nullptr) FOldDrive = old;
  ::setenv("ZELVORA_DRIVE_C", FRoot.c_str(), 1);
}

TTempDrive::~TTempDrive() {
  std::string output;
  RunCommand("chmod -R u+w " + ShellQuote(FRoot) + "; rm -rf " + ShellQuote(FRoot), output);
  if (FHadOldDrive)
    ::setenv("ZELVORA_DRIVE_C", FOldDrive.c_str(), 1);
  else
    ::unsetenv("ZELVORA_DRIVE_C");
}

std::string TTempDrive::Host(const std::string& relative) const {
  return FRoot + "/" + relative;
}

void TTempDrive::Write(const std::string& relative, const std::string& bytes) const {
  const std::filesystem::path path = Host(relative);
  std::filesystem::create_directories(path.parent_path());
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string TTempDrive::Read(const std::string& relative) const {
  return ReadHostFile(Host(relative));
}

bool TTempDrive::Exists(const std::string& relative) const {
  struct stat info;
  return ::stat(Host(relative).c_str(), &info) == 0;
}

void TTempDrive::MakeFolder(const std::string& relative) const {
  std::filesystem::create_directories(Host(relative));
}

std::vector<std::string> TTempDrive::List(const std::string& relativeFolder) const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(Host(relativeFolder)))
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
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

std::string WordBytes(size_t length, uint32_t seed) {
  static const char* const kWords[] = {"eczane ", "ilac ", "recete ", "stok ", "fatura ",
                                       "hasta ",  "doz ",  "kutu ",   "\r\n",  "2024 "};
  std::mt19937 random(seed);
  std::string bytes;
  while (bytes.size() < length) bytes += kWords[random() % 10];
  bytes.resize(length);
  return bytes;
}

std::string NoiseBytes(size_t length, uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(length, '\0');
  for (char& c : bytes) c = char(random() & 0xFF);
  return bytes;
}

std::string LegacyDataDir() {
  const char* root = std::getenv("ZELVORA_TEST_SOURCE_DIR");
  const std::string tests =
      root != nullptr ? root : std::filesystem::path(__FILE__).parent_path().parent_path().string();
  return tests + "/data/legacy";
}

std::string ReadHostFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

void TFailureLog::Attach(TAbBaseBrowser& browser) {
  browser.OnProcessItemFailure = [this](TAbBaseComponent&, TAbArchiveItem& item,
                                        TAbProcessType processType, TAbErrorClass errorClass,
                                        int32_t errorCode) {
    Failures.push_back({item.FileName(), processType, errorClass, errorCode});
  };
}

}  // namespace extract_test
