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

}  // namespace tovrik
