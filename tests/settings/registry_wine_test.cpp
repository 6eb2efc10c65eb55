#include "settings/wine_registry.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/platform.h"
#include "settings/registry_source.h"
#include "support/test_support.h"

namespace tovrik {
namespace {

using Names = std::vector<std::string>;

const std::string kRoot = "Software\\VB and VBA Program Settings\\";

class FakeEnvironment final : public Environment {
public:
    explicit FakeEnvironment(std::map<std::string, std::string> values)
        : values_(std::move(values)) {}
    std::optional<std::string> Get(const std::string& name) const override {
        const auto found = values_.find(name);
        if (found == values_.end()) return std::nullopt;
        return found->second;
    }

private:
    std::map<std::string, std::string> values_;
};

class WineRegistryTest : public testing::Test {
protected:
    std::string Text(const std::string& key) {
        return registry_.GetSetting("Reader", "Texts", key, "(default)");
    }

    WineRegistrySource registry_{test::SourcePath("tests/settings/data/registry/reader/user.reg")};
};

TEST_F(WineRegistryTest, DecodesTheEscapesWineWrites) {
    EXPECT_EQ(Text("Backslash"), "C:\\dir\\");
    EXPECT_EQ(Text("Quote"), "say \"hi\"");
    EXPECT_EQ(Text("Japanese"), "日本語");
    EXPECT_EQ(Text("Raw"), "日本語");
    EXPECT_EQ(Text("Surrogates"), "\U0001F600!");
    EXPECT_EQ(Text("ShortHex"), "été");
    EXPECT_EQ(Text("Controls"), "a\tb\nc\rd");
    EXPECT_EQ(Text("Octal"), "A");  // the text ends at its NUL
    EXPECT_EQ(Text("Bracket"), "[x] = y");
    EXPECT_EQ(Text("Empty"), "");
}

TEST_F(WineRegistryTest, ReadsTextTypesAndPassesOverTheOthers) {
    EXPECT_EQ(Text("Expand"), "%TEMP%\\x");
    EXPECT_EQ(Text("HexText"), "ab");
    EXPECT_EQ(Text("AfterBinary"), "still read");
    for (const char* other : {"Multi", "Number", "Binary", "", "Missing"}) {
        EXPECT_EQ(Text(other), "(default)") << other;
    }
    EXPECT_EQ(registry_.GetSetting("Reader", "Nowhere", "k", "(default)"), "(default)");
}

TEST_F(WineRegistryTest, ListsTextValuesInCaseInsensitiveOrder) {
    EXPECT_EQ(registry_.EnumValues(kRoot + "Reader\\Texts"),
              (Names{"AfterBinary", "Backslash", "Bracket", "Controls", "Empty", "Expand",
                     "HexText", "Japanese", "Octal", "Quote", "Raw", "ShortHex", "Surrogates"}));
    EXPECT_EQ(registry_.EnumValues(kRoot + "Reader\\Order"), (Names{"A", "b", "C", "_x"}));
}

TEST_F(WineRegistryTest, ListsSubkeysIncludingKeysThatOnlyHoldSubkeys) {
    const Names sections{"a sub", "Order", "Texts", "Zeta", "テスト"};
    EXPECT_EQ(registry_.EnumKey(kRoot + "Reader"), sections);
    EXPECT_EQ(registry_.EnumKey("SOFTWARE\\vb and vba program settings\\reader"), sections);
    EXPECT_EQ(registry_.EnumKey(kRoot + "Reader\\Zeta"), Names{"Deep"});
    EXPECT_EQ(registry_.EnumValues(kRoot + "Reader\\Zeta"), Names{});
    EXPECT_EQ(registry_.EnumKey(kRoot + "Reader\\Order"), Names{});
    EXPECT_EQ(registry_.EnumValues(kRoot + "Reader\\テスト"), Names{"値"});
    EXPECT_EQ(registry_.GetSetting("reader", "TEXTS", "quote", ""), "say \"hi\"");
}

TEST_F(WineRegistryTest, MissingKeysCannotBeListed) {
    EXPECT_EQ(registry_.EnumKey(kRoot + "Absent"), std::nullopt);
    EXPECT_EQ(registry_.EnumValues(kRoot + "Reader\\Absent"), std::nullopt);
    EXPECT_EQ(registry_.EnumKey(kRoot + "Read"), std::nullopt);
}

TEST(WineRegistry, MissingOrForeignFileHasNoKeys) {
    test::TempDir dir;
    test::WriteFile(dir.Path() / "foreign.reg", "[Software\\\\A\\\\B]\n\"k\"=\"v\"\n");
    for (const auto& path : {dir.Path() / "absent.reg", dir.Path() / "foreign.reg", dir.Path(),
                             std::filesystem::path()}) {
        WineRegistrySource registry(path);
        EXPECT_EQ(registry.EnumKey("Software\\A"), std::nullopt) << path;
        EXPECT_EQ(registry.GetSetting("A", "B", "k", "d"), "d") << path;
    }
}

TEST(WineRegistry, UserFileOfThePrefixOrOfHome) {
    EXPECT_EQ(WineUserRegistryFile(FakeEnvironment({{"WINEPREFIX", "/p"}, {"HOME", "/h"}})),
              "/p/user.reg");
    EXPECT_EQ(WineUserRegistryFile(FakeEnvironment({{"WINEPREFIX", ""}, {"HOME", "/h"}})),
              "/h/.wine/user.reg");
    EXPECT_EQ(WineUserRegistryFile(FakeEnvironment({})), std::filesystem::path());
}

// Linux only: on Windows the system source is the registry itself (registry_windows_test.cpp).
#ifndef _WIN32
TEST(WineRegistry, SystemSourceReadsThePrefixOfTheEnvironment) {
    test::TempDir dir;
    test::WriteFile(
        dir.Path() / "user.reg",
        "WINE REGISTRY Version 2\n\n[Software\\\\VB and VBA Program Settings\\\\A\\\\B] "
        "1700000000\n\"k\"=\"v\"\n");
    const auto registry = MakeSystemRegistrySource(FakeEnvironment({{"WINEPREFIX", dir.Str()}}));
    EXPECT_EQ(registry->GetSetting("A", "B", "k", "d"), "v");
}
#endif

}  // namespace
}  // namespace tovrik
