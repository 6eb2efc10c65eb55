#include "database/odbc.h"

#include "database/driver_list.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <locale.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <charconv>
#include <map>
#include <mutex>
#include <string_view>
#include <utility>

#include "common/utf.h"

namespace tovrik::db {

static_assert(sizeof(SQLWCHAR) == 2, "the wide ODBC entry points are used with UTF-16 text");

namespace {

using WString = std::basic_string<SQLWCHAR>;

// UTF-8 to the driver manager's UTF-16 and back.
WString ToWide(std::string_view text) {
    const std::u16string wide = Utf8ToUtf16(text);
    return WString(wide.begin(), wide.end());
}

std::string FromWide(const SQLWCHAR* text, std::size_t length) {
    return Utf16ToUtf8(std::u16string(text, text + length));
}

// The one ODBC environment of the process. It is never freed: drivers stay loaded until the
// process ends, which keeps their frames resolvable in leak reports.
SQLHENV Environment() {
    static SQLHENV env = [] {
        SQLHENV handle = SQL_NULL_HENV;
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &handle))) {
            throw DbError("The ODBC driver manager could not be initialised", {});
        }
        SQLSetEnvAttr(handle, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
#ifndef _WIN32
        // The SQLite driver loads unixODBC's installer library to read a data source and unloads
        // it after every connect. Holding it loaded saves that and keeps the frames of what it
        // allocates nameable in leak reports.
        dlopen("libodbcinst.so.2", RTLD_NOW | RTLD_GLOBAL);
#endif
        return handle;
    }();
    return env;
}

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

void TrimTrailingBlanks(std::string& text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                             text.back() == '\t')) {
        text.pop_back();
    }
}

// Removes trailing line ends and the boilerplate some drivers append (psqlODBC ends many texts
// with ";\nError while executing the query").
std::string TrimMessage(std::string text) {
    constexpr std::string_view kBoilerplate = "Error while executing the query";
    TrimTrailingBlanks(text);
    if (EndsWith(text, kBoilerplate) && text.size() > kBoilerplate.size()) {
        const char before = text[text.size() - kBoilerplate.size() - 1];
        if (before == '\n' || before == '\r') {
            text.erase(text.size() - kBoilerplate.size());
            TrimTrailingBlanks(text);
            if (!text.empty() && text.back() == ';') text.pop_back();
            TrimTrailingBlanks(text);
        }
    }
    return text;
}

std::vector<Diagnostic> ReadDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle) {
    std::vector<Diagnostic> records;
    if (handle == SQL_NULL_HANDLE) return records;
    for (SQLSMALLINT number = 1;; ++number) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        std::vector<SQLWCHAR> message(1024);
        SQLSMALLINT length = 0;
        SQLRETURN rc = SQLGetDiagRecW(handleType, handle, number, state, &native, message.data(),
                                      static_cast<SQLSMALLINT>(message.size()), &length);
        if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
            message.resize(static_cast<std::size_t>(length) + 1);
            rc = SQLGetDiagRecW(handleType, handle, number, state, &native, message.data(),
                                static_cast<SQLSMALLINT>(message.size()), &length);
        }
        if (!SQL_SUCCEEDED(rc)) break;
        const auto used = std::min<std::size_t>(static_cast<std::size_t>(std::max<int>(length, 0)),
                                                message.size() - 1);
        records.push_back(Diagnostic{FromWide(state, 5), static_cast<int>(native),
                                     TrimMessage(FromWide(message.data(), used))});
        if (number == 100) break;  // a driver that never stops listing records
    }
    return records;
}

std::string Describe(const std::vector<Diagnostic>& records) {
    std::string text;
    std::vector<std::string_view> seen;
    for (const auto& record : records) {
        if (std::find(seen.begin(), seen.end(), record.Message) != seen.end()) continue;
        seen.push_back(record.Message);
        if (!text.empty()) text += '\n';
        text += record.Message;
    }
    return text;
}

[[noreturn]] void ThrowDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle, SQLRETURN rc,
                                   std::string_view call) {
    auto records = ReadDiagnostics(handleType, handle);
    std::string text = Describe(records);
    if (text.empty()) {
        text = std::string(call) + " failed (ODBC return code " + std::to_string(rc) + ")";
    }
    throw DbError(std::move(text), std::move(records));
}

