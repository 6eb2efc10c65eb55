// tovrik-sample-db: creates the suite's tables in a database and fills them with sample
// operations, some hit by the GPS week-number rollover and some not.

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "database/odbc.h"
#include "sampledata/sample_data.h"

namespace {

constexpr const char* kUsage =
    "usage: tovrik-sample-db --connect <odbc connection string> [options]\n"
    "  --affected N        operations dated 1024 weeks early, read in during the month (10)\n"
    "  --unaffected N      operations with correct dates, read in during the month (10)\n"
    "  --other-month N     operations dated 1024 weeks early, read in the month after (0)\n"
    "  --month yyyy/MM     the input month (2019/04)\n"
    "  --drivers N         DriversTime rows per operation (2)\n"
    "  --events N          EventLog rows per operation (10)\n"
    "  --opdata N          OpData rows per operation (5)\n"
    "  --first-id N        General.ID of the first operation (1)\n"
    "  --replace           drop the four tables first when they exist\n"
    "  --no-schema         insert into existing tables\n";

bool ParseCount(std::string_view text, int& value) {
    if (text.empty() || text.size() > 9) return false;
    int result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        result = result * 10 + (c - '0');
    }
    value = result;
    return true;
}

bool ParseMonth(std::string_view text, int& year, int& month) {
    const auto slash = text.find('/');
    if (slash == std::string_view::npos) return false;
    return ParseCount(text.substr(0, slash), year) && ParseCount(text.substr(slash + 1), month) &&
           year >= 1900 && year <= 9999 && month >= 1 && month <= 12;
}

int Usage(const std::string& problem) {
    std::fprintf(stderr, "tovrik-sample-db: %s\n%s", problem.c_str(), kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    using tovrik::sampledata::SampleSpec;
    SampleSpec spec;
    std::string connectionString;
    bool replace = false;
    bool createSchema = true;

    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (option == "--replace") {
            replace = true;
            continue;
        }
        if (option == "--no-schema") {
            createSchema = false;
            continue;
        }
        if (i + 1 >= argc) return Usage("missing value after " + std::string(option));
        const std::string_view value = argv[++i];
        int first = 0;
        bool ok = true;
        if (option == "--connect") {
            connectionString = value;
        } else if (option == "--month") {
            ok = ParseMonth(value, spec.Year, spec.Month);
        } else if (option == "--affected") {
            ok = ParseCount(value, spec.Affected);
        } else if (option == "--unaffected") {
            ok = ParseCount(value, spec.Unaffected);
        } else if (option == "--other-month") {
            ok = ParseCount(value, spec.AffectedOtherMonth);
        } else if (option == "--drivers") {
            ok = ParseCount(value, spec.DriversPerOperation);
        } else if (option == "--events") {
            ok = ParseCount(value, spec.EventsPerOperation);
        } else if (option == "--opdata") {
            ok = ParseCount(value, spec.OpDataPerOperation);
        } else if (option == "--first-id") {
            ok = ParseCount(value, first);
            spec.FirstId = first;
        } else {
            return Usage("unknown option " + std::string(option));
        }
        if (!ok) return Usage("bad value for " + std::string(option) + ": " + std::string(value));
    }
    if (connectionString.empty()) return Usage("--connect is required");

    try {
        const auto started = std::chrono::steady_clock::now();
        tovrik::db::Connection connection;
        connection.Open(connectionString);
        if (replace) tovrik::sampledata::DropSuiteSchema(connection);
        if (createSchema) tovrik::sampledata::CreateSuiteSchema(connection);
        const auto data = tovrik::sampledata::FillSampleData(connection, spec);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
        std::printf(
            "%s: %zu affected, %zu unaffected, %zu other-month operations, %lld rows in "
            "%.2f s\n",
            connection.DbmsName().c_str(), data.AffectedIds.size(), data.UnaffectedIds.size(),
            data.OtherMonthIds.size(), static_cast<long long>(data.Rows), took.count());
        return 0;
    } catch (const tovrik::db::DbError& error) {
        std::fprintf(stderr, "tovrik-sample-db: %s", error.what());
        if (!error.SqlState().empty()) {
            std::fprintf(stderr, " [SQLSTATE %s, native %d]", error.SqlState().c_str(),
                         error.NativeCode());
        }
        std::fputc('\n', stderr);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tovrik-sample-db: %s\n", error.what());
    }
    return 1;
}
