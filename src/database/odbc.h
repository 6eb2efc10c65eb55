#pragma once

// A thin RAII layer over the ODBC C API: one environment per process, connections, statements
// and transactions. Texts are UTF-8; the wide (Unicode) entry points carry them to the driver.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/date_time.h"

namespace tovrik::db {

// One diagnostic record of a failed ODBC call.
struct Diagnostic {
    std::string SqlState;  // five characters, e.g. "08001"
    int NativeCode = 0;
    std::string Message;  // the driver's text, trimmed of trailing newlines and boilerplate
};

// A failed database operation. what() is the description shown to the user: the messages of
// every diagnostic record, joined by line feeds. Records() is empty when the failure arose
// before any driver was reached.
class DbError : public std::runtime_error {
public:
    DbError(std::string description, std::vector<Diagnostic> records);
    const std::vector<Diagnostic>& Records() const { return records_; }
    // The first record's SQLSTATE and native code, or empty and 0.
    std::string SqlState() const;
    int NativeCode() const;

private:
    std::vector<Diagnostic> records_;
};

class Connection;

// A prepared statement and, after Execute, its result rows. Columns are read by name.
class Statement {
public:
    Statement(Statement&&) noexcept;
    Statement& operator=(Statement&&) noexcept;
    ~Statement();

    // Parameters are numbered from 1 and stay bound until rebound.
    void BindInt(int index, std::int64_t value);
    void BindDateTime(int index, const DateTime& value);
    void BindText(int index, const std::string& value);
    void BindNull(int index);

    // Runs the statement (closing any earlier result first); returns the rows changed, or -1.
    std::int64_t Execute();
    // Advances to the next row; false after the last one.
    bool Fetch();
    // Column values of the current row, by column name (matched without regard to ASCII case);
    // nothing when the value is NULL. Throws DbError when the column does not exist or the value
    // cannot be converted.
    std::optional<std::int64_t> GetInt(const std::string& column);
    std::optional<DateTime> GetDateTime(const std::string& column);
    std::optional<std::string> GetText(const std::string& column);
    // Number of result columns and their names, in order.
    std::vector<std::string> ColumnNames() const;
    // Ends the current result so the statement can run again.
    void CloseCursor() noexcept;

private:
    friend class Connection;
    Statement(Connection& connection, const std::string& sql, bool prepare);
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// One database connection (what the suite's programs hold as an ADO Connection).
class Connection {
public:
    Connection();
    ~Connection();  // rolls back an open transaction and closes
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Seconds any statement may run before the driver cancels it; default 180.
    void SetCommandTimeout(int seconds) { commandTimeout_ = seconds; }
    int CommandTimeout() const { return commandTimeout_; }
    // Seconds the open may take; default 15. Nothing after the open is bound by it.
    void SetLoginTimeout(int seconds) { loginTimeout_ = seconds; }

    // Opens with the connection string passed to the driver manager unchanged, never prompting.
    // Throws DbError carrying the driver's diagnostics.
    void Open(const std::string& connectionString);
    // State: true when open.
    bool IsOpen() const;
    // Rolls back an open transaction, then disconnects. Never throws; harmless when closed.
    void Close() noexcept;

    // The DBMS name the driver reports (SQLGetInfo SQL_DBMS_NAME), e.g. "SQLite", "PostgreSQL",
    // "Microsoft SQL Server".
    std::string DbmsName() const;

    // Runs one statement text unchanged; returns the number of rows it changed (-1 when the
    // driver cannot tell).
    std::int64_t Execute(const std::string& sql);
    // A statement to bind parameters to and run, or to read rows from.
    Statement Prepare(const std::string& sql);
    // The same for a statement that runs once: it is sent whole when executed, without being
    // prepared first (with some drivers preparing costs round trips of its own).
    Statement Query(const std::string& sql);
    // Runs several statements sent as one batch (one round trip where the driver allows it);
    // returns the rows each statement changed, in order (-1 where the driver cannot tell).
    std::vector<std::int64_t> ExecuteBatch(const std::string& sql);
    // True when the driver executes batches and reports the row count of each statement in them.
    bool CountsEveryBatchStatement() const;

    // Callable from any thread while another thread runs statements: asks the driver to stop
    // the statement in flight (SQLCancel; SQLite's are left to finish), and makes every later
    // statement on this connection fail at once with SQLSTATE HY008 until ResetCancel.
    // Rollback and Close still work.
    void Cancel() noexcept;
    bool CancelRequested() const noexcept { return cancelRequested_; }
    void ResetCancel() noexcept { cancelRequested_ = false; }

    // Manual commit mode until Commit or Rollback. Prefer the Transaction scope.
    void BeginTransaction();
    void Commit();
    void Rollback();
    bool InTransaction() const { return inTransaction_; }

    // Statements executed (a batch counts once) and transactions ended (committed or rolled
    // back) on this connection so far, failed ones included: each is one round trip to the
    // server. Readable from any thread.
    std::uint64_t StatementsSent() const { return statementsSent_.load(std::memory_order_relaxed); }

    void* NativeHandle() const { return dbc_; }  // SQLHDBC

private:
    friend class Statement;
    friend class InFlight;
    void EndTransaction(bool commit);
    void* dbc_ = nullptr;  // SQLHDBC
    // Statements still alive; Close frees their handles before disconnecting.
    std::vector<Statement::Impl*> statements_;
    bool open_ = false;
    bool inTransaction_ = false;
    int commandTimeout_ = 180;
    int loginTimeout_ = 15;
    // The statement handle being executed, for Cancel from another thread.
    std::mutex inFlightMutex_;
    void* inFlight_ = nullptr;  // SQLHSTMT
    bool cancelStatements_ = true;
    std::atomic<bool> cancelRequested_{false};
    std::atomic<std::uint64_t> statementsSent_{0};
};

// Rolls back unless committed: the transaction ends with the scope, whichever way it is left.
class Transaction {
public:
    explicit Transaction(Connection& connection);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit();

private:
    Connection& connection_;
    bool done_ = false;
};

}  // namespace tovrik::db
