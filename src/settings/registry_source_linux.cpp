#include "settings/registry_source.h"
#include "settings/wine_registry.h"

namespace tovrik {

std::unique_ptr<RegistrySource> MakeSystemRegistrySource(const Environment& environment) {
    return std::make_unique<WineRegistrySource>(WineUserRegistryFile(environment));
}

}  // namespace tovrik
