#include "settings/ini_settings.h"

#include <filesystem>
#include <system_error>

#include "common/utf.h"
#include "platform/platform.h"
#include "settings/profile_file.h"

namespace tovrik {

namespace {

// The profile function's default when GetIniSetting reads, telling a missing key from a present
// one. The suite uses the one character with code 255; in our UTF-8 file it is the single raw
// byte 0xFF, which never occurs in valid UTF-8, so no stored text can be mistaken for it.
const std::string kNotFound = "\xFF";
constexpr std::size_t kSettingBufferSize = 1024;
constexpr std::size_t kProfileStringBufferSize = 256;

struct SectionAndKey {
    const char* Section;
    const char* Key;
};

// The folder settings of "ZuzurodeZoz" that each Windows user keeps for themselves.
constexpr SectionAndKey kPerUserSettings[] = {
    {"BkUp", "DIR"}, {"Consulting", "DIR"}, {"CSV", "DIR"},
    {"DB", "DIRex"}, {"DB", "DIR"},         {"FindSettings", "KairiOutPath"},
};

std::string SectionName(const SettingsContext& context, const std::string& application,
                        const std::string& section, const std::string& key) {
    const std::string& user =
        IsPerUserSetting(application, section, key) ? context.LoginUserName : context.SettingsUser;
    return user + "\\" + application + "\\" + section;
}

// "X:\..." with X one of b-z or A-Z: the lower-case a is left out on purpose, as the suite does.
bool IsDrivePath(const std::string& value) {
    if (value.size() < 3) return false;
    const char first = value[0];
    const bool letter = (first >= 'b' && first <= 'z') || (first >= 'A' && first <= 'Z');
    return letter && value[1] == ':' && value[2] == '\\';
}

// A drive path naming neither an existing file nor folder becomes empty text.
std::string BlankMissingDrivePath(std::string value) {
    if (!IsDrivePath(value)) return value;
    std::string path = value;
    if (path.back() == '\\') path.pop_back();
    const bool isFile = PathExists(path, false);
    const bool isFolder = PathExists(path, true);
    if (!isFile && !isFolder) value.clear();
    return value;
}

}  // namespace

std::string SettingsContext::FilePath() const {
    return SettingsFolder + kPathSeparator + SettingsFile;
}

void SaveIniSetting(const SettingsContext& context, const std::string& application,
                    const std::string& section, const std::string& key, const std::string& value) {
    // Fails quietly: start-up finds an unwritable store by reading its test value back.
    try {
        WritePrivateProfileText(SectionName(context, application, section, key), key, value,
                                context.FilePath());
    } catch (...) {
    }
}

std::string GetIniSetting(const SettingsContext& context, const std::string& application,
                          const std::string& section, const std::string& key,
                          const std::string& defaultValue) {
    // Fails quietly with empty text (not the default).
    try {
        const ProfileText read =
            GetPrivateProfileText(SectionName(context, application, section, key), key, kNotFound,
                                  kSettingBufferSize, context.FilePath());
        const bool missingOrEmpty = read.Text == kNotFound || read.Copied == 0;
        return BlankMissingDrivePath(missingOrEmpty ? defaultValue : read.Text);
    } catch (...) {
        return std::string();
    }
}

bool IsPerUserSetting(const std::string& application, const std::string& section,
                      const std::string& key) {
    if (application != "ZuzurodeZoz") return false;
    for (const SectionAndKey& setting : kPerUserSettings) {
        if (section == setting.Section && key == setting.Key) return true;
    }
    return false;
}

bool PathExists(const std::string& path, bool folder) {
    if (path.empty()) return false;
    std::error_code error;
    std::filesystem::file_status status;
    try {
        status = std::filesystem::status(PathFromUtf8(path), error);
    } catch (const std::exception&) {
        return false;  // not valid UTF-8
    }
    if (error || !std::filesystem::exists(status)) return false;
    return std::filesystem::is_directory(status) == folder;
}

std::string TrimAtNul(const std::string& text) {
    const std::string cut = text.substr(0, text.find('\0'));
    const std::size_t first = cut.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    return cut.substr(first, cut.find_last_not_of(' ') - first + 1);
}

std::string ReadProfileString(const std::string& file, const std::string& section,
                              const std::string& key, const std::string& defaultValue) {
    // Fails quietly with the caller's default.
    try {
        const ProfileText read =
            GetPrivateProfileText(section, key, defaultValue, kProfileStringBufferSize, file);
        if (read.Copied == 0) return defaultValue;
        return TrimAtNul(read.Text);
    } catch (...) {
        return defaultValue;
    }
}

}  // namespace tovrik
