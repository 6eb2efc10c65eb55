#include "correction/suite_tables.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "common/ascii.h"
#include "correction/sql_dialect.h"

namespace tovrik::correction {

namespace {

// A table and every column the run and the dry run name in it.
struct UsedTable {
    const char* Name;
    std::vector<const char*> Columns;
};

std::vector<UsedTable> UsedTables() {
    std::vector<UsedTable> tables;
    UsedTable general{kGeneral.Name, {kGeneral.Key, "InputDate"}};
    general.Columns.insert(general.Columns.end(), kGeneral.Columns.begin(), kGeneral.Columns.end());
    tables.push_back(general);
    for (const MovedTable& dependent : kDependents) {
        UsedTable table{dependent.Name, {dependent.Key}};
        table.Columns.insert(table.Columns.end(), dependent.Columns.begin(),
                             dependent.Columns.end());
        tables.push_back(table);
    }
    return tables;
}

}  // namespace

std::string SuiteTablesQuery() {
    std::string columns;
    std::string from;
    for (const UsedTable& table : UsedTables()) {
        from += (from.empty() ? "" : ",") + std::string(table.Name);
        for (const char* column : table.Columns) {
            columns += (columns.empty() ? "" : ",") + std::string(table.Name) + "." + column;
        }
    }
    return "SELECT " + columns + " FROM " + from + " WHERE 1=0";
}

std::string TableColumnsQuery(const char* table) {
    return std::string("SELECT * FROM ") + table + " WHERE 1=0";
}

void CheckSuiteTables(db::Connection& connection) {
    // One statement (one round trip) when everything is there; only a failure is looked into
    // table by table.
    std::optional<db::DbError> failure;
    const std::string settings = SessionSettings(DialectOf(connection));
    try {
        // PostgreSQL runs the two in one transaction: the settings only when the check passes.
        connection.Execute(settings.empty() ? SuiteTablesQuery()
                                            : SuiteTablesQuery() + ";" + settings);
        return;
    } catch (const db::DbError& error) {
        failure = error;
    }
    for (const UsedTable& table : UsedTables()) {
        std::vector<std::string> present;
        try {
            auto statement = connection.Query(TableColumnsQuery(table.Name));
            statement.Execute();
            present = statement.ColumnNames();
        } catch (const db::DbError& error) {
            // Missing, or not readable by this login: the driver's text tells which.
            throw db::DbError(std::string("データベースのテーブル ") + table.Name +
                                  " を読めません（テーブルがないか、読む権限がありません）。\r\n" +
                                  error.what(),
                              error.Records());
        }
        std::string missing;
        for (const char* column : table.Columns) {
            bool found = false;
            for (const std::string& name : present)
                found = found || EqualsIgnoringAsciiCase(name, column);
            if (!found) missing += (missing.empty() ? "" : ", ") + std::string(column);
        }
        if (!missing.empty()) {
            throw db::DbError(std::string("データベースのテーブル ") + table.Name + " に列 " +
                                  missing + " がありません。",
                              {});
        }
    }
    // Every table and column is there: the joint statement failed for a reason of its own.
    throw *failure;
}

void CheckSuiteTables(db::Connection& connection, ChunkSizer& sizer) {
    const auto checking = std::chrono::steady_clock::now();
    const std::uint64_t sentBefore = connection.StatementsSent();
    CheckSuiteTables(connection);
    sizer.ObserveRoundTrip(std::chrono::steady_clock::now() - checking,
                           connection.StatementsSent() - sentBefore);
}

}  // namespace tovrik::correction