void Check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle, std::string_view call) {
    if (!SQL_SUCCEEDED(rc)) ThrowDiagnostics(handleType, handle, rc, call);
}

[[noreturn]] void Fail(std::string text) { throw DbError(std::move(text), {}); }

// For a driver without wide entry points (the SQLite driver), unixODBC converts our UTF-16 text
// into the character set of LC_CTYPE as it is when the connection handle is allocated. A UTF-8
// locale for this thread during the open makes that conversion UTF-8 whatever the process's locale
// is. (The Windows driver manager converts with the system code page; nothing to do there.)
#ifdef _WIN32
struct Utf8ThreadLocale {};
#else
class Utf8ThreadLocale {
public:
    Utf8ThreadLocale() {
        utf8_ = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        if (utf8_ != static_cast<locale_t>(nullptr)) previous_ = uselocale(utf8_);
    }
    ~Utf8ThreadLocale() {
        if (utf8_ == static_cast<locale_t>(nullptr)) return;
        uselocale(previous_);
        freelocale(utf8_);
    }
    Utf8ThreadLocale(const Utf8ThreadLocale&) = delete;
    Utf8ThreadLocale& operator=(const Utf8ThreadLocale&) = delete;

private:
    locale_t utf8_ = static_cast<locale_t>(nullptr);
    locale_t previous_ = static_cast<locale_t>(nullptr);
};
#endif

// A statement handle that lives for one call.
class StatementHandle {
public:
    StatementHandle(SQLHDBC dbc, int queryTimeout) {
        Check(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &handle_), SQL_HANDLE_DBC, dbc,
              "SQLAllocHandle");
        // Drivers without statement timeouts decline the attribute; the statement still runs.
        SQLSetStmtAttr(
            handle_, SQL_ATTR_QUERY_TIMEOUT,
            reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(std::max(queryTimeout, 0))), 0);
    }
    ~StatementHandle() {
        if (handle_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, handle_);
    }
    StatementHandle(const StatementHandle&) = delete;
    StatementHandle& operator=(const StatementHandle&) = delete;
    SQLHSTMT Release() { return std::exchange(handle_, nullptr); }
    SQLHSTMT Get() const { return handle_; }

private:
    SQLHSTMT handle_ = SQL_NULL_HSTMT;
};

std::int64_t RowCount(SQLHSTMT stmt, SQLRETURN executeResult) {
    if (executeResult == SQL_NO_DATA) return 0;  // a searched UPDATE or DELETE that hit no row
    SQLLEN count = -1;
    if (!SQL_SUCCEEDED(SQLRowCount(stmt, &count))) return -1;
    return count;
}

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

DateTime FromStruct(const SQL_TIMESTAMP_STRUCT& ts) {
    return DateTime{ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second, ts.fraction};
}

SQL_TIMESTAMP_STRUCT ToStruct(const DateTime& value) {
    SQL_TIMESTAMP_STRUCT ts{};
    ts.year = static_cast<SQLSMALLINT>(value.Year);
    ts.month = static_cast<SQLUSMALLINT>(value.Month);
    ts.day = static_cast<SQLUSMALLINT>(value.Day);
    ts.hour = static_cast<SQLUSMALLINT>(value.Hour);
    ts.minute = static_cast<SQLUSMALLINT>(value.Minute);
    ts.second = static_cast<SQLUSMALLINT>(value.Second);
    ts.fraction = value.Fraction;
    return ts;
}

// Digits after the seconds a value needs: 0, 3, 6 or 9.
SQLSMALLINT FractionDigits(std::uint32_t fraction) {
    if (fraction == 0) return 0;
    if (fraction % 1'000'000 == 0) return 3;
    if (fraction % 1'000 == 0) return 6;
    return 9;
}


}  // namespace

// ---------------------------------------------------------------------------------------------
// DbError

DbError::DbError(std::string description, std::vector<Diagnostic> records)
    : std::runtime_error(std::move(description)), records_(std::move(records)) {}

std::string DbError::SqlState() const { return records_.empty() ? "" : records_.front().SqlState; }

int DbError::NativeCode() const { return records_.empty() ? 0 : records_.front().NativeCode; }

