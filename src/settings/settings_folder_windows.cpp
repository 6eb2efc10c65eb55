#include "settings/settings_folder.h"

#include <windows.h>
// shlobj.h needs the declarations of windows.h first.
#include <shlobj.h>

#include <optional>

#include "platform/platform.h"
#include "settings/ini_settings.h"

namespace tovrik {

std::string GetCommonAppDataFolder() {
    // Never fails: a failed look-up or any error gives the program's folder.
    try {
        char buffer[MAX_PATH] = {};
        // fCreate FALSE: only look the folder up, never create it.
        if (!SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_COMMON_APPDATA, FALSE)) {
            return ProgramFolder();
        }
        return CommonAppDataFolderFrom(TrimAtNul(AnsiToUtf8(buffer)));
    } catch (...) {
        return ProgramFolder();
    }
}

void EnsureFolder(const std::string& path) {
    // Every failure is ignored: a missing folder shows later, when the write test fails.
    if (path.empty() || PathExists(path, true)) return;
    const std::optional<std::string> ansi = Utf8ToAnsi(path);
    if (ansi) (void)CreateDirectoryA(ansi->c_str(), nullptr);
}

}  // namespace tovrik
