#pragma once

#include <string>
#include <vector>

#include "settings/ini_settings.h"
#include "settings/registry_source.h"

namespace tovrik {

// Copies every registry setting of the twelve applications into the settings file once per
// settings file, then writes the copy marker and the "Config" flag. Lets a copy marker that is
// not a number escape as std::invalid_argument (the start-up handler reports it).
void MigrateRegistrySettings(const SettingsContext& context, RegistrySource& registry);

bool IsRegistryCopied(const SettingsContext& context);
std::string GetRegistryAppNames();
void EnumRegistrySettings(std::vector<std::string>& applications,
                          std::vector<std::string>& sections, std::vector<std::string>& keys,
                          const std::string& application, RegistrySource& registry);
void SetRegistryCopied(const SettingsContext& context);
void SetTachographIniFlag(const SettingsContext& context);

}  // namespace tovrik