// Registers the statement handle being executed with its connection, so that Cancel can reach
// it from another thread; refuses to start once a cancel was requested.
class InFlight {
public:
    InFlight(Connection& connection, SQLHSTMT stmt) : connection_(connection) {
        std::lock_guard lock(connection_.inFlightMutex_);
        if (connection_.cancelRequested_) {
            throw DbError("The operation was cancelled", {{"HY008", 0, "Operation canceled"}});
        }
        connection_.inFlight_ = stmt;
        ++connection_.statementsSent_;
    }
    ~InFlight() {
        std::lock_guard lock(connection_.inFlightMutex_);
        connection_.inFlight_ = nullptr;
    }
    InFlight(const InFlight&) = delete;
    InFlight& operator=(const InFlight&) = delete;

private:
    Connection& connection_;
};

// ---------------------------------------------------------------------------------------------
// Statement

struct Statement::Impl {
    enum class ParamKind { Int, DateTime, Text, Null };
    struct Param {
        ParamKind kind = ParamKind::Null;
        SQLBIGINT integer = 0;
        SQL_TIMESTAMP_STRUCT timestamp{};
        WString text;
        SQLLEN indicator = 0;
        bool bound = false;
        SQLSMALLINT digits = -1;
    };
    enum class CellKind { Null, Int, DateTime, Text };
    struct Cell {
        CellKind kind = CellKind::Null;
        std::int64_t integer = 0;
        DateTime dateTime;
        std::string text;
    };
    struct Column {
        std::string name;
        SQLSMALLINT cType = SQL_C_WCHAR;
    };

    Connection* connection = nullptr;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    // Bound buffers: map nodes never move, so the addresses given to the driver stay valid.
    std::map<int, Param> params;
    std::vector<Column> columns;
    std::map<std::string, std::size_t> columnIndex;  // lower-case name -> position
    std::vector<Cell> row;
    bool cursorOpen = false;
    bool onRow = false;
    std::optional<WString> directText;  // executed without preparing (Connection::Query)

    SQLHSTMT Handle() const {
        if (stmt == SQL_NULL_HSTMT) Fail("The statement's connection is closed");
        return stmt;
    }
    Param& Slot(int index) {
        if (index < 1 || index > 32767) Fail("Parameter number out of range");
        return params[index];
    }
    void Bind(int index, Param& param, SQLSMALLINT cType, SQLSMALLINT sqlType, SQLULEN size,
              SQLSMALLINT digits, SQLPOINTER buffer, SQLLEN bufferLength) {
        Check(SQLBindParameter(Handle(), static_cast<SQLUSMALLINT>(index), SQL_PARAM_INPUT, cType,
                               sqlType, size, digits, buffer, bufferLength, &param.indicator),
              SQL_HANDLE_STMT, stmt, "SQLBindParameter");
        param.bound = true;
    }
    void DescribeColumns();
    void ReadRow();
    const Cell& CellOf(const std::string& column) const;
};

