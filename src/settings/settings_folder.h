#pragma once

#include <string>

namespace tovrik {

// The machine-wide application-data folder, or the program's own folder when it cannot be found.
std::string GetCommonAppDataFolder();

// The choice GetCommonAppDataFolder makes when the machine's folder is machineFolder: that folder
// when it exists as a folder, else the program's own folder.
std::string CommonAppDataFolderFrom(const std::string& machineFolder);

// Creates the folder (one level) when it does not exist; every failure is ignored.
void EnsureFolder(const std::string& path);

// Why `file` in `folder` could not be written, for a log line: the path at fault and the system's
// reason, e.g. "設定フォルダー /x/TachographIni を作成できません: /x: No such file or directory".
// Only looks; creates and changes nothing.
std::string DescribeUnwritableSettings(const std::string& folder, const std::string& file);

}  // namespace tovrik
