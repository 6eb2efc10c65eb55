#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tovrik::db {

// The names of the drivers this program's driver manager knows (SQLDrivers, on the process's
// one ODBC environment; see odbc.cpp): on 64-bit Windows those of the 64-bit side. Nothing when
// they cannot be listed.
std::optional<std::vector<std::string>> InstalledDrivers();

}  // namespace tovrik::db
