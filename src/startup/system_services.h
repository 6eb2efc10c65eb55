#pragma once

#include <functional>
#include <memory>

#include "common/message_box.h"
#include "platform/platform.h"
#include "settings/registry_source.h"
#include "startup/startup_sequence.h"

namespace tovrik {

// The start-up services of the real machine, for the front ends: the system clock and
// environment, the instance guard, the user's registry settings, the program's folder, this
// machine's and the process account's names, the machine-wide application-data folder and
// OpenDatabase with the system's 32-bit data sources.
// The instance guard is held for as long as this object lives, so it must live until the
// program ends.
class SystemStartupServices {
public:
    // `boxes` shows every start-up message; `processEvents` lets the front end handle pending
    // events once (may be empty when there are none).
    SystemStartupServices(MessageBoxes& boxes, std::function<void()> processEvents);
    SystemStartupServices(const SystemStartupServices&) = delete;
    SystemStartupServices& operator=(const SystemStartupServices&) = delete;

    StartupServices& Services() { return services_; }
    const Clock& SystemTime() const { return clock_; }

private:
    SystemClock clock_;
    ProcessEnvironment environment_;
    std::unique_ptr<InstanceGuard> guard_;
    std::unique_ptr<RegistrySource> registry_;
    std::unique_ptr<DataSourceRegistry> dataSources_;  // null where there are no registry sides
    StartupServices services_;
};

}  // namespace tovrik
