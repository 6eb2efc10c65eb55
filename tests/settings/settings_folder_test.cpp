#include "settings/settings_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

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

}  // namespace
}  // namespace tovrik
