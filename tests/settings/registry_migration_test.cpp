#include "settings/registry_migration.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>

#include "settings/wine_registry.h"
#include "support/test_support.h"

namespace tovrik {
namespace {

using test::ReadFile;
using test::SourcePath;
using test::WriteFile;

std::filesystem::path Fixture(const std::string& name) {
    return SourcePath("tests/settings/data/registry/" + name);
}

// The file with every CRLF turned into LF, to compare with an expected file.
std::string Lines(const std::filesystem::path& path) {
    std::string text = ReadFile(path);
    std::string lines;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lines += text[i];
    }
    return lines;
}

// Passes every call on to `inner` and counts it, so a test can prove the registry untouched.
class CountingRegistry final : public RegistrySource {
public:
    explicit CountingRegistry(RegistrySource& inner) : inner_(inner) {}
    std::optional<std::vector<std::string>> EnumKey(const std::string& keyPath) override {
        ++Calls;
        return inner_.EnumKey(keyPath);
    }
    std::optional<std::vector<std::string>> EnumValues(const std::string& keyPath) override {
        ++Calls;
        return inner_.EnumValues(keyPath);
    }
    std::string GetSetting(const std::string& application, const std::string& section,
                           const std::string& key, const std::string& defaultValue) override {
        ++Calls;
        return inner_.GetSetting(application, section, key, defaultValue);
    }
    int Calls = 0;

private:
    RegistrySource& inner_;
};

class MigrationTest : public testing::Test {
protected:
    void SetUp() override {
        context_.SettingsFolder = dir_.Str();
        context_.LoginUserName = "taro";
    }
    std::filesystem::path SettingsFile() const { return context_.FilePath(); }
    std::string Read(const std::string& section, const std::string& key) const {
        return ReadProfileString(context_.FilePath(), section, key, "(missing)");
    }
    void Migrate(const std::string& fixture) {
        WineRegistrySource wine(Fixture(fixture));
        CountingRegistry counting(wine);
        MigrateRegistrySettings(context_, counting);
        registryCalls_ = counting.Calls;
    }

    test::TempDir dir_;
    SettingsContext context_;
    int registryCalls_ = 0;
};

TEST_F(MigrationTest, CopiesInDiscoveryOrderUnderTheUserPartOfEachSetting) {
    Migrate("suite/user.reg");
    EXPECT_EQ(Lines(SettingsFile()), test::ProfileContent(Fixture("suite/expected.ini")));
}

TEST_F(MigrationTest, WithoutApplicationKeysOnlyTheMarkersAreWritten) {
    for (const char* fixture : {"no_apps/user.reg", "missing/user.reg"}) {
        std::filesystem::remove(SettingsFile());
        Migrate(fixture);
        EXPECT_EQ(Lines(SettingsFile()), ReadFile(Fixture("no_apps/expected.ini"))) << fixture;
    }
}

struct MarkerCase {
    const char* Name;
    std::optional<std::string> SettingsText;  // nothing: no settings file yet
    bool Copied;
};

void PrintTo(const MarkerCase& row, std::ostream* out) { *out << row.Name; }

class CopyMarkerTest : public MigrationTest, public testing::WithParamInterface<MarkerCase> {};

TEST_P(CopyMarkerTest, MarkerOneSkipsEverythingAnyOtherNumberCopies) {
    if (GetParam().SettingsText) WriteFile(SettingsFile(), *GetParam().SettingsText);
    const std::string before = ReadFile(SettingsFile());
    Migrate("suite/user.reg");
    if (GetParam().Copied) {
        EXPECT_EQ(registryCalls_, 0);
        EXPECT_EQ(ReadFile(SettingsFile()), before);
    } else {
        EXPECT_GT(registryCalls_, 0);
        EXPECT_EQ(Read("AllUser\\\\", "CopyFlg"), "1");
        EXPECT_EQ(Read("Config", "TachographIni"), "True");
        EXPECT_EQ(Read("AllUser\\ZuzurodeZoz\\Login", "DSN"), "NuvralDSN");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Markers, CopyMarkerTest,
    testing::Values(MarkerCase{"Missing", std::nullopt, false},
                    MarkerCase{"Empty", "[AllUser\\\\]\r\nCopyFlg=\r\n", false},
                    MarkerCase{"Zero", "[AllUser\\\\]\r\nCopyFlg=0\r\n", false},
                    MarkerCase{"Two", "[AllUser\\\\]\r\nCopyFlg=2\r\n", false},
                    MarkerCase{"One", "[AllUser\\\\]\r\nCopyFlg=1\r\n", true},
                    MarkerCase{"OneWritten", "[AllUser\\\\]\r\nCopyFlg=1.0\r\n", true},
                    MarkerCase{"OneOfAnotherUser", "[taro\\\\]\r\nCopyFlg=1\r\n", false}),
    test::RowName());

TEST_F(MigrationTest, MarkerThatIsNoNumberEscapesBeforeAnyRegistryAccess) {
    WriteFile(SettingsFile(), "[AllUser\\\\]\r\nCopyFlg=yes\r\n");
    EXPECT_THROW(Migrate("suite/user.reg"), std::invalid_argument);
    EXPECT_EQ(registryCalls_, 0);
    EXPECT_EQ(Read("Config", "TachographIni"), "(missing)");
}

// A registry whose listings fail for every application but the first, and whose value "Gone"
// has vanished by the time it is read.
class FailingRegistry final : public RegistrySource {
public:
    std::optional<std::vector<std::string>> EnumKey(const std::string& keyPath) override {
        if (keyPath.ends_with("\\ZuzurodeZoz")) return std::vector<std::string>{"Login", "Lost"};
        throw std::runtime_error("no provider");
    }
    std::optional<std::vector<std::string>> EnumValues(const std::string& keyPath) override {
        if (keyPath.ends_with("\\Lost")) return std::nullopt;
        return std::vector<std::string>{"DSN", "", "Gone"};
    }
    std::string GetSetting(const std::string&, const std::string&, const std::string& key,
                           const std::string& defaultValue) override {
        return key == "DSN" ? "NuvralDSN" : defaultValue;
    }
};

TEST_F(MigrationTest, FailingListingsArePassedOverAndVanishedValuesWrittenEmpty) {
    FailingRegistry registry;
    MigrateRegistrySettings(context_, registry);
    EXPECT_EQ(Lines(SettingsFile()),
              "[AllUser\\ZuzurodeZoz\\Login]\nDSN=NuvralDSN\nGone=\n"
              "[AllUser\\\\]\nCopyFlg=1\n[Config]\nTachographIni=True\n");
}

}  // namespace
}  // namespace tovrik
