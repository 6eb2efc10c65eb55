// The registry migration through the Windows registry itself: the test writes the suite's keys
// into the registry of the Wine session (the same fixture the Wine-file reader is tested with,
// plus values of other types), migrates, and expects the same settings file.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/utf.h"
#include "platform/platform.h"
#include "settings/ini_settings.h"
#include "settings/registry_migration.h"
#include "settings/wine_registry.h"
#include "support/test_support.h"

namespace tovrik {
namespace {

constexpr wchar_t kRoot[] = L"Software\\VB and VBA Program Settings";

std::filesystem::path Fixture(const std::string& name) {
    return test::SourcePath("tests/settings/data/registry/" + name);
}

// One value written with its type and raw bytes.
void SetValue(const std::string& keyPath, const std::string& name, DWORD type, const void* data,
              std::size_t size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER,
                              (std::wstring(kRoot) + L"\\" + Utf8ToWide(keyPath)).c_str(), 0,
                              nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, Utf8ToWide(name).c_str(), 0, type, static_cast<const BYTE*>(data),
                             static_cast<DWORD>(size)),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

void SetText(const std::string& keyPath, const std::string& name, const std::wstring& text,
             DWORD type = REG_SZ) {
    SetValue(keyPath, name, type, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

class RegistryWindowsTest : public testing::Test {
protected:
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
        context_.SettingsFolder = dir_.Str();
        context_.LoginUserName = "taro";
    }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kRoot); }

    // Every text value of a Wine registry file, written into the registry as REG_SZ.
    void Load(const std::string& fixture) {
        WineRegistrySource file(Fixture(fixture));
        const std::string root = "Software\\VB and VBA Program Settings";
        for (const std::string& application :
             file.EnumKey(root).value_or(std::vector<std::string>{})) {
            const std::string applicationKey = root + "\\" + application;
            for (const std::string& section :
                 file.EnumKey(applicationKey).value_or(std::vector<std::string>{})) {
                const std::string path = application + "\\" + section;
                const auto names = file.EnumValues(applicationKey + "\\" + section);
                HKEY key = nullptr;
                RegCreateKeyExW(HKEY_CURRENT_USER,
                                (std::wstring(kRoot) + L"\\" + Utf8ToWide(path)).c_str(), 0,
                                nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
                RegCloseKey(key);
                for (const std::string& name : names.value_or(std::vector<std::string>{})) {
                    SetText(path, name,
                            Utf8ToWide(file.GetSetting(application, section, name, "")));
                }
            }
        }
    }

    void Migrate() {
        const ProcessEnvironment environment;
        MigrateRegistrySettings(context_, *MakeSystemRegistrySource(environment));
    }

    std::string SettingsLines() const {
        std::string lines;
        for (const char c : test::ReadFile(context_.FilePath())) {
            if (c != '\r') lines += c;
        }
        return lines;
    }

    test::TempDir dir_;
    SettingsContext context_;
};

TEST_F(RegistryWindowsTest, CopiesTextValuesOfEveryTypeOfTextAndPassesOverTheRest) {
    Load("suite/user.reg");
    const std::uint32_t number = 1;
    SetValue("ZuzurodeZoz\\Login", "Mode", REG_DWORD, &number, sizeof number);
    SetText("ZuzurodeZoz\\Types", "Expand", L"%TEMP%\\csv", REG_EXPAND_SZ);
    SetText("ZuzurodeZoz\\Types", "Multi", std::wstring(L"a\0b\0", 4), REG_MULTI_SZ);
    const unsigned char bytes[] = {0x41, 0x00, 0x42, 0x00};
    SetValue("ZuzurodeZoz\\Types", "Binary", REG_BINARY, bytes, sizeof bytes);
    SetText("ZuzurodeZoz\\Types", "Nul", std::wstring(L"abc\0def", 7));
    SetValue("ZuzurodeZoz\\Types", "Empty", REG_SZ, nullptr, 0);

    Migrate();

    // The fixture's settings, and from the extra section the text values: REG_EXPAND_SZ as
    // stored (not expanded), a text up to its first NUL, a value without data as empty text.
    std::string expected = test::ProfileContent(Fixture("suite/expected.ini"));
    const std::string types =
        "[AllUser\\ZuzurodeZoz\\Types]\nEmpty=\nExpand=%TEMP%\\csv\nNul=abc\n";
    expected.insert(expected.find("[AllUser\\NuvralReport\\Preview]"), types);
    EXPECT_EQ(SettingsLines(), expected);
}

TEST_F(RegistryWindowsTest, CopyMarkerStopsASecondCopy) {
    SetText("ZuzurodeZoz\\Login", "DSN", L"NuvralDSN");
    Migrate();
    SetText("ZuzurodeZoz\\Login", "UID", L"added later");
    Migrate();
    EXPECT_EQ(GetIniSetting(context_, "ZuzurodeZoz", "Login", "DSN", "-"), "NuvralDSN");
    EXPECT_EQ(GetIniSetting(context_, "ZuzurodeZoz", "Login", "UID", "-"), "-");
}

TEST_F(RegistryWindowsTest, WithoutTheSuitesKeysOnlyTheMarkersAreWritten) {
    SetText("Unlisted\\Main", "Key", L"not one of the suite's applications");
    Migrate();
    EXPECT_EQ(SettingsLines(), test::ReadFile(Fixture("no_apps/expected.ini")));
}

}  // namespace
}  // namespace tovrik
