#include "common/utf.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/test_support.h"

namespace tovrik {
namespace {

// Names that code page 932 or 1252 (or both) cannot spell: a path taken from a plain
// std::string on Windows would name another file, or none.
TEST(Utf8Path, NamesOutsideTheCodePageReachTheFileAndComeBackUnchanged) {
    const test::TempDir dir;
    const std::string folder = Utf8FromPath(dir.Path());
    for (const std::string name : {"é運行", "한국어 記録.tsv"}) {
        std::ofstream(PathFromUtf8(folder + "/" + name)) << name;
        EXPECT_EQ(test::ReadFile(dir.Path() / PathFromUtf8(name)), name);
    }
    // On the disk under those very names, not under substitutes such as "?".
    int listed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        const std::string name = Utf8FromPath(entry.path().filename());
        EXPECT_TRUE(name == "é運行" || name == "한국어 記録.tsv") << name;
        ++listed;
    }
    EXPECT_EQ(listed, 2);
}

}  // namespace
}  // namespace tovrik
