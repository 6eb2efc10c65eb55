#include <gtest/gtest.h>

#include <ostream>

#include "database/open_database.h"
#include "support/test_support.h"

namespace tovrik {
namespace {

struct FormCase {
    const char* Name;
    DbLoginRecord Login;
    bool ServerFileMode;
    const char* Expected;
};

void PrintTo(const FormCase& row, std::ostream* out) { *out << row.Name; }

class ConnectionStringTest : public testing::TestWithParam<FormCase> {};

TEST_P(ConnectionStringTest, BuildsTheTextPieceByPiece) {
    EXPECT_EQ(BuildConnectionString(GetParam().Login, GetParam().ServerFileMode),
              GetParam().Expected);
}

// Ordinary values, including '=', '.', '\\', ',' and Japanese text, go in byte for byte.
INSTANTIATE_TEST_SUITE_P(
    Forms, ConnectionStringTest,
    testing::Values(FormCase{"Driver",
                             {"tcp:db.example.jp,1433", "sa", "pw", "Nuvral"},
                             true,
                             "Driver={SQL Server};Server=tcp:db.example.jp,1433;UID=sa;PWD=pw;"
                             "Database=Nuvral;"},
                    FormCase{"DriverEmptyDatabase",
                             {"tcp:host", "sa", "pw", ""},
                             true,
                             "Driver={SQL Server};Server=tcp:host;UID=sa;PWD=pw;Database=;"},
                    FormCase{"DriverAllEmpty",
                             {"", "", "", ""},
                             true,
                             "Driver={SQL Server};Server=;UID=;PWD=;Database=;"},
                    FormCase{"DataSource",
                             {"NuvralDB", "user", "secret", "Suite"},
                             false,
                             "PROVIDER=MSDASQL;DSN=NuvralDB;UID=user;PWD=secret;Database=Suite;"},
                    FormCase{"DataSourceEmptyDatabase",
                             {"NuvralDB", "user", "secret", ""},
                             false,
                             "PROVIDER=MSDASQL;DSN=NuvralDB;UID=user;PWD=secret;"},
                    FormCase{"DataSourceEmptyUserAndPassword",
                             {"NuvralDB", "", "", ""},
                             false,
                             "PROVIDER=MSDASQL;DSN=NuvralDB;UID=;PWD=;"},
                    FormCase{
                        "OrdinaryPunctuationUnchanged",
                        {"DSN.1", "dom\\user", "a=b,c'd\"e f", "運行"},
                        false,
                        "PROVIDER=MSDASQL;DSN=DSN.1;UID=dom\\user;PWD=a=b,c'd\"e f;Database=運行;"},
                    // A value that would split the text is wrapped in braces, '}' doubled.
                    FormCase{"InjectedKeywordClosed",
                             {"tcp:host", "sa", "x;Database=other", "Nuvral"},
                             true,
                             "Driver={SQL Server};Server=tcp:host;UID=sa;PWD={x;Database=other};"
                             "Database=Nuvral;"},
                    FormCase{"BracesQuoted",
                             {"NuvralDB", "u", "a}b{c", "d"},
                             false,
                             "PROVIDER=MSDASQL;DSN=NuvralDB;UID=u;PWD={a}}b{c};Database=d;"},
                    FormCase{"ClosingBraceCannotEscape",
                             {"NuvralDB", "u", "};DSN=evil", ""},
                             false,
                             "PROVIDER=MSDASQL;DSN=NuvralDB;UID=u;PWD={}};DSN=evil};"},
                    FormCase{"EdgeBlanksKept",
                             {"NuvralDB", " u", "p ", ""},
                             false,
                             "PROVIDER=MSDASQL;DSN=NuvralDB;UID={ u};PWD={p };"}),
    test::RowName());

struct DefinitionCase {
    const char* Name;
    DbLoginRecord Login;
    DataSourceDefinition Definition;
    const char* Expected;
};

void PrintTo(const DefinitionCase& row, std::ostream* out) { *out << row.Name; }

class DefinitionStringTest : public testing::TestWithParam<DefinitionCase> {};

TEST_P(DefinitionStringTest, PutsTheDriverAndAttributesBeforeTheSettings) {
    EXPECT_EQ(BuildDefinitionConnectionString(GetParam().Login, GetParam().Definition),
              GetParam().Expected);
}

// The data source's DLL path and keywords of the settings' own (any case) are left out: drivers
// take the first of two equal keywords, and the settings must win as over a data source.
INSTANTIATE_TEST_SUITE_P(
    Definitions, DefinitionStringTest,
    testing::Values(
        DefinitionCase{"SqlServerRegistration",
                       {"SuiteDb", "nuvral", "secret", "NUVRAL"},
                       {"SQL Server",
                        {{"Driver", "C:\\Windows\\SysWOW64\\SQLSRV32.dll"},
                         {"Server", "dbhost\\SQLEXPRESS"},
                         {"database", "OLD"},
                         {"Uid", "old"},
                         {"LastUser", "nuvral"}}},
                       "Driver={SQL Server};Server=dbhost\\SQLEXPRESS;LastUser=nuvral;UID=nuvral;"
                       "PWD=secret;Database=NUVRAL;"},
        DefinitionCase{"DatabaseOfTheRegistrationWhenTheSettingsNameNone",
                       {"SuiteDb", "", "", ""},
                       {"SQLite3", {{"Database", "/srv/運行 データ=1.db"}}},
                       "Driver={SQLite3};Database=/srv/運行 データ=1.db;UID=;PWD=;"},
        DefinitionCase{
            "SplittingValuesAndDriverNameQuoted",
            {"SuiteDb", "u", "p", ""},
            {"Odd}Driver", {{"Description", "a;DSN=x"}, {"Server", "}{"}, {"Trim", " t "}}},
            "Driver={Odd}}Driver};Description={a;DSN=x};Server={}}{};Trim={ t };"
            "UID=u;PWD=p;"},
        DefinitionCase{
            "KeywordsThatCannotBeWrittenLeftOut",
            {"SuiteDb", "u", "p", ""},
            {"SQLite3", {{"a=b", "1"}, {"c;d", "2"}, {"", "3"}, {"DSN", "Other"}, {"Ok", "4"}}},
            "Driver={SQLite3};Ok=4;UID=u;PWD=p;"}),
    test::RowName());

}  // namespace
}  // namespace tovrik
