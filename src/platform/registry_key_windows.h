#pragma once

// Windows only: an open registry key and its text values, for the registry readers.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace tovrik {

// An open registry key, closed at the end of its scope; Get() is null when it could not be
// opened.
class RegistryKey {
public:
    RegistryKey(HKEY root, const std::wstring& path, REGSAM access) {
        if (RegOpenKeyExW(root, path.c_str(), 0, access, &key_) != ERROR_SUCCESS) key_ = nullptr;
    }
    ~RegistryKey() {
        if (key_ != nullptr) RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

inline bool IsRegistryText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

// The text value `name` of `key` up to its first NUL (as the older programs' settings reader cut
// it; the stored size may count one NUL or none); nothing when it is missing or no text.
inline std::optional<std::wstring> ReadRegistryText(HKEY key, const std::wstring& name) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        !IsRegistryText(type)) {
        return std::nullopt;
    }
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                         &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::size_t length = 0;
    while (length < data.size() && data[length] != L'\0') ++length;
    return std::wstring(data.data(), length);
}

}  // namespace tovrik
