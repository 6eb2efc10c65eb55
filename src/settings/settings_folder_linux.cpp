#include "settings/settings_folder.h"

#include <sys/stat.h>

#include "platform/platform.h"

namespace tovrik {

namespace {

// The machine-wide folder for state that programs keep between runs and share among users
// (Filesystem Hierarchy Standard); the suite's installer creates its subfolder there.
constexpr const char* kMachineStateFolder = "/var/lib";

bool IsFolder(const std::string& path) {
    struct stat status {};
    return !path.empty() && ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

std::string CommonAppDataFolderFrom(const std::string& machineFolder) {
    // Never fails: anything unexpected gives the program's folder.
    try {
        return IsFolder(machineFolder) ? machineFolder : ProgramFolder();
    } catch (...) {
        return ProgramFolder();
    }
}

std::string GetCommonAppDataFolder() { return CommonAppDataFolderFrom(kMachineStateFolder); }

void EnsureFolder(const std::string& path) {
    // Every failure is ignored: a missing folder shows later, when the write test fails.
    if (path.empty() || IsFolder(path)) return;
    (void)::mkdir(path.c_str(), 0777);
}

}  // namespace tovrik
