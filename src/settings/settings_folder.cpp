#include "settings/settings_folder.h"

#include <cerrno>
#include <filesystem>
#include <optional>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "common/utf.h"
#include "platform/platform.h"
#include "settings/ini_settings.h"

namespace tovrik {

namespace {

namespace fs = std::filesystem;

std::string Reason(std::errc code) { return std::make_error_code(code).message(); }

// errno's text when this process may not write to `path`.
std::optional<std::string> WriteRefused(const fs::path& path) {
#ifdef _WIN32
    if (::_waccess(path.c_str(), 2) == 0) return std::nullopt;
#else
    if (::access(path.c_str(), W_OK) == 0) return std::nullopt;
#endif
    return std::error_code(errno, std::generic_category()).message();
}

// The reason creating `folder` failed, as the system would give it.
std::string CreationFailure(const fs::path& folder) {
    std::error_code ignored;
    const fs::path parent = folder.parent_path();
    const fs::file_status status = fs::status(parent, ignored);
    if (!fs::exists(status)) {
        return Utf8FromPath(parent) + ": " + Reason(std::errc::no_such_file_or_directory);
    }
    if (!fs::is_directory(status)) {
        return Utf8FromPath(parent) + ": " + Reason(std::errc::not_a_directory);
    }
    if (const auto refused = WriteRefused(parent)) return Utf8FromPath(parent) + ": " + *refused;
    return Reason(std::errc::io_error);
}

}  // namespace

std::string CommonAppDataFolderFrom(const std::string& machineFolder) {
    // Never fails: anything unexpected gives the program's folder.
    try {
        return PathExists(machineFolder, true) ? machineFolder : ProgramFolder();
    } catch (...) {
        return ProgramFolder();
    }
}

std::string DescribeUnwritableSettings(const std::string& folder, const std::string& file) {
    const std::string folderText = "設定フォルダー " + folder;
    const std::string fileText = "設定ファイル " + file;
    try {
        std::error_code ignored;
        const fs::path folderPath = PathFromUtf8(folder);
        const fs::file_status folderStatus = fs::status(folderPath, ignored);
        if (!fs::exists(folderStatus)) {
            return folderText + " を作成できません: " + CreationFailure(folderPath);
        }
        if (!fs::is_directory(folderStatus)) {
            return folderText + " を作成できません: " + Reason(std::errc::file_exists);
        }
        const fs::path filePath = PathFromUtf8(file);
        const fs::file_status fileStatus = fs::status(filePath, ignored);
        if (fs::exists(fileStatus)) {
            if (fs::is_directory(fileStatus)) {
                return fileText + " に書き込めません: " + Reason(std::errc::is_a_directory);
            }
            if (!fs::is_regular_file(fileStatus)) {
                return fileText + " に書き込めません: " + Reason(std::errc::invalid_argument);
            }
            constexpr fs::perms kWrite =
                fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
            if ((fileStatus.permissions() & kWrite) == fs::perms::none) {
                return fileText + " は読み取り専用です";
            }
            if (const auto refused = WriteRefused(filePath)) {
                return fileText + " に書き込めません: " + *refused;
            }
        }
        // The file is created, and replaced, through a new file beside it.
        if (const auto refused = WriteRefused(folderPath)) {
            return folderText + " に書き込めません: " + *refused;
        }
    } catch (const std::exception&) {
        // A path that is not UTF-8: nothing more can be said about it.
    }
    return fileText + " に書いた値を読み戻せません";
}

}  // namespace tovrik
