#include "tests/tools/CorvelZipSupport.h"

#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

std::string ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

int StatusOf(int systemResult) {
  return WIFEXITED(systemResult) ? WEXITSTATUS(systemResult) : -1;
}

}  // namespace

TScratch::TScratch() {
  std::string pattern = (fs::temp_directory_path() / "corvelzip-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  FRoot = pattern;
}

TScratch::~TScratch() {
  std::error_code ignored;
  // Tests make files read-only; make everything removable first.
  for (auto& entry : fs::recursive_directory_iterator(FRoot, ignored))
    fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(FRoot, ignored);
}

std::string TScratch::Host(const std::string& relative) const {
  return relative.empty() ? FRoot : FRoot + "/" + relative;
}

void TScratch::Write(const std::string& relative, const std::string& bytes) const {
  const fs::path path = Host(relative);
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string TScratch::Read(const std::string& relative) const {
  return ReadHostFile(Host(relative));
}

bool TScratch::Exists(const std::string& relative) const {
  return fs::exists(Host(relative));
}

TToolRun RunCorvelZip(const std::vector<std::string>& Args, const std::string& WorkDir,
                      const std::string& Environment) {
  TScratch capture;
  std::string command =
      "cd " + ShellQuote(WorkDir) + " && " + Environment + " " + ShellQuote(CORVELZIP_PATH);
  for (const std::string& arg : Args) command += " " + ShellQuote(arg);
  command += " >" + ShellQuote(capture.Host("out")) + " 2>" + ShellQuote(capture.Host("err")) +
             " </dev/null";
  TToolRun run;
  run.Status = StatusOf(std::system(command.c_str()));
  run.Out = capture.Read("out");
  run.Err = capture.Read("err");
  return run;
}

int RunCommand(const std::string& command, std::string& output) {
  TScratch capture;
  const int result =
      std::system((command + " >" + ShellQuote(capture.Host("out")) + " 2>&1").c_str());
  output = capture.Read("out");
  return StatusOf(result);
}

bool HaveTool(const std::string& name) {
  std::string ignored;
  return RunCommand("command -v " + ShellQuote(name), ignored) == 0;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string WordBytes(size_t length, uint32_t seed) {
  static const char* const kWords[] = {"eczane ", "stok ",    "recete ", "ilac ",
                                       "kasa\n",  "musteri ", "fatura ", "depo "};
  std::mt19937 random(seed);
  std::string bytes;
  while (bytes.size() < length) bytes += kWords[random() % 8];
  bytes.resize(length);
  return bytes;
}

std::string NoiseBytes(size_t length, uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(length, '\0');
  for (char& c : bytes) c = char(random() & 0xFF);
  return bytes;
}
