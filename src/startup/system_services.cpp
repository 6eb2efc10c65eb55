#include "startup/system_services.h"

#include <utility>

#include "database/open_database.h"
#include "settings/settings_folder.h"

namespace tovrik {

SystemStartupServices::SystemStartupServices(MessageBoxes& boxes,
                                             std::function<void()> processEvents)
    : guard_(MakeSystemInstanceGuard(environment_)),
      registry_(MakeSystemRegistrySource(environment_)),
      dataSources_(MakeSystemDataSourceRegistry()),
      services_{environment_,
                clock_,
                *guard_,
                *registry_,
                boxes,
                ProgramFolder(),
                MachineName(),
                ProcessUserName(),
                [] { return GetCommonAppDataFolder(); },
                std::move(processEvents),
                [this](std::unique_ptr<db::Connection>& connection, const DbLoginRecord& login,
                       bool serverFileMode, MessageBoxes& shown, ConnectionRoute& route) {
                    return OpenDatabase(connection, login, serverFileMode, shown,
                                        dataSources_.get(), route);
                }} {}

}  // namespace tovrik
