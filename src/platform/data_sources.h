#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tovrik {

// A system ODBC data source as the registry defines it.
struct DataSourceDefinition {
    std::string Driver;  // the driver's name, as listed under "ODBC Data Sources"
    // Every named text value of the data source's key, in the order the registry lists them
    // ("Driver" among them: the driver's DLL, of no use to a program of the other bitness).
    std::vector<std::pair<std::string, std::string>> Attributes;
};

// The system data sources that 32-bit programs see. On 64-bit Windows they live in the 32-bit
// view of HKEY_LOCAL_MACHINE (WOW6432Node), which a 64-bit program's driver manager never reads.
class DataSourceRegistry {
public:
    virtual ~DataSourceRegistry() = default;
    // The definition of the data source `name` on the 32-bit side, or nothing when that side
    // does not list it (or lacks its key).
    virtual std::optional<DataSourceDefinition> Find32BitSystemDataSource(
        const std::string& name) const = 0;
};

// Windows: the registry's 32-bit view. Elsewhere nothing: the driver manager has no sides there.
std::unique_ptr<DataSourceRegistry> MakeSystemDataSourceRegistry();

}  // namespace tovrik
