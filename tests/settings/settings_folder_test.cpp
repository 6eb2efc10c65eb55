#include "settings/settings_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "platform/platform.h"
#include "support/test_support.h"

namespace tovrik {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(CommonAppDataFolder, IsAnExistingFolder) {
    EXPECT_TRUE(std::filesystem::is_directory(GetCommonAppDataFolder()));
}

TEST(CommonAppDataFolder, TakesAnExistingFolderElseTheProgramFolder) {
    TempDir dir;
    WriteFile(dir.Path() / "file", "x");
    EXPECT_EQ(CommonAppDataFolderFrom(dir.Str()), dir.Str());
    EXPECT_EQ(CommonAppDataFolderFrom(dir.Str() + "/missing"), ProgramFolder());
    EXPECT_EQ(CommonAppDataFolderFrom(dir.Str() + "/file"), ProgramFolder());
    EXPECT_EQ(CommonAppDataFolderFrom(""), ProgramFolder());
}

TEST(EnsureFolder, CreatesOneMissingFolderAndLeavesAnExistingOneAlone) {
    TempDir dir;
    EnsureFolder(dir.Str() + "/TachographIni");
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "TachographIni"));

    WriteFile(dir.Path() / "TachographIni/TachoGraph.int", "[S]\r\nk=v\r\n");
    EnsureFolder(dir.Str() + "/TachographIni");
    EXPECT_EQ(ReadFile(dir.Path() / "TachographIni/TachoGraph.int"), "[S]\r\nk=v\r\n");
}

TEST(EnsureFolder, FailuresAreIgnored) {
    TempDir dir;
    EnsureFolder(dir.Str() + "/missing/TachographIni");
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "missing"));

    WriteFile(dir.Path() / "file", "x");
    EnsureFolder(dir.Str() + "/file");
    EXPECT_EQ(ReadFile(dir.Path() / "file"), "x");

    EnsureFolder("");
}

// Why the settings could not be written. Paths are relative to a temporary folder that holds a
// file "file" and a folder "ini" with "TachoGraph.int" in it (as the row sets them up).
struct UnwritableCase {
    const char* Name;
    std::string Folder;
    std::function<void(const std::filesystem::path& root)> Arrange;
    std::string Expected;  // "<root>" stands for the temporary folder
};

void PrintTo(const UnwritableCase& row, std::ostream* out) { *out << row.Name; }

class UnwritableSettings : public testing::TestWithParam<UnwritableCase> {};

TEST_P(UnwritableSettings, NamesThePathAtFaultAndTheSystemsReason) {
    const UnwritableCase& c = GetParam();
    TempDir dir;
    WriteFile(dir.Path() / "file", "x");
    std::filesystem::create_directory(dir.Path() / "ini");
    if (c.Arrange) c.Arrange(dir.Path());
    const std::string folder = dir.Str() + "/" + c.Folder;

    std::string expected = c.Expected;
    for (auto at = expected.find("<root>"); at != std::string::npos; at = expected.find("<root>"))
        expected.replace(at, 6, dir.Str());
    EXPECT_EQ(DescribeUnwritableSettings(folder, folder + "/TachoGraph.int"), expected);
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "missing"));
}

INSTANTIATE_TEST_SUITE_P(
    Causes, UnwritableSettings,
    testing::Values(
        UnwritableCase{"ParentMissing",
                       "missing/TachographIni",
                       {},
                       "設定フォルダー <root>/missing/TachographIni を作成できません: "
                       "<root>/missing: No such file or directory"},
        UnwritableCase{"ParentIsAFile",
                       "file/TachographIni",
                       {},
                       "設定フォルダー <root>/file/TachographIni を作成できません: <root>/file: "
                       "Not a directory"},
        UnwritableCase{"FolderIsAFile",
                       "file",
                       {},
                       "設定フォルダー <root>/file を作成できません: File exists"},
        UnwritableCase{"FileIsAFolder", "ini",
                       [](const std::filesystem::path& root) {
                           std::filesystem::create_directory(root / "ini" / "TachoGraph.int");
                       },
                       "設定ファイル <root>/ini/TachoGraph.int に書き込めません: Is a directory"},
        UnwritableCase{"ReadOnlyFile", "ini",
                       [](const std::filesystem::path& root) {
                           WriteFile(root / "ini" / "TachoGraph.int", "");
                           std::filesystem::permissions(root / "ini" / "TachoGraph.int",
                                                        std::filesystem::perms::owner_read);
                       },
                       "設定ファイル <root>/ini/TachoGraph.int は読み取り専用です"},
        // Nothing in the way that can be seen: the value simply did not come back.
        UnwritableCase{"NothingVisible",
                       "ini",
                       {},
                       "設定ファイル <root>/ini/TachoGraph.int に書いた値を読み戻せません"}),
    test::RowName{});

}  // namespace
}  // namespace tovrik
