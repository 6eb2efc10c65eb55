#include "settings/registry_migration.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "settings/profile_file.h"
#include "settings/setting_numbers.h"

namespace tovrik {

namespace {

constexpr char kCopyMarker[] = "CopyFlg";

// The first name is the application of the suite's own settings ("Login" among them); the
// others are the suite's further settings groups and tools, in a fixed order.
constexpr char kApplicationNames[] =
    "ZuzurodeZoz,NuvralMain,NuvralDaily,NuvralMonthly,NuvralReport,NuvralCard,NuvralDriver,"
    "NuvralVehicle,NuvralMaintenance,NuvralBackup,NuvralImport,NuvralTools";

std::vector<std::string> SplitAtComma(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t comma; (comma = text.find(',', start)) != std::string::npos;
         start = comma + 1) {
        parts.push_back(text.substr(start, comma - start));
    }
    parts.push_back(text.substr(start));
    return parts;
}

}  // namespace

void MigrateRegistrySettings(const SettingsContext& context, RegistrySource& registry) {
    std::vector<std::string> applications;
    std::vector<std::string> sections;
    std::vector<std::string> keys;
    if (IsRegistryCopied(context)) return;
    for (const std::string& application : SplitAtComma(GetRegistryAppNames())) {
        EnumRegistrySettings(applications, sections, keys, application, registry);
    }
    // First found, first written; each value is read just before it is written.
    for (std::size_t i = 0; i < applications.size(); ++i) {
        const std::string value = registry.GetSetting(applications[i], sections[i], keys[i], "");
        SaveIniSetting(context, applications[i], sections[i], keys[i], value);
    }
    // The marker goes last, so that an interrupted copy is repeated in full at the next start.
    SetRegistryCopied(context);
    SetTachographIniFlag(context);
}

bool IsRegistryCopied(const SettingsContext& context) {
    const std::string marker = GetIniSetting(context, "", "", kCopyMarker, "0");
    const std::optional<double> number = NumberFromText(marker);
    if (!number) {
        throw std::invalid_argument("the registry copy marker \"" + marker + "\" is not a number");
    }
    return *number == 1;
}

std::string GetRegistryAppNames() { return kApplicationNames; }

void EnumRegistrySettings(std::vector<std::string>& applications,
                          std::vector<std::string>& sections, std::vector<std::string>& keys,
                          const std::string& application, RegistrySource& registry) {
    const std::string applicationKey = kRegistrySettingsRoot + application;
    // Every failure of the registry source is passed over: a listing that fails contributes
    // nothing, and the entries found before it stay.
    try {
        const auto subkeys = registry.EnumKey(applicationKey);
        if (!subkeys) return;
        for (const std::string& section : *subkeys) {
            if (section.empty()) continue;
            std::optional<std::vector<std::string>> values;
            try {
                values = registry.EnumValues(applicationKey + "\\" + section);
            } catch (...) {
                continue;
            }
            if (!values) continue;
            for (const std::string& key : *values) {
                if (key.empty()) continue;
                applications.push_back(application);
                sections.push_back(section);
                keys.push_back(key);
            }
        }
    } catch (...) {
        // Keep the three lists of equal length even when a failure struck between appends.
        const std::size_t size = std::min({applications.size(), sections.size(), keys.size()});
        applications.resize(size);
        sections.resize(size);
        keys.resize(size);
    }
}

void SetRegistryCopied(const SettingsContext& context) {
    SaveIniSetting(context, "", "", kCopyMarker, "1");
}

void SetTachographIniFlag(const SettingsContext& context) {
    // The flag is for the suite's other programs; whether it could be written is not examined.
    try {
        WritePrivateProfileText("Config", "TachographIni", "True", context.FilePath());
    } catch (...) {
    }
}

}  // namespace tovrik
