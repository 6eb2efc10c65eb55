#pragma once

#include <string>

#include "correction/run_pacing.h"
#include "database/odbc.h"

namespace tovrik::correction {

// Proves, before anything is read or moved, that General, DriversTime, EventLog and OpData exist
// with every column a run or a dry run uses (one empty selection per table). Throws db::DbError
// whose text names the table that cannot be read, or the table and its missing columns. In the
// same round trip, sets the session up (SessionSettings, sql_dialect.h) once the tables are there.
void CheckSuiteTables(db::Connection& connection);
// The same, timed for `sizer`: the check reads no rows, so its time tells how far away the server
// is, the first round trip the sizer knows. (A selection's count is no measure of that: on a
// large table it is real work, and taking it for waiting made every chunk look free.)
void CheckSuiteTables(db::Connection& connection, ChunkSizer& sizer);

// The check's statements: one empty selection of every used column of every table; after it
// failed, one empty selection of all the columns of one table.
std::string SuiteTablesQuery();
std::string TableColumnsQuery(const char* table);

}  // namespace tovrik::correction
