#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "common/message_box.h"
#include "database/odbc.h"
#include "database/open_database.h"

namespace tovrik::test {

// A fresh folder under the system's temporary folder, removed with everything in it at the end
// of the scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::string Str() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

// The whole content of a file (empty when it cannot be read), and writing one.
std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& content);

// A file of the source tree, e.g. SourcePath("tests/settings/data/x.ini").
std::filesystem::path SourcePath(const std::string& relative);

// Sets an environment variable of this process (the C runtime's copy on Windows).
void SetEnv(const std::string& name, const std::string& value);

// ---------------------------------------------------------------------------------------------
// Profile (INI) files: UTF-8 on Linux, the ANSI code page on Windows (Shift_JIS under 932).

// Text in the encoding of profile files; nothing when the code page lacks one of its characters.
std::optional<std::string> ProfileBytes(const std::string& utf8);
// A copy of a UTF-8 fixture file in that encoding, in folder (characters the code page lacks
// become '?').
std::filesystem::path ProfileCopy(const std::filesystem::path& fixture,
                                  const std::filesystem::path& folder);
// A fixture's content in that encoding, '?' for what the code page lacks.
std::string ProfileContent(const std::filesystem::path& fixture);
// What is compared of a written profile file. Linux keeps every byte. Wine's profile functions
// rewrite the whole file: blank lines dropped, blanks around '=' removed, every line ended by
// CRLF; so on Windows both sides are compared in that form.
std::string ProfileLayout(const std::string& content);

// A path as the ODBC drivers see it. Under Wine they are the host's Linux libraries, reached
// through Wine's odbc32, so a Windows path is handed over in its Linux form; elsewhere the path
// is unchanged.
std::string DriverPath(const std::filesystem::path& path);

// Names each row of a table-driven test after the row's Name field.
struct RowName {
    template <class Row>
    std::string operator()(const testing::TestParamInfo<Row>& info) const {
        return info.param.Name;
    }
};

// ---------------------------------------------------------------------------------------------
// Message boxes

struct ShownBox {
    std::string Text;
    std::string Caption;
    MessageIcon Icon = MessageIcon::None;
};

// Records every box instead of showing it.
class RecordingMessageBoxes : public MessageBoxes {
public:
    void Show(const std::string& text, const std::string& caption, MessageIcon icon) override {
        Shown.push_back(ShownBox{text, caption, icon});
    }
    std::vector<ShownBox> Shown;
};

// ---------------------------------------------------------------------------------------------
// Databases
//
// Every test gets its own database: a SQLite file in a temporary folder, or a new database on
// the private PostgreSQL server of the test run (scripts/pg-test-server, started by the CTest
// fixture "postgres"; register test programs that need it with POSTGRES in tovrik_add_test).
// Typical use:
//
//     class MyTest : public tovrik::test::BackendTest {};
//     TEST_P(MyTest, Works) { Conn().Execute("..."); }
//     TOVRIK_BACKEND_TEST_SUITE(MyTest);   // runs every case on SQLite and on PostgreSQL

enum class Backend { Sqlite, Postgres };
// "SQLite" or "PostgreSQL".
std::string BackendName(Backend backend);
inline void PrintTo(Backend backend, std::ostream* out) { *out << BackendName(backend); }

// The private PostgreSQL server, read from $TOVRIK_PG_DIR/env. Throws std::runtime_error when
// the server is not running, so that a test needing it fails instead of being skipped.
struct PgServer {
    std::string Host;
    int Port = 0;
    std::string User;
    std::string Password;
    std::string Database;  // the server's standing database, owned by User
    std::string Dsn;       // system data source (in $ODBCSYSINI/odbc.ini) naming the server
};
const PgServer& PgServerInfo();

// A database that exists only for the current test; it is removed at the end of the scope.
class SuiteDb {
public:
    virtual ~SuiteDb() = default;
    // A connection string naming the driver directly.
    virtual std::string ConnectionString() const = 0;
    // A login whose data-source form ("PROVIDER=MSDASQL;DSN=...") opens this same database:
    // Server holds the data source name.
    virtual DbLoginRecord DsnLogin() = 0;
    // A new connection to this database, open.
    std::unique_ptr<db::Connection> Connect() const;
};

// An empty SQLite database file: "Driver=SQLite3;Database=<file>;".
class SqliteSuiteDb : public SuiteDb {
public:
    SqliteSuiteDb();
    std::string ConnectionString() const override;
    // Registers the user DSN "TovrikSqlite<n>" for the file on first use; no user or password.
    DbLoginRecord DsnLogin() override;
    const std::filesystem::path& File() const { return file_; }

private:
    TempDir dir_;
    std::filesystem::path file_;
    std::string dsn_;
};

// A new, empty UTF8 database on the private PostgreSQL server, dropped at the end.
class PgSuiteDb : public SuiteDb {
public:
    PgSuiteDb();
    ~PgSuiteDb() override;
    std::string ConnectionString() const override;
    // The server's system DSN with user, password and Database=<this database>.
    DbLoginRecord DsnLogin() override;
    const std::string& Name() const { return name_; }

private:
    std::string name_;
};

std::unique_ptr<SuiteDb> MakeSuiteDb(Backend backend);

// Registers a data source in this process's own user DSN file (ODBCINI, set by the test main or
// under Wine by scripts/wine-run before anything connects), replacing one of the same name.
void RegisterUserDsn(const std::string& name,
                     const std::vector<std::pair<std::string, std::string>>& keys);

// A name that no other test of the run uses: prefix, process id, a counter and a random part.
std::string UniqueName(const std::string& prefix);

#ifdef _WIN32
// Registers a system data source on the 32-bit side of the Wine session's registry only, as a
// 32-bit installer does (`reg add … /reg:32` writes the same keys): the driver's name under
// "ODBC Data Sources", the attributes in the data source's key. The run's prefix goes at its end.
void Register32BitSystemDsn(const std::string& name, const std::string& driver,
                            const std::vector<std::pair<std::string, std::string>>& attributes);
#endif

// Every failed database call of a test should show the driver's codes: SQLSTATE, native code
// and text of each diagnostic record.
std::string Describe(const db::DbError& error);

// Runs a statement; a DbError becomes a fatal failure that shows Describe(error).
#define TOVRIK_ASSERT_DB(statement)                                                     \
    do {                                                                                \
        try {                                                                           \
            statement;                                                                  \
        } catch (const ::tovrik::db::DbError& dbError_) {                               \
            FAIL() << #statement << " failed:\n" << ::tovrik::test::Describe(dbError_); \
        }                                                                               \
    } while (false)

// A test fixture parameterised by backend: a fresh database and an open connection to it.
class BackendTest : public testing::TestWithParam<Backend> {
protected:
    void SetUp() override;
    void TearDown() override;
    SuiteDb& Db() { return *db_; }
    db::Connection& Conn() { return *connection_; }
    bool IsPostgres() const { return GetParam() == Backend::Postgres; }

private:
    std::unique_ptr<SuiteDb> db_;
    std::unique_ptr<db::Connection> connection_;
};

std::string BackendTestName(const testing::TestParamInfo<Backend>& info);

#define TOVRIK_BACKEND_TEST_SUITE(Suite)                                                     \
    INSTANTIATE_TEST_SUITE_P(                                                                \
        Backends, Suite,                                                                     \
        testing::Values(::tovrik::test::Backend::Sqlite, ::tovrik::test::Backend::Postgres), \
        ::tovrik::test::BackendTestName)

}  // namespace tovrik::test
