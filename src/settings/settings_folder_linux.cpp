#include "settings/settings_folder.h"

#include <sys/stat.h>

#include "platform/platform.h"
#include "settings/ini_settings.h"

namespace tovrik {

namespace {

// The machine-wide folder for state that programs keep between runs and share among users
// (Filesystem Hierarchy Standard); the suite's installer creates its subfolder there.
constexpr const char* kMachineStateFolder = "/var/lib";

}  // namespace

std::string GetCommonAppDataFolder() { return CommonAppDataFolderFrom(kMachineStateFolder); }

void EnsureFolder(const std::string& path) {
    // Every failure is ignored: a missing folder shows later, when the write test fails.
    if (path.empty() || PathExists(path, true)) return;
    (void)::mkdir(path.c_str(), 0777);
}

}  // namespace tovrik