void Statement::Impl::DescribeColumns() {
    columns.clear();
    columnIndex.clear();
    SQLSMALLINT count = 0;
    Check(SQLNumResultCols(stmt, &count), SQL_HANDLE_STMT, stmt, "SQLNumResultCols");
    // Only the name, the (verbose) type and the scale of each column: for a plain selection from
    // one table, psqlODBC answers SQLDescribeCol, the concise type or the type name by first
    // asking the server's catalog about the table's columns, three more round trips.
    for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(std::max<SQLSMALLINT>(count, 0)); ++i) {
        std::vector<SQLWCHAR> name(256);
        SQLSMALLINT nameBytes = 0;
        auto readName = [&] {
            return SQLColAttributeW(stmt, i, SQL_DESC_NAME, name.data(),
                                    static_cast<SQLSMALLINT>(name.size() * sizeof(SQLWCHAR)),
                                    &nameBytes, nullptr);
        };
        SQLRETURN rc = readName();
        const auto nameLength = static_cast<std::size_t>(std::max<int>(nameBytes, 0)) /
                                sizeof(SQLWCHAR);
        if (SQL_SUCCEEDED(rc) && nameLength >= name.size()) {
            name.resize(nameLength + 1);
            rc = readName();
        }
        Check(rc, SQL_HANDLE_STMT, stmt, "SQLColAttribute");
        SQLLEN sqlType = 0, decimals = 0;
        Check(SQLColAttributeW(stmt, i, SQL_DESC_TYPE, nullptr, 0, nullptr, &sqlType),
              SQL_HANDLE_STMT, stmt, "SQLColAttribute");
        Check(SQLColAttributeW(stmt, i, SQL_DESC_SCALE, nullptr, 0, nullptr, &decimals),
              SQL_HANDLE_STMT, stmt, "SQLColAttribute");
        Column column;
        column.name = FromWide(name.data(), std::min(nameLength, name.size() - 1));
        switch (sqlType) {
            case SQL_BIT:
            case SQL_TINYINT:
            case SQL_SMALLINT:
            case SQL_INTEGER:
            case SQL_BIGINT:
                column.cType = SQL_C_SBIGINT;
                break;
            case SQL_NUMERIC:
            case SQL_DECIMAL:
                column.cType = decimals == 0 ? SQL_C_SBIGINT : SQL_C_WCHAR;
                break;
            case SQL_TYPE_DATE:
            case SQL_TYPE_TIMESTAMP:
            case SQL_DATETIME:
            case SQL_TIMESTAMP:
                column.cType = SQL_C_TYPE_TIMESTAMP;
                break;
            default:
                column.cType = SQL_C_WCHAR;
                break;
        }
        columnIndex.emplace(LowerAscii(column.name), columns.size());  // the first one wins
        columns.push_back(std::move(column));
    }
}

// Reads every column of the current row once, so columns can then be read by name in any order
// from drivers that allow each column to be fetched only once and in order.
void Statement::Impl::ReadRow() {
    row.assign(columns.size(), Cell{});
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const auto number = static_cast<SQLUSMALLINT>(i + 1);
        Cell& cell = row[i];
        SQLLEN indicator = 0;
        if (columns[i].cType == SQL_C_SBIGINT) {
            SQLBIGINT value = 0;
            Check(SQLGetData(stmt, number, SQL_C_SBIGINT, &value, sizeof value, &indicator),
                  SQL_HANDLE_STMT, stmt, "SQLGetData");
            if (indicator != SQL_NULL_DATA) cell = Cell{CellKind::Int, value, {}, {}};
        } else if (columns[i].cType == SQL_C_TYPE_TIMESTAMP) {
            SQL_TIMESTAMP_STRUCT value{};
            Check(SQLGetData(stmt, number, SQL_C_TYPE_TIMESTAMP, &value, sizeof value, &indicator),
                  SQL_HANDLE_STMT, stmt, "SQLGetData");
            if (indicator != SQL_NULL_DATA)
                cell = Cell{CellKind::DateTime, 0, FromStruct(value), {}};
        } else {
            // Long texts arrive in pieces; each call returns the next part.
            WString text;
            std::vector<SQLWCHAR> buffer(1024);
            for (;;) {
                const SQLRETURN rc =
                    SQLGetData(stmt, number, SQL_C_WCHAR, buffer.data(),
                               static_cast<SQLLEN>(buffer.size() * sizeof(SQLWCHAR)), &indicator);
                if (rc == SQL_NO_DATA) break;
                Check(rc, SQL_HANDLE_STMT, stmt, "SQLGetData");
                if (indicator == SQL_NULL_DATA) break;
                const std::size_t capacity = buffer.size() - 1;
                const bool partial =
                    indicator == SQL_NO_TOTAL ||
                    static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR) > capacity;
                const std::size_t got =
                    partial ? capacity : static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR);
                text.append(buffer.data(), got);
                if (!partial) break;
            }
            if (indicator != SQL_NULL_DATA) {
                cell = Cell{CellKind::Text, 0, {}, FromWide(text.data(), text.size())};
            }
        }
    }
}

const Statement::Impl::Cell& Statement::Impl::CellOf(const std::string& column) const {
    if (!onRow) Fail("No current row to read column " + column + " from");
    const auto found = columnIndex.find(LowerAscii(column));
    if (found == columnIndex.end()) Fail("The result has no column named " + column);
    return row[found->second];
}

