// What only the Windows profile layer meets: files locked by another program, and names the ANSI
// code page cannot spell (the "A" functions would get '?' in their place).
#include <windows.h>
// shlobj.h needs the declarations of windows.h first.
#include <shlobj.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "settings/profile_file.h"
#include "settings/settings_folder.h"
#include "support/test_support.h"

namespace tovrik {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// A folder name with a character of neither code page the tests run under, and one the current
// code page lacks though the other has it.
std::string NameOutsideTheCodePage() { return test::ProfileBytes("é") ? "日本" : "é"; }

// Another program holding the file open without sharing it, as an editor or a backup may.
class ExclusiveOpen {
public:
    explicit ExclusiveOpen(const std::filesystem::path& file)
        : handle_(CreateFileW(file.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~ExclusiveOpen() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    ExclusiveOpen(const ExclusiveOpen&) = delete;
    ExclusiveOpen& operator=(const ExclusiveOpen&) = delete;
    bool Held() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

TEST(ProfileFileWindows, FileLockedByAnotherProgramIsNotWrittenAndKeepsItsContent) {
    TempDir dir;
    const std::filesystem::path file = dir.Path() / "TachoGraph.int";
    WriteFile(file, "[S]\r\nk=old\r\n");
    {
        const ExclusiveOpen other(file);
        ASSERT_TRUE(other.Held());
        EXPECT_FALSE(WritePrivateProfileText("S", "k", "new", file.string()));
        EXPECT_FALSE(WritePrivateProfileText("S", "added", "x", file.string()));
        // Reading fails too: the caller's default comes back.
        EXPECT_EQ(GetPrivateProfileText("S", "k", "dflt", 64, file.string()).Text, "dflt");
    }
    EXPECT_EQ(ReadFile(file), "[S]\r\nk=old\r\n");
    EXPECT_EQ(GetPrivateProfileText("S", "k", "dflt", 64, file.string()).Text, "old");
}

TEST(ProfileFileWindows, PathOutsideTheCodePageIsRefusedAndNothingIsWritten) {
    TempDir dir;
    const std::filesystem::path folder =
        dir.Path() / std::filesystem::u8path(NameOutsideTheCodePage());
    std::filesystem::create_directory(folder);
    // Paths of the settings layer are UTF-8 text.
    const std::string file = dir.Str() + "\\" + NameOutsideTheCodePage() + "\\x.ini";

    EXPECT_FALSE(WritePrivateProfileText("S", "k", "v", file));
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    // Nor in a folder whose name the substitution would make ("?"), next to it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              1);
    EXPECT_EQ(GetPrivateProfileText("S", "k", "dflt", 64, file).Text, "dflt");
}

TEST(ProfileFileWindows, ValueSectionOrKeyOutsideTheCodePageIsRefused) {
    TempDir dir;
    const std::string file = (dir.Path() / "TachoGraph.int").string();
    WriteFile(file, "[S]\r\nk=old\r\n");
    const std::string outside = NameOutsideTheCodePage();
    EXPECT_FALSE(WritePrivateProfileText("S", "k", outside, file));
    EXPECT_FALSE(WritePrivateProfileText(outside, "k", "v", file));
    EXPECT_FALSE(WritePrivateProfileText("S", outside, "v", file));
    EXPECT_EQ(ReadFile(file), "[S]\r\nk=old\r\n");
}

TEST(SettingsFolderWindows, FolderOutsideTheCodePageIsNotCreated) {
    TempDir dir;
    EnsureFolder(dir.Str() + "\\" + NameOutsideTheCodePage());
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(SettingsFolderWindows, CommonApplicationDataIsTheMachinesFolder) {
    wchar_t expected[MAX_PATH] = {};
    ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, expected, CSIDL_COMMON_APPDATA, FALSE));
    EXPECT_EQ(std::filesystem::path(std::filesystem::u8path(GetCommonAppDataFolder())),
              std::filesystem::path(expected));
}

}  // namespace
}  // namespace tovrik
