#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tovrik {

class Environment;

// The key of HKEY_CURRENT_USER that holds the per-user settings store, with its trailing "\":
// below it one key per application, and below that one key per section.
inline constexpr char kRegistrySettingsRoot[] = "Software\\VB and VBA Program Settings\\";

// The per-user registry settings store below kRegistrySettingsRoot, read only. Paths are key
// paths of HKEY_CURRENT_USER with "\" separators.
class RegistrySource {
public:
    virtual ~RegistrySource() = default;
    // Names of the subkeys of `keyPath`, or nothing when the key cannot be listed.
    virtual std::optional<std::vector<std::string>> EnumKey(const std::string& keyPath) = 0;
    // Names of the values of `keyPath`, or nothing when they cannot be listed.
    virtual std::optional<std::vector<std::string>> EnumValues(const std::string& keyPath) = 0;
    // The text of value `key` in the key kRegistrySettingsRoot + "<application>\<section>", or
    // defaultValue when it is missing.
    virtual std::string GetSetting(const std::string& application, const std::string& section,
                                   const std::string& key, const std::string& defaultValue) = 0;
};

// The registry of the current user on this machine: the Windows registry on Windows; elsewhere
// the "user.reg" of the Wine prefix named by WINEPREFIX (default ~/.wine), read only.
std::unique_ptr<RegistrySource> MakeSystemRegistrySource(const Environment& environment);

}  // namespace tovrik