Statement::Statement(Connection& connection, const std::string& sql, bool prepare)
    : impl_(std::make_unique<Impl>()) {
    StatementHandle handle(static_cast<SQLHDBC>(connection.dbc_), connection.commandTimeout_);
    WString text = ToWide(sql);
    if (prepare) {
        Check(SQLPrepareW(handle.Get(), text.data(), static_cast<SQLINTEGER>(text.size())),
              SQL_HANDLE_STMT, handle.Get(), "SQLPrepare");
    } else {
        impl_->directText = std::move(text);
    }
    impl_->stmt = handle.Release();
    impl_->connection = &connection;
    connection.statements_.push_back(impl_.get());
}

Statement::Statement(Statement&&) noexcept = default;

Statement& Statement::operator=(Statement&& other) noexcept {
    if (this != &other) {
        Statement old(std::move(*this));
        impl_ = std::move(other.impl_);
    }
    return *this;
}

Statement::~Statement() {
    if (!impl_) return;
    if (impl_->stmt != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, impl_->stmt);
    if (impl_->connection != nullptr) {
        auto& list = impl_->connection->statements_;
        list.erase(std::remove(list.begin(), list.end(), impl_.get()), list.end());
    }
}

void Statement::BindInt(int index, std::int64_t value) {
    auto& param = impl_->Slot(index);
    const bool rebind = !param.bound || param.kind != Impl::ParamKind::Int;
    param.kind = Impl::ParamKind::Int;
    param.integer = value;
    param.indicator = 0;
    if (rebind) {
        impl_->Bind(index, param, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &param.integer, 0);
    }
}

void Statement::BindDateTime(int index, const DateTime& value) {
    if (!IsValid(value)) Fail("Not a valid date-time: " + FormatIso(value));
    auto& param = impl_->Slot(index);
    const SQLSMALLINT digits = FractionDigits(value.Fraction);
    const bool rebind =
        !param.bound || param.kind != Impl::ParamKind::DateTime || param.digits != digits;
    param.kind = Impl::ParamKind::DateTime;
    param.timestamp = ToStruct(value);
    param.indicator = 0;
    param.digits = digits;
    if (rebind) {
        // Column size: "yyyy-mm-dd hh:mm:ss" plus a point and the fraction digits.
        const SQLULEN size = digits == 0 ? 19 : 20 + static_cast<SQLULEN>(digits);
        impl_->Bind(index, param, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, size, digits,
                    &param.timestamp, 0);
    }
}

void Statement::BindText(int index, const std::string& value) {
    auto& param = impl_->Slot(index);
    param.kind = Impl::ParamKind::Text;
    param.text = ToWide(value);
    param.indicator = static_cast<SQLLEN>(param.text.size() * sizeof(SQLWCHAR));
    // The buffer may have moved: always rebind.
    impl_->Bind(index, param, SQL_C_WCHAR, SQL_WVARCHAR, std::max<SQLULEN>(param.text.size(), 1), 0,
                param.text.data(), param.indicator);
}

void Statement::BindNull(int index) {
    auto& param = impl_->Slot(index);
    const bool rebind = !param.bound || param.kind != Impl::ParamKind::Null;
    param.kind = Impl::ParamKind::Null;
    param.indicator = SQL_NULL_DATA;
    if (rebind) impl_->Bind(index, param, SQL_C_CHAR, SQL_VARCHAR, 1, 0, nullptr, 0);
}

std::int64_t Statement::Execute() {
    const SQLHSTMT stmt = impl_->Handle();
    CloseCursor();
    SQLRETURN rc = SQL_ERROR;
    {
        const InFlight executing(*impl_->connection, stmt);
        if (impl_->directText) {
            rc = SQLExecDirectW(stmt, impl_->directText->data(),
                                static_cast<SQLINTEGER>(impl_->directText->size()));
        } else {
            rc = SQLExecute(stmt);
        }
    }
    if (rc != SQL_NO_DATA) {
        Check(rc, SQL_HANDLE_STMT, stmt, impl_->directText ? "SQLExecDirect" : "SQLExecute");
    }
    impl_->DescribeColumns();
    impl_->cursorOpen = !impl_->columns.empty();
    return RowCount(stmt, rc);
}

