#include "common/utf.h"
#include "platform/data_sources.h"
#include "platform/registry_key_windows.h"

namespace tovrik {

namespace {

constexpr wchar_t kDataSourcesKey[] = L"SOFTWARE\\ODBC\\ODBC.INI";
constexpr wchar_t kDataSourceList[] = L"ODBC Data Sources";

// A key of HKEY_LOCAL_MACHINE in the registry's 32-bit view.
RegistryKey Key32(const std::wstring& path) {
    return RegistryKey(HKEY_LOCAL_MACHINE, path, KEY_READ | KEY_WOW64_32KEY);
}

// Reads the registration the way the driver manager of a 32-bit program does: the driver's
// name from the list "ODBC Data Sources", the attributes from the data source's own key.
class Windows32BitDataSources final : public DataSourceRegistry {
public:
    std::optional<DataSourceDefinition> Find32BitSystemDataSource(
        const std::string& name) const override {
        // A name holding '\' would open some other key; ODBC forbids it in names anyway.
        if (name.empty() || name.find('\\') != std::string::npos) return std::nullopt;
        const std::wstring wideName = Utf8ToWide(name);
        const RegistryKey list = Key32(std::wstring(kDataSourcesKey) + L"\\" + kDataSourceList);
        if (list.Get() == nullptr) return std::nullopt;
        const std::optional<std::wstring> driver = ReadRegistryText(list.Get(), wideName);
        if (!driver || driver->empty()) return std::nullopt;
        const RegistryKey source = Key32(std::wstring(kDataSourcesKey) + L"\\" + wideName);
        if (source.Get() == nullptr) return std::nullopt;

        DataSourceDefinition definition{WideToUtf8(*driver), {}};
        for (DWORD index = 0;; ++index) {
            wchar_t valueName[16384];  // the longest value name the registry allows, with its NUL
            DWORD length = 16384;
            DWORD type = 0;
            const LONG result = RegEnumValueW(source.Get(), index, valueName, &length, nullptr,
                                              &type, nullptr, nullptr);
            if (result == ERROR_NO_MORE_ITEMS) break;
            if (result != ERROR_SUCCESS) return std::nullopt;
            const std::wstring key(valueName, length);
            if (key.empty() || !IsRegistryText(type)) continue;
            const std::optional<std::wstring> value = ReadRegistryText(source.Get(), key);
            if (!value) return std::nullopt;
            definition.Attributes.emplace_back(WideToUtf8(key), WideToUtf8(*value));
        }
        return definition;
    }
};

}  // namespace

std::unique_ptr<DataSourceRegistry> MakeSystemDataSourceRegistry() {
    return std::make_unique<Windows32BitDataSources>();
}

}  // namespace tovrik
