#include "desktop/KillProcessUnit.h"

#include "platform/Clock.h"
#include "platform/Processes.h"
#include "platform/SysUtils.h"

namespace {

constexpr uint32_t kListPause = 500;

std::string LastComponent(const std::string& exeFile) {
  const size_t separator = exeFile.find_last_of("\\:");
  return separator == std::string::npos ? exeFile : exeFile.substr(separator + 1);
}

bool Matches(const std::string& exeFile, const std::string& wanted) {
  return UpperCase(LastComponent(exeFile)) == wanted || UpperCase(exeFile) == wanted;
}

}  // namespace

bool KillProcessByName(const std::string& exeName) {
  const std::string wanted = UpperCase(exeName);
  bool result = false;
  try {
    TProcessSnapshot snapshot;
    TProcessEntry32 entry;
    for (bool more = snapshot.Process32First(entry); more; more = snapshot.Process32Next(entry)) {
      if (Matches(entry.szExeFile, wanted)) result = TerminateProcess(entry.th32ProcessID);
    }
  } catch (const std::exception&) {
    return false;
  }
  return result;
}

const std::vector<std::string>& BackupProcessNames() {
  static const std::vector<std::string> names = {"Vostctl.exe", "Plimsend.exe", "Plimctl.exe",
                                                 "Plimtor.exe", "Plimtex.exe",  "Gatewink.exe",
                                                 "Zelvora.WQ1", "Zelvora.exe"};
  return names;
}

const std::vector<std::string>& RestoreProcessNames() {
  static const std::vector<std::string> names = {"Vostrelm.exe", "Plimsend.exe", "Plimctl.exe",
                                                 "Plimtor.exe",  "Gatewink.exe", "Zelvora.WQ1"};
  return names;
}

void KillProcessList(const std::vector<std::string>& names) {
  for (const std::string& name : names) KillProcessByName(name);
  Clock().Sleep(kListPause);
}