bool Statement::Fetch() {
    const SQLHSTMT stmt = impl_->Handle();
    if (!impl_->cursorOpen) Fail("The statement has no open result to fetch from");
    impl_->onRow = false;
    const SQLRETURN rc = SQLFetch(stmt);
    if (rc == SQL_NO_DATA) return false;
    Check(rc, SQL_HANDLE_STMT, stmt, "SQLFetch");
    impl_->ReadRow();
    impl_->onRow = true;
    return true;
}

std::optional<std::int64_t> Statement::GetInt(const std::string& column) {
    const auto& cell = impl_->CellOf(column);
    switch (cell.kind) {
        case Impl::CellKind::Null:
            return std::nullopt;
        case Impl::CellKind::Int:
            return cell.integer;
        case Impl::CellKind::Text: {
            std::int64_t value = 0;
            std::string_view text = cell.text;
            while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
            while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
            const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
            if (result.ec == std::errc() && result.ptr == text.data() + text.size() &&
                !text.empty()) {
                return value;
            }
            break;
        }
        case Impl::CellKind::DateTime:
            break;
    }
    Fail("Column " + column + " does not hold an integer");
}

std::optional<DateTime> Statement::GetDateTime(const std::string& column) {
    const auto& cell = impl_->CellOf(column);
    switch (cell.kind) {
        case Impl::CellKind::Null:
            return std::nullopt;
        case Impl::CellKind::DateTime:
            return cell.dateTime;
        case Impl::CellKind::Text:
            if (auto value = ParseIsoDateTime(cell.text)) return value;
            break;
        case Impl::CellKind::Int:
            break;
    }
    Fail("Column " + column + " does not hold a date-time");
}

std::optional<std::string> Statement::GetText(const std::string& column) {
    const auto& cell = impl_->CellOf(column);
    switch (cell.kind) {
        case Impl::CellKind::Null:
            return std::nullopt;
        case Impl::CellKind::Int:
            return std::to_string(cell.integer);
        case Impl::CellKind::DateTime:
            return FormatIso(cell.dateTime);
        case Impl::CellKind::Text:
            return cell.text;
    }
    return std::nullopt;
}

std::vector<std::string> Statement::ColumnNames() const {
    std::vector<std::string> names;
    for (const auto& column : impl_->columns) names.push_back(column.name);
    return names;
}

void Statement::CloseCursor() noexcept {
    if (!impl_) return;
    if (impl_->stmt != SQL_NULL_HSTMT && impl_->cursorOpen) {
        SQLFreeStmt(impl_->stmt, SQL_CLOSE);
    }
    impl_->cursorOpen = false;
    impl_->onRow = false;
    impl_->row.clear();
}

// ---------------------------------------------------------------------------------------------
// Connection

Connection::Connection() = default;

Connection::~Connection() { Close(); }

void Connection::Open(const std::string& connectionString) {
    Close();
    const SQLHENV env = Environment();
    // unixODBC picks the text conversion when the handle is made.
    [[maybe_unused]] const Utf8ThreadLocale utf8;
    SQLHDBC dbc = SQL_NULL_HDBC;
    Check(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc), SQL_HANDLE_ENV, env, "SQLAllocHandle");
    dbc_ = dbc;
    // The login timeout limits the open alone. The connection timeout is left at its default, no
    // limit: a driver that applies it (Microsoft's) would bound every later request that is no
    // statement, a commit among them, where only each statement's query timeout should apply.
    SQLSetConnectAttr(
        dbc, SQL_ATTR_LOGIN_TIMEOUT,
        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(std::max(loginTimeout_, 0))),
        SQL_IS_UINTEGER);
    WString text = ToWide(connectionString);
    if (text.size() > 32767) {
        Close();
        Fail("The connection string is too long");
    }
    SQLWCHAR completed[2048];
    SQLSMALLINT completedLength = 0;
    const SQLRETURN rc = SQLDriverConnectW(
        dbc, nullptr, text.data(), static_cast<SQLSMALLINT>(text.size()), completed,
        static_cast<SQLSMALLINT>(std::size(completed)), &completedLength, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
        auto records = ReadDiagnostics(SQL_HANDLE_DBC, dbc);
        std::string description = Describe(records);
        if (description.empty()) {
            description = "SQLDriverConnect failed (ODBC return code " + std::to_string(rc) + ")";
        }
        Close();
        throw DbError(std::move(description), std::move(records));
    }
    open_ = true;
    // The SQLite driver loses track of its transaction when a statement is interrupted (SQLite
    // rolls it back, the driver's next transaction then runs in autocommit); its statements are
    // local and short, so they are left to finish instead.
    cancelStatements_ = DbmsName().rfind("SQLite", 0) != 0;
}

