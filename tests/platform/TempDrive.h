// A temporary host folder mapped as drive C: for the length of a test.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/DriveMap.h"

class TTempDrive {
 public:
  TTempDrive() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zelvora-XXXXXX").string();
    FRoot = ::mkdtemp(pattern.data());
    const char* old = std::getenv("ZELVORA_DRIVE_C");
    FHadOld = old != nullptr;
    if (old) FOld = old;
    ::setenv("ZELVORA_DRIVE_C", FRoot.c_str(), 1);
    FOldCurrent = GetCurrentDir();
  }
  ~TTempDrive() {
    SetCurrentDir(FOldCurrent);
    if (FHadOld)
      ::setenv("ZELVORA_DRIVE_C", FOld.c_str(), 1);
    else
      ::unsetenv("ZELVORA_DRIVE_C");
    std::error_code ignored;
    std::filesystem::permissions(FRoot, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(FRoot, ignored);
  }
  TTempDrive(const TTempDrive&) = delete;
  TTempDrive& operator=(const TTempDrive&) = delete;

  // The host path of `relative` ("Zelvora/Data/x.mdf") under the drive's folder.
  std::string Host(const std::string& relative) const { return FRoot + "/" + relative; }
  const std::string& Root() const { return FRoot; }

  void MakeFolder(const std::string& relative) const {
    std::filesystem::create_directories(Host(relative));
  }
  void Write(const std::string& relative, const std::string& content) const {
    std::ofstream(Host(relative), std::ios::binary) << content;
  }
  std::string Read(const std::string& relative) const {
    std::ifstream file(Host(relative), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }

 private:
  std::string FRoot;
  std::string FOld;
  bool FHadOld = false;
  std::string FOldCurrent;
};
