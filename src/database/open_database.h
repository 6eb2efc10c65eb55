#pragma once

#include <memory>
#include <string>

#include "common/message_box.h"
#include "database/odbc.h"

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

// Creates and opens the shared connection. Returns 0 when open, 1 when not; on failure the
// driver's diagnostics are shown in one "DB接続エラー" box (none when there were none) and the
// connection is released (dbConnection is empty afterwards).
int OpenDatabase(std::unique_ptr<db::Connection>& dbConnection, const DbLoginRecord& dbLogin,
                 bool serverFileMode, MessageBoxes& boxes);

}  // namespace tovrik
