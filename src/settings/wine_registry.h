#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "settings/registry_source.h"

namespace tovrik {

class Environment;

// The HKEY_CURRENT_USER of a Wine prefix, where the suite's Windows programs keep their
// registry settings when they run on Linux: the text file "user.reg". The file is read once, on
// the first call, and never written. A missing, unreadable or foreign file gives no keys.
// Only text values (REG_SZ, REG_EXPAND_SZ unexpanded) are listed and read; names are matched
// without regard to case and listed in the registry's case-insensitive order.
class WineRegistrySource final : public RegistrySource {
public:
    explicit WineRegistrySource(std::filesystem::path userRegistryFile);

    std::optional<std::vector<std::string>> EnumKey(const std::string& keyPath) override;
    std::optional<std::vector<std::string>> EnumValues(const std::string& keyPath) override;
    std::string GetSetting(const std::string& application, const std::string& section,
                           const std::string& key, const std::string& defaultValue) override;

private:
    struct Value {
        std::u16string Name;
        std::u16string Text;
    };
    struct Key {
        std::u16string Path;  // as spelled in the file, "\" between names
        std::vector<Value> Values;
    };

    void Load();
    const Key* FindKey(const std::string& keyPath);

    std::filesystem::path file_;
    bool loaded_ = false;
    std::map<std::u16string, Key> keys_;  // by case-folded path
};

// "user.reg" in $WINEPREFIX, or in ~/.wine when that is not set; empty when neither WINEPREFIX
// nor HOME is known.
std::filesystem::path WineUserRegistryFile(const Environment& environment);

}  // namespace tovrik
