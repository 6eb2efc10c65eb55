#pragma once

#include <string>

namespace tovrik {

// Where the suite's settings file lies and whose settings are read: filled by start-up before
// the first settings access.
struct SettingsContext {
    std::string SettingsFolder;                // no trailing separator
    std::string SettingsFile = "TachoGraph.int";
    std::string SettingsUser = "AllUser";      // user part of ordinary settings
    std::string LoginUserName;                 // user part of the per-user settings

    // SettingsFolder, one separator, SettingsFile.
    std::string FilePath() const;
};

// Writes application\section\key under the user part; fails quietly.
void SaveIniSetting(const SettingsContext& context, const std::string& application,
                    const std::string& section, const std::string& key, const std::string& value);

// Reads application\section\key; a missing or empty value gives defaultValue. A value that is
// a drive path ("X:\...") naming neither an existing file nor folder reads as empty text.
std::string GetIniSetting(const SettingsContext& context, const std::string& application,
                          const std::string& section, const std::string& key,
                          const std::string& defaultValue);

// True for the six folder settings of "ZuzurodeZoz" that are kept per Windows user.
bool IsPerUserSetting(const std::string& application, const std::string& section,
                      const std::string& key);

// Whether a file (folder false) or a folder (folder true) exists; false on any error.
bool PathExists(const std::string& path, bool folder);

// Cuts at the first NUL and removes leading and trailing spaces (only ' ').
std::string TrimAtNul(const std::string& text);

// One value of any INI file by its full path, plain section name, buffer of 256: the value cut
// at NUL and trimmed, or defaultValue when nothing was read.
std::string ReadProfileString(const std::string& file, const std::string& section,
                              const std::string& key, const std::string& defaultValue);

}  // namespace tovrik
