#include "ZipTestSupport.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "archive/AbSpanSt.h"
#include "archive/AbUtils.h"
#include "platform/FileSystem.h"

TTempDrive::TTempDrive() {
  char pattern[] = "/tmp/zipmodel-XXXXXX";
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
  RunCommand("rm -rf '" + FRoot + "'", output);
  if (FHadOldDrive)
    ::setenv("ZELVORA_DRIVE_C", FOldDrive.c_str(), 1);
  else
    ::unsetenv("ZELVORA_DRIVE_C");
}

std::string TTempDrive::Host(const std::string& relative) const {
  return FRoot + "/" + relative;
}

void TTempDrive::Write(const std::string& relative, const std::string& bytes) const {
  const std::string path = Host(relative);
  std::string output;
  RunCommand("mkdir -p \"$(dirname '" + path + "')\"", output);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string TTempDrive::Read(const std::string& relative) const {
  std::ifstream file(Host(relative), std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

bool TTempDrive::Exists(const std::string& relative) const {
  struct stat info;
  return ::stat(Host(relative).c_str(), &info) == 0;
}

std::vector<std::string> TTempDrive::List(const std::string& relativeFolder) const {
  std::vector<std::string> names;
  DIR* dir = ::opendir(Host(relativeFolder).c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
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

uint32_t CrcOf(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFF;
  for (size_t done = 0; done < bytes.size();) {
    const size_t part = std::min<size_t>(bytes.size() - done, 0xFFFF);
    AbCrcBuffer(crc, bytes.data() + done, uint16_t(part));
    done += part;
  }
  return ~crc;
}

void StoreFileHook(TAbArchive&, TAbArchiveItem& Item, TStream& OutStream) {
  auto& item = static_cast<TAbZipItem&>(Item);
  TFileStream in(item.DiskPath, fmOpenRead | fmShareDenyWrite);
  std::string data(size_t(in.Size()), '\0');
  if (!data.empty()) in.ReadBuffer(&data[0], int32_t(data.size()));
  const int32_t dosDate = FileGetDate(in.Handle());
  item.SetCompressionMethod(0);
  item.SetGeneralPurposeBitFlag(0);
  item.SetCRC32(CrcOf(data));
  item.SetUncompressedSize(int64_t(data.size()));
  item.SetLastModFileTime(AbDosTimeOf(dosDate));
  item.SetLastModFileDate(AbDosDateOf(dosDate));
  item.SetExternalFileAttributes(uint32_t(FileGetAttr(item.DiskPath)));
  item.SetVersionMadeBy(20);
  item.SetVersionNeededToExtract(10);
  item.SetInternalFileAttributes(0);
  if (!data.empty()) OutStream.WriteBuffer(data.data(), int32_t(data.size()));
  item.SetCompressedSize(int64_t(data.size()));
}

std::string ReadStoredData(TAbZipArchive& archive, TAbZipItem& item) {
  if (archive.IsSpannedSet() && item.DiskNumberStart() != archive.CurrentDisk) {
    archive.CurrentDisk = item.DiskNumberStart();
    archive.OpenVolume(archive.CurrentDisk);
  }
  archive.Stream().Seek(item.RelativeOffset(), soFromBeginning);
  TAbZipLocalFileHeader local;
  local.ReadFrom(archive.Stream());
  std::string data(size_t(item.CompressedSize()), '\0');
  size_t done = 0;
  while (done < data.size()) {
    const int32_t n = archive.Stream().Read(&data[done], int32_t(data.size() - done));
    if (n > 0) {
      done += size_t(n);
    } else if (archive.IsSpannedSet()) {
      archive.CurrentDisk = archive.CurrentDisk + 1;
      archive.OpenVolume(archive.CurrentDisk);
    } else {
      throw EAbReadError();
    }
  }
  if (CrcOf(data) != item.CRC32()) throw EAbZipBadCRC();
  return data;
}

TAbItemExtractHook TCollectingExtractor::Hook() {
  return [this](TAbArchive& sender, TAbArchiveItem& item, const std::string&) {
    Data[item.FileName()] =
        ReadStoredData(static_cast<TAbZipArchive&>(sender), static_cast<TAbZipItem&>(item));
  };
}
