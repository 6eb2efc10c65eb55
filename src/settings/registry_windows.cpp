#include <windows.h>

#include <string>
#include <vector>

#include "common/utf.h"
#include "platform/registry_key_windows.h"
#include "settings/registry_names.h"
#include "settings/registry_source.h"

namespace tovrik {

namespace {

// A key of HKEY_CURRENT_USER, opened for reading.
RegistryKey OpenKey(const std::string& path) {
    return RegistryKey(HKEY_CURRENT_USER, Utf8ToWide(path), KEY_READ);
}

// The per-user registry through the registry API, texts converted between UTF-16 and UTF-8.
// Names are listed in the same case-insensitive order as the Wine reader lists them, since the
// registry returns values in the order they were written; only text values are listed.
class WindowsRegistrySource final : public RegistrySource {
public:
    std::optional<std::vector<std::string>> EnumKey(const std::string& keyPath) override {
        const RegistryKey key = OpenKey(keyPath);
        if (key.Get() == nullptr) return std::nullopt;
        std::vector<std::string> names;
        for (DWORD index = 0;; ++index) {
            wchar_t name[256];  // the longest key name the registry allows, with its NUL
            DWORD length = 256;
            const LONG result =
                RegEnumKeyExW(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (result == ERROR_NO_MORE_ITEMS) break;
            if (result != ERROR_SUCCESS) return std::nullopt;
            names.push_back(WideToUtf8({name, length}));
        }
        SortRegistryNames(names);
        return names;
    }

    std::optional<std::vector<std::string>> EnumValues(const std::string& keyPath) override {
        const RegistryKey key = OpenKey(keyPath);
        if (key.Get() == nullptr) return std::nullopt;
        std::vector<std::string> names;
        for (DWORD index = 0;; ++index) {
            wchar_t name[16384];  // the longest value name the registry allows, with its NUL
            DWORD length = 16384;
            DWORD type = 0;
            const LONG result =
                RegEnumValueW(key.Get(), index, name, &length, nullptr, &type, nullptr, nullptr);
            if (result == ERROR_NO_MORE_ITEMS) break;
            if (result != ERROR_SUCCESS) return std::nullopt;
            if (length > 0 && IsRegistryText(type)) names.push_back(WideToUtf8({name, length}));
        }
        SortRegistryNames(names);
        return names;
    }

    std::string GetSetting(const std::string& application, const std::string& section,
                           const std::string& key, const std::string& defaultValue) override {
        const RegistryKey open = OpenKey(kRegistrySettingsRoot + application + "\\" + section);
        if (open.Get() == nullptr) return defaultValue;
        const std::optional<std::wstring> text = ReadRegistryText(open.Get(), Utf8ToWide(key));
        return text ? WideToUtf8(*text) : defaultValue;
    }
};

}  // namespace

std::unique_ptr<RegistrySource> MakeSystemRegistrySource(const Environment&) {
    return std::make_unique<WindowsRegistrySource>();
}

}  // namespace tovrik
