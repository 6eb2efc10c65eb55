#pragma once

#include "database/odbc.h"

namespace tovrik::correction {

// Proves, before anything is read or moved, that General, DriversTime, EventLog and OpData exist
// with every column a run or a dry run uses (one empty selection per table). Throws db::DbError
// whose text names the table that cannot be read, or the table and its missing columns.
void CheckSuiteTables(db::Connection& connection);

}  // namespace tovrik::correction