bool Connection::IsOpen() const { return open_; }

void Connection::Close() noexcept {
    if (dbc_ == nullptr) return;
    const auto dbc = static_cast<SQLHDBC>(dbc_);
    for (Statement::Impl* statement : statements_) {
        if (statement->stmt != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, statement->stmt);
        statement->stmt = SQL_NULL_HSTMT;
        statement->connection = nullptr;
        statement->cursorOpen = false;
        statement->onRow = false;
    }
    statements_.clear();
    if (open_) {
        if (inTransaction_) {
            ++statementsSent_;
            SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
        }
        SQLDisconnect(dbc);
    }
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    dbc_ = nullptr;
    open_ = false;
    inTransaction_ = false;
}

std::string Connection::DbmsName() const {
    if (!open_) Fail("The connection is closed");
    const auto dbc = static_cast<SQLHDBC>(dbc_);
    SQLWCHAR name[256] = {};
    SQLSMALLINT bytes = 0;
    Check(SQLGetInfoW(dbc, SQL_DBMS_NAME, name, sizeof name, &bytes), SQL_HANDLE_DBC, dbc,
          "SQLGetInfo");
    const auto length = std::min<std::size_t>(
        static_cast<std::size_t>(std::max<int>(bytes, 0)) / sizeof(SQLWCHAR), std::size(name) - 1);
    return FromWide(name, length);
}

std::int64_t Connection::Execute(const std::string& sql) {
    if (!open_) Fail("The connection is closed");
    StatementHandle handle(static_cast<SQLHDBC>(dbc_), commandTimeout_);
    WString text = ToWide(sql);
    SQLRETURN rc = SQL_ERROR;
    {
        const InFlight executing(*this, handle.Get());
        rc = SQLExecDirectW(handle.Get(), text.data(), static_cast<SQLINTEGER>(text.size()));
    }
    if (rc != SQL_NO_DATA) Check(rc, SQL_HANDLE_STMT, handle.Get(), "SQLExecDirect");
    return RowCount(handle.Get(), rc);
}

std::vector<std::int64_t> Connection::ExecuteBatch(const std::string& sql) {
    if (!open_) Fail("The connection is closed");
    StatementHandle handle(static_cast<SQLHDBC>(dbc_), commandTimeout_);
    WString text = ToWide(sql);
    std::vector<std::int64_t> counts;
    // A server may run the later statements of a batch only while their results are read, so
    // the whole reading stays cancellable.
    const InFlight executing(*this, handle.Get());
    SQLRETURN rc = SQLExecDirectW(handle.Get(), text.data(), static_cast<SQLINTEGER>(text.size()));
    for (;;) {
        if (rc != SQL_NO_DATA) Check(rc, SQL_HANDLE_STMT, handle.Get(), "SQLExecDirect");
        SQLSMALLINT columns = 0;
        if (rc == SQL_NO_DATA || !SQL_SUCCEEDED(SQLNumResultCols(handle.Get(), &columns))) {
            columns = 0;
        }
        if (columns == 0) counts.push_back(RowCount(handle.Get(), rc));
        rc = SQLMoreResults(handle.Get());
        if (rc == SQL_NO_DATA) break;
    }
    return counts;
}

bool Connection::CountsEveryBatchStatement() const {
    if (!open_) return false;
    const auto dbc = static_cast<SQLHDBC>(dbc_);
    SQLUINTEGER support = 0;
    SQLUINTEGER rowCounts = 0;
    if (!SQL_SUCCEEDED(SQLGetInfoW(dbc, SQL_BATCH_SUPPORT, &support, sizeof support, nullptr)) ||
        !SQL_SUCCEEDED(
            SQLGetInfoW(dbc, SQL_BATCH_ROW_COUNT, &rowCounts, sizeof rowCounts, nullptr))) {
        return false;
    }
    return (support & SQL_BS_ROW_COUNT_EXPLICIT) != 0 && (rowCounts & SQL_BRC_EXPLICIT) != 0 &&
           (rowCounts & SQL_BRC_ROLLED_UP) == 0;
}

