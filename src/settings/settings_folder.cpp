#include "settings/settings_folder.h"

#include "platform/platform.h"
#include "settings/ini_settings.h"

namespace tovrik {

std::string CommonAppDataFolderFrom(const std::string& machineFolder) {
    // Never fails: anything unexpected gives the program's folder.
    try {
        return PathExists(machineFolder, true) ? machineFolder : ProgramFolder();
    } catch (...) {
        return ProgramFolder();
    }
}

}  // namespace tovrik
