// Stopping the suite's programs by executable name before a backup or a
// restore touches the data folder.
#pragma once

#include <string>
#include <vector>

// Terminates every running process whose executable name matches `exeName`:
// its last component (after the last '\' or ':') or the whole name, equal to
// `exeName` when ASCII letters are upper-cased. True when the last
// termination attempt succeeded; false when none was made, the last failed,
// or the walk failed.
bool KillProcessByName(const std::string& exeName);

// The backup program's list, in order; its run passes through it twice.
const std::vector<std::string>& BackupProcessNames();
// The restore program's list, in order.
const std::vector<std::string>& RestoreProcessNames();

// The list step: KillProcessByName for each name in order, then a pause of
// 500 ms on Clock() for the processes to end (nothing waits for them).
void KillProcessList(const std::vector<std::string>& names);
