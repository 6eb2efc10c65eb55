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

}  // namespace
}  // namespace tovrik
