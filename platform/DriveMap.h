// Windows paths on a Linux host. The programs keep their Windows paths
// (C:\Zelvora\Data); only this unit turns them into host paths.
//
// A drive letter X: is the host folder named by $ZELVORA_DRIVE_X; without it
// C: is $XDG_DATA_HOME/zelvora/drive_c (~/.local/share/zelvora/drive_c) and Z:
// is /. Names are looked up without regard to ASCII case; a name that does not
// exist keeps the case it was given, so new files are created as named.
#pragma once

#include <optional>
#include <string>

// Host folder of a drive letter (either case), or nothing when the drive does not exist.
std::optional<std::string> DriveRoot(char letter);

// The full Windows form of a path: '/' becomes '\', a relative path is taken
// from the current directory, "." and ".." are resolved, a trailing '\' stays.
// UNC paths (\\server\share) are only normalised.
std::string ExpandFileName(const std::string& path);

// The host path of a Windows path (relative ones from the current directory),
// each existing component in the case it has on disk. Empty when the path has
// no mapped drive (an unknown letter, a UNC path).
std::string HostPathOf(const std::string& windowsPath);

// The Windows form of a host path, on the drive whose folder holds it most
// closely: /tmp is Z:\tmp.
std::string WindowsPathOf(const std::string& hostPath);

// The process's current directory, kept here as a Windows path. It starts as
// the Windows form of the host's working directory.
std::string GetCurrentDir();
// Makes `path` current when it names an existing folder; false otherwise.
bool SetCurrentDir(const std::string& path);
