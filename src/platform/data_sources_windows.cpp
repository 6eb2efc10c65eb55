#include <windows.h>

#include <vector>

#include "common/utf.h"
#include "platform/data_sources.h"

namespace tovrik {

namespace {

constexpr wchar_t kDataSourcesKey[] = L"SOFTWARE\\ODBC\\ODBC.INI";
constexpr wchar_t kDataSourceList[] = L"ODBC Data Sources";

std::wstring Wide(const std::string& text) {
    const std::u16string units = Utf8ToUtf16(text);
    return std::wstring(units.begin(), units.end());
}

std::string Narrow(const std::wstring& text) {
    return Utf16ToUtf8(std::u16string(text.begin(), text.end()));
}

// A key of HKEY_LOCAL_MACHINE in the registry's 32-bit view, closed at the end of its scope.
class Key32 {
public:
    explicit Key32(const std::wstring& path) {
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &key_) !=
            ERROR_SUCCESS) {
            key_ = nullptr;
        }
    }
    ~Key32() {
        if (key_ != nullptr) RegCloseKey(key_);
    }
    Key32(const Key32&) = delete;
    Key32& operator=(const Key32&) = delete;
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

// A text read from the registry, up to its first NUL (the stored size may count one or none).
std::wstring TextOf(const std::vector<wchar_t>& data, DWORD bytes) {
    const std::size_t units = bytes / sizeof(wchar_t);
    std::size_t length = 0;
    while (length < units && data[length] != L'\0') ++length;
    return std::wstring(data.data(), length);
}

std::optional<std::wstring> TextValue(HKEY key, const std::wstring& name) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        !IsText(type)) {
        return std::nullopt;
    }
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                         &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return TextOf(data, size);
}

// Reads the registration the way the driver manager of a 32-bit program does: the driver's
// name from the list "ODBC Data Sources", the attributes from the data source's own key.
class Windows32BitDataSources final : public DataSourceRegistry {
public:
    std::optional<DataSourceDefinition> Find32BitSystemDataSource(
        const std::string& name) const override {
        // A name holding '\' would open some other key; ODBC forbids it in names anyway.
        if (name.empty() || name.find('\\') != std::string::npos) return std::nullopt;
        const std::wstring wideName = Wide(name);
        const Key32 list(std::wstring(kDataSourcesKey) + L"\\" + kDataSourceList);
        if (list.Get() == nullptr) return std::nullopt;
        const std::optional<std::wstring> driver = TextValue(list.Get(), wideName);
        if (!driver || driver->empty()) return std::nullopt;
        const Key32 source(std::wstring(kDataSourcesKey) + L"\\" + wideName);
        if (source.Get() == nullptr) return std::nullopt;

        DataSourceDefinition definition{Narrow(*driver), {}};
        for (DWORD index = 0;; ++index) {
            wchar_t valueName[16384];  // the longest value name the registry allows, with its NUL
            DWORD length = 16384;
            DWORD type = 0;
            const LONG result = RegEnumValueW(source.Get(), index, valueName, &length, nullptr,
                                              &type, nullptr, nullptr);
            if (result == ERROR_NO_MORE_ITEMS) break;
            if (result != ERROR_SUCCESS) return std::nullopt;
            const std::wstring key(valueName, length);
            if (key.empty() || !IsText(type)) continue;
            const std::optional<std::wstring> value = TextValue(source.Get(), key);
            if (!value) return std::nullopt;
            definition.Attributes.emplace_back(Narrow(key), Narrow(*value));
        }
        return definition;
    }
};

}  // namespace

std::unique_ptr<DataSourceRegistry> MakeSystemDataSourceRegistry() {
    return std::make_unique<Windows32BitDataSources>();
}

}  // namespace tovrik
