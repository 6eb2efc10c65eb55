#pragma once

#include <memory>
#include <string>

#include "common/message_box.h"
#include "database/odbc.h"
#include "platform/data_sources.h"

namespace tovrik {

// The database login record, filled once at start-up.
struct DbLoginRecord {
    std::string Server;    // "tcp:host[,port]" for a direct server, else an ODBC data source name
    std::string UserId;
    std::string Password;
    std::string Database;  // may be empty
};

// The connection text: "Driver={SQL Server};Server=..;UID=..;PWD=..;Database=..;" when
// serverFileMode is true, else "PROVIDER=MSDASQL;DSN=..;UID=..;PWD=..;[Database=..;]".
// A value that would change how the text splits is quoted in braces (see the .cpp).
std::string BuildConnectionString(const DbLoginRecord& login, bool serverFileMode);

// The data-source form with the data source's registry definition in place of its name:
// "Driver={<driver>};<attribute>=<value>;...;UID=..;PWD=..;[Database=..;]", values quoted as
// above. An attribute named like one of the login's keywords (any case) is left out, so the
// settings win as they do over a data source's own attributes; "Database" only when the login
// names a database.
std::string BuildDefinitionConnectionString(const DbLoginRecord& login,
                                            const DataSourceDefinition& definition);

// What OpenDatabase found out about the way to the data source, beyond the driver's text.
struct ConnectionRoute {
    // The driver of the 32-bit registration that a second attempt went through, else empty.
    std::string Driver32;
    // When the data source is out of this program's reach because of its driver's bitness:
    // the line that says so and what to do (also in the box); else empty.
    std::string Advice;
};

// Creates and opens the shared connection. Returns 0 when open, 1 when not; on failure the
// driver's diagnostics are shown in one "DB接続エラー" box (none when there were none) and the
// connection is released (dbConnection is empty afterwards).
int OpenDatabase(std::unique_ptr<db::Connection>& dbConnection, const DbLoginRecord& dbLogin,
                 bool serverFileMode, MessageBoxes& boxes);

// The same, and for a 64-bit program on a system with registry sides (dataSources not null):
// when the driver manager does not know the data source (SQLSTATE IM002), a second attempt
// through its 32-bit registration, if there is one; when the attempt cannot reach the driver,
// or a data source's driver exists for the other bitness only (IM014), the advice line.
int OpenDatabase(std::unique_ptr<db::Connection>& dbConnection, const DbLoginRecord& dbLogin,
                 bool serverFileMode, MessageBoxes& boxes, const DataSourceRegistry* dataSources,
                 ConnectionRoute& route);

}  // namespace tovrik