void Connection::Cancel() noexcept {
    cancelRequested_ = true;
    std::lock_guard lock(inFlightMutex_);
    if (inFlight_ != nullptr && cancelStatements_) SQLCancel(static_cast<SQLHSTMT>(inFlight_));
}

Statement Connection::Prepare(const std::string& sql) {
    if (!open_) Fail("The connection is closed");
    return Statement(*this, sql, true);
}

Statement Connection::Query(const std::string& sql) {
    if (!open_) Fail("The connection is closed");
    return Statement(*this, sql, false);
}

void Connection::BeginTransaction() {
    if (!open_) Fail("The connection is closed");
    if (inTransaction_) Fail("A transaction is already open on this connection");
    const auto dbc = static_cast<SQLHDBC>(dbc_);
    Check(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT,
                            reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_AUTOCOMMIT_OFF)),
                            SQL_IS_UINTEGER),
          SQL_HANDLE_DBC, dbc, "SQLSetConnectAttr");
    inTransaction_ = true;
}

void Connection::EndTransaction(bool commit) {
    if (!open_) Fail("The connection is closed");
    if (!inTransaction_) Fail("No transaction is open on this connection");
    // After a cancel nothing more is committed: the work in flight is what the cancel stops.
    if (commit && cancelRequested_) {
        throw DbError("The operation was cancelled", {{"HY008", 0, "Operation canceled"}});
    }
    const auto dbc = static_cast<SQLHDBC>(dbc_);
    ++statementsSent_;
    const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc, commit ? SQL_COMMIT : SQL_ROLLBACK);
    // A failed commit leaves the transaction open, so the caller can still roll it back. A failed
    // rollback ends it all the same: the server has discarded it already (SQLite does so when a
    // statement is interrupted) or the connection is broken, and nothing could be retried.
    if (!SQL_SUCCEEDED(rc) && commit) ThrowDiagnostics(SQL_HANDLE_DBC, dbc, rc, "SQLEndTran");
    std::optional<DbError> failedRollback;
    if (!SQL_SUCCEEDED(rc)) {
        try {
            ThrowDiagnostics(SQL_HANDLE_DBC, dbc, rc, "SQLEndTran");
        } catch (const DbError& error) {
            failedRollback = error;
        }
    }
    inTransaction_ = false;
    Check(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT,
                            reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_AUTOCOMMIT_ON)),
                            SQL_IS_UINTEGER),
          SQL_HANDLE_DBC, dbc, "SQLSetConnectAttr");
    if (failedRollback) throw *failedRollback;
}

void Connection::Commit() { EndTransaction(true); }

void Connection::Rollback() { EndTransaction(false); }

// ---------------------------------------------------------------------------------------------
// Transaction

Transaction::Transaction(Connection& connection) : connection_(connection) {
    connection_.BeginTransaction();
}

Transaction::~Transaction() {
    if (done_ || !connection_.InTransaction()) return;
    try {
        connection_.Rollback();
    } catch (const DbError&) {
        // Rolling back during unwinding must not throw; Close rolls back once more.
    }
}

void Transaction::Commit() {
    connection_.Commit();
    done_ = true;
}

std::optional<std::vector<std::string>> InstalledDrivers() {
    const SQLHENV env = Environment();
    std::vector<std::string> names;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    for (;;) {
        SQLWCHAR name[512];
        SQLSMALLINT length = 0;
        SQLSMALLINT attributesLength = 0;
        const SQLRETURN result = SQLDriversW(env, direction, name, std::size(name), &length,
                                             nullptr, 0, &attributesLength);
        if (result == SQL_NO_DATA) return names;
        if (!SQL_SUCCEEDED(result)) return std::nullopt;
        // A name longer than the buffer comes cut, as no driver's name is.
        const std::size_t used = std::min<std::size_t>(
            static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)), std::size(name) - 1);
        names.push_back(FromWide(name, used));
        direction = SQL_FETCH_NEXT;
    }
}

}  // namespace tovrik::db
