#include "settings/ini_settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>

#include "support/test_support.h"

namespace tovrik {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

class IniSettingsTest : public testing::Test {
protected:
    IniSettingsTest() {
        context_.SettingsFolder = dir_.Str();
        context_.LoginUserName = "taro";
    }
    std::string File() const { return context_.FilePath(); }

    TempDir dir_;
    SettingsContext context_;
};

class IniRoundTripTest : public IniSettingsTest, public testing::WithParamInterface<std::string> {};

TEST_P(IniRoundTripTest, WrittenSettingReadsBack) {
    if (!test::ProfileBytes(GetParam())) GTEST_SKIP() << "the ANSI code page lacks a character";
    SaveIniSetting(context_, "ZuzurodeZoz", "Login", "TEST", GetParam());
    EXPECT_EQ(GetIniSetting(context_, "ZuzurodeZoz", "Login", "TEST", "dflt"), GetParam());
}

// "ÿ" is the character with code 255 that the suite uses as its not-found marker; stored as
// UTF-8 text it must not be taken for a missing key.
INSTANTIATE_TEST_SUITE_P(Values, IniRoundTripTest,
                         testing::Values("2024/05/01 10:00:00", "日本語のデータソース", "ÿ",
                                         " padded "));

TEST_F(IniSettingsTest, EmptyOrMissingSettingGivesDefault) {
    EXPECT_EQ(GetIniSetting(context_, "ZuzurodeZoz", "Login", "DSN", "nofile"), "nofile");
    SaveIniSetting(context_, "ZuzurodeZoz", "Login", "DSN", "");
    EXPECT_EQ(ReadFile(File()), "[AllUser\\ZuzurodeZoz\\Login]\r\nDSN=\r\n");
    EXPECT_EQ(GetIniSetting(context_, "ZuzurodeZoz", "Login", "DSN", "empty"), "empty");
    EXPECT_EQ(GetIniSetting(context_, "ZuzurodeZoz", "Login", "UID", "nokey"), "nokey");
    EXPECT_EQ(GetIniSetting(context_, "ZuzurodeZoz", "Other", "DSN", "nosection"), "nosection");
}

TEST_F(IniSettingsTest, PerUserFolderSettingGoesUnderLoginUser) {
    SaveIniSetting(context_, "ZuzurodeZoz", "BkUp", "DIR", "mine");
    SaveIniSetting(context_, "ZuzurodeZoz", "BkUp", "Count", "shared");
    SaveIniSetting(context_, "Other", "BkUp", "DIR", "other");

    EXPECT_EQ(ReadProfileString(File(), "taro\\ZuzurodeZoz\\BkUp", "DIR", "-"), "mine");
    EXPECT_EQ(ReadProfileString(File(), "AllUser\\ZuzurodeZoz\\BkUp", "DIR", "-"), "-");
    EXPECT_EQ(ReadProfileString(File(), "AllUser\\ZuzurodeZoz\\BkUp", "Count", "-"), "shared");
    EXPECT_EQ(ReadProfileString(File(), "AllUser\\Other\\BkUp", "DIR", "-"), "other");
    EXPECT_EQ(GetIniSetting(context_, "ZuzurodeZoz", "BkUp", "DIR", "-"), "mine");
}

TEST_F(IniSettingsTest, EmptyApplicationAndSectionKeepBothBackslashes) {
    SaveIniSetting(context_, "", "", "CopyFlg", "1");
    EXPECT_EQ(ReadFile(File()), "[AllUser\\\\]\r\nCopyFlg=1\r\n");
    EXPECT_EQ(GetIniSetting(context_, "", "", "CopyFlg", "0"), "1");
}

TEST_F(IniSettingsTest, LongValueIsCutToBufferOf1024) {
    SaveIniSetting(context_, "App", "Sec", "Ascii", std::string(1500, 'x'));
    EXPECT_EQ(GetIniSetting(context_, "App", "Sec", "Ascii", ""), std::string(1023, 'x'));

    // A character of two bytes or more in the file's encoding (UTF-8, Shift_JIS); the single-byte
    // code pages have none, where "é" takes one byte.
    const std::string character = test::ProfileBytes("é") ? "é" : "日";
    const std::size_t size = test::ProfileBytes(character)->size();
    std::string text;
    for (int i = 0; i < 1100; ++i) text += character;
    SaveIniSetting(context_, "App", "Sec", "Wide", text);
    EXPECT_EQ(GetIniSetting(context_, "App", "Sec", "Wide", ""),
              text.substr(0, 1023 / size * character.size()));
}

// Start-up's write test relies on this: a refused write shows as a value that does not read back.
TEST_F(IniSettingsTest, ReadOnlyFileKeepsOldValue) {
    SaveIniSetting(context_, "ZuzurodeZoz", "Login", "TEST", "old");
    std::filesystem::permissions(File(),
                                 std::filesystem::perms::owner_write |
                                     std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
    SaveIniSetting(context_, "ZuzurodeZoz", "Login", "TEST", "new");
    EXPECT_EQ(GetIniSetting(context_, "ZuzurodeZoz", "Login", "TEST", ""), "old");
}

struct PerUserCase {
    const char* Application;
    const char* Section;
    const char* Key;
    bool PerUser;
};

void PrintTo(const PerUserCase& row, std::ostream* out) {
    *out << row.Application << "/" << row.Section << "/" << row.Key;
}

class PerUserTableTest : public testing::TestWithParam<PerUserCase> {};

TEST_P(PerUserTableTest, OnlyTheSixFolderSettingsArePerUser) {
    const PerUserCase& c = GetParam();
    EXPECT_EQ(IsPerUserSetting(c.Application, c.Section, c.Key), c.PerUser);
}

INSTANTIATE_TEST_SUITE_P(Table, PerUserTableTest,
                         testing::Values(PerUserCase{"ZuzurodeZoz", "BkUp", "DIR", true},
                                         PerUserCase{"ZuzurodeZoz", "Consulting", "DIR", true},
                                         PerUserCase{"ZuzurodeZoz", "CSV", "DIR", true},
                                         PerUserCase{"ZuzurodeZoz", "DB", "DIRex", true},
                                         PerUserCase{"ZuzurodeZoz", "DB", "DIR", true},
                                         PerUserCase{"ZuzurodeZoz", "FindSettings", "KairiOutPath",
                                                     true},
                                         PerUserCase{"zuzurodezoz", "BkUp", "DIR", false},
                                         PerUserCase{"ZuzurodeZoz", "BKUP", "DIR", false},
                                         PerUserCase{"ZuzurodeZoz", "BkUp", "Dir", false},
                                         PerUserCase{"ZuzurodeZoz", "DB", "DIRex ", false},
                                         PerUserCase{"Other", "BkUp", "DIR", false}));

// Drive paths are checked against this machine's file system as written: from the working folder,
// a folder literally named "D:\Backup" exists and "D:\Missing" does not.
struct DrivePathCase {
    const char* Name;
    const char* Stored;  // nullptr: the key is missing
    const char* Default;
    const char* Expected;
};

// Names the row in test output (the default prints raw bytes).
void PrintTo(const DrivePathCase& row, std::ostream* out) { *out << row.Name; }

class DrivePathTest : public IniSettingsTest, public testing::WithParamInterface<DrivePathCase> {
protected:
    void SetUp() override {
#ifdef _WIN32
        // The drive letters are the machine's, and Wine maps none to a test's folder.
        GTEST_SKIP() << "needs drives D: and E: of its own";
#endif
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_.Path());
        std::filesystem::create_directory("D:\\Backup");
        WriteFile("E:\\file.txt", "x");
    }
    void TearDown() override {
        if (!previous_.empty()) std::filesystem::current_path(previous_);
    }

    std::filesystem::path previous_;
};

TEST_P(DrivePathTest, MissingDrivePathReadsAsEmptyText) {
    const DrivePathCase& c = GetParam();
    if (c.Stored != nullptr) SaveIniSetting(context_, "ZuzurodeZoz", "BkUp", "DIR", c.Stored);
    EXPECT_EQ(GetIniSetting(context_, "ZuzurodeZoz", "BkUp", "DIR", c.Default), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, DrivePathTest,
    testing::Values(DrivePathCase{"ExistingFolder", "D:\\Backup", "", "D:\\Backup"},
                    DrivePathCase{"TrailingBackslashKept", "D:\\Backup\\", "", "D:\\Backup\\"},
                    DrivePathCase{"OnlyOneBackslashDropped", "D:\\Backup\\\\", "", ""},
                    DrivePathCase{"ExistingFile", "E:\\file.txt", "", "E:\\file.txt"},
                    DrivePathCase{"MissingFolder", "D:\\Missing", "dflt", ""},
                    DrivePathCase{"MissingWithBackslash", "D:\\Missing\\", "dflt", ""},
                    DrivePathCase{"UpperCaseAChecked", "A:\\Missing", "", ""},
                    DrivePathCase{"LowerCaseANotChecked", "a:\\Missing", "", "a:\\Missing"},
                    DrivePathCase{"LowerCaseBChecked", "b:\\Missing", "", ""},
                    DrivePathCase{"NumberNotChecked", "1", "", "1"},
                    DrivePathCase{"DigitDriveNotChecked", "1:\\Missing", "", "1:\\Missing"},
                    DrivePathCase{"NetworkPathNotChecked", "\\\\server\\share", "",
                                  "\\\\server\\share"},
                    DrivePathCase{"NoBackslashNotChecked", "D:Missing", "", "D:Missing"},
                    DrivePathCase{"SlashNotChecked", "D:/Missing", "", "D:/Missing"},
                    DrivePathCase{"MissingDefaultPath", nullptr, "D:\\Missing", ""},
                    DrivePathCase{"ExistingDefaultPath", nullptr, "D:\\Backup", "D:\\Backup"}),
    test::RowName());

TEST(PathExists, TellsFilesFromFolders) {
    TempDir dir;
    WriteFile(dir.Path() / "file", "x");
    for (const std::string& path :
         {dir.Str(), dir.Str() + "/file", dir.Str() + "/missing", std::string()}) {
        EXPECT_EQ(PathExists(path, true), path == dir.Str()) << path;
        EXPECT_EQ(PathExists(path, false), path == dir.Str() + "/file") << path;
    }
}

struct TrimCase {
    const char* Name;
    std::string Input;
    std::string Expected;
};

void PrintTo(const TrimCase& row, std::ostream* out) { *out << row.Name; }

class TrimAtNulTest : public testing::TestWithParam<TrimCase> {};

TEST_P(TrimAtNulTest, CutsAtNulAndTrimsSpaces) {
    EXPECT_EQ(TrimAtNul(GetParam().Input), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TrimAtNulTest,
    testing::Values(TrimCase{"Empty", "", ""}, TrimCase{"OnlySpaces", "   ", ""},
                    TrimCase{"NoNulTrimsSpaces", "  a b  ", "a b"},
                    TrimCase{"TabsStay", "\ta\t", "\ta\t"},
                    TrimCase{"StartsWithNul", std::string("\0abc", 4), ""},
                    TrimCase{"CutThenTrimmed", std::string(" ab \0cd", 7), "ab"},
                    TrimCase{"BufferOfNuls", "C:\\ProgramData" + std::string(246, '\0'),
                             "C:\\ProgramData"}),
    test::RowName());

struct ProfileStringCase {
    const char* Name;
    const char* Section;
    const char* Key;
    const char* Default;
    std::string Expected;
};

void PrintTo(const ProfileStringCase& row, std::ostream* out) { *out << row.Name; }

class ReadProfileStringTest : public testing::TestWithParam<ProfileStringCase> {};

TEST_P(ReadProfileStringTest, ReadsPlainSectionsOfAnyFile) {
    TempDir dir;
    const std::string file = (dir.Path() / "NUVRALsv.ini").string();
    WriteFile(file, "[Server]\r\nName =  host1  \r\nQuoted=\" q \"\r\nEmpty=\r\nLong=" +
                        std::string(300, 'x') + "\r\n");
    const ProfileStringCase& c = GetParam();
    EXPECT_EQ(ReadProfileString(file, c.Section, c.Key, c.Default), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadProfileStringTest,
    testing::Values(
        ProfileStringCase{"MissingKeyGivesDefault", "Server", "Port", "0", "0"},
        ProfileStringCase{"MissingKeyTrimsDefault", "Server", "Port", "  0  ", "0"},
        ProfileStringCase{"EmptyDefaultStaysEmpty", "Server", "Port", "", ""},
        ProfileStringCase{"BlanksAroundValueGone", "Server", "Name", "", "host1"},
        ProfileStringCase{"SpacesInsideQuotesTrimmed", "Server", "Quoted", "", "q"},
        ProfileStringCase{"EmptyValueGivesDefaultUntrimmed", "Server", "Empty", " d ", " d "},
        ProfileStringCase{"LongValueCutTo255", "Server", "Long", "", std::string(255, 'x')}),
    test::RowName());

TEST(ReadProfileString, MissingFileGivesDefault) {
    TempDir dir;
    EXPECT_EQ(ReadProfileString(dir.Str() + "/missing.ini", "Server", "Name", "0"), "0");
}

}  // namespace
}  // namespace tovrik
