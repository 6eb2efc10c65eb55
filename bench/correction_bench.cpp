// tovrik-bench: times the correction run against the set-based SQL a database administrator
// would write instead, on identical fresh copies of a synthetic suite database, checks that both
// leave identical databases, and measures the peak memory of the run at two sizes.
//
//   tovrik-bench [--sqlite] [--pg <ODBC connection string>] [--operations N] [--repeat R]
//                [--memory-sizes N1,N2] [--chunk-target-ms M]
//                [--rtt-ms N1,N2,...]
//
// Without --pg the connection string comes from TOVRIK_BENCH_PG; without either, PostgreSQL is
// skipped. The PostgreSQL database given is emptied of the suite's four tables.
//
// --rtt-ms times both approaches on PostgreSQL once more for each round-trip time given (in
// milliseconds), through a loopback proxy that delays the traffic between this program and the
// server by half of it each way; the database is built directly. Those runs are made once unless
// --repeat is given (a slow run can take minutes at 40 ms); the loopback runs default to 3.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "correction/background_run.h"
#include "correction/correction_run.h"
#include "database/odbc.h"
#include "delayproxy/delay_proxy.h"
#include "sampledata/sample_data.h"

namespace {

using namespace tovrik;
using Seconds = std::chrono::duration<double>;
using SteadyClock = std::chrono::steady_clock;

constexpr int kDriversPerOperation = 2;
constexpr int kEventsPerOperation = 100;
constexpr int kOpDataPerOperation = 20;

struct Options {
    bool sqlite = true;
    std::string pg;
    int operations = 2000;
    std::optional<int> repeat;  // rounds per measurement; the default differs by kind
    std::vector<int> memorySizes = {2000, 8000};
    std::vector<int> rttMs;
    std::string childConnection;  // internal: run once on this database and exit
    RunPacing pacing;
};

// A front end that only measures how long the run goes without processing events.
class TimingEvents : public RunEvents {
public:
    bool GoOn() override {
        Lap();
        ++rounds_;
        return true;
    }
    int Rounds() const { return rounds_; }
    void Lap() {
        const auto now = SteadyClock::now();
        if (started_) longest_ = std::max(longest_, Seconds(now - last_).count());
        started_ = true;
        last_ = now;
    }
    double Longest() const { return longest_; }

private:
    bool started_ = false;
    SteadyClock::time_point last_;
    double longest_ = 0;
    int rounds_ = 0;
};

const DateTime kMonth{2019, 4, 1, 0, 0, 0, 0};

bool IsSqlite(db::Connection& connection) { return connection.DbmsName() == "SQLite"; }

// A fresh suite database: the selected operations, as many again outside the selection split
// between correct dates in the month and affected dates in the next month, all with the same
// dependent rows.
void Build(db::Connection& connection, int operations) {
    sampledata::DropSuiteSchema(connection);
    sampledata::CreateSuiteSchema(connection);
    sampledata::SampleSpec spec;
    spec.Year = kMonth.Year;
    spec.Month = kMonth.Month;
    spec.Affected = operations;
    spec.Unaffected = operations / 10;
    spec.AffectedOtherMonth = operations / 10;
    spec.DriversPerOperation = kDriversPerOperation;
    spec.EventsPerOperation = kEventsPerOperation;
    spec.OpDataPerOperation = kOpDataPerOperation;
    sampledata::FillSampleData(connection, spec);
    connection.Execute("ANALYZE");
}

// CPU time of this process (the client; PostgreSQL works in its own processes).
double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Timing {
    double seconds = 0;
    double cpuSeconds = 0;
    std::int64_t rows = 0;
    int operations = 0;
    double longestGap = 0;
    int eventRounds = 0;
    std::uint64_t statements = 0;  // sent to the server
};

// Tovrik's run as the front ends start it. Every timed run goes through here, so a different way
// of starting it (same signature) is measured by changing this one function.
// Like the front ends, every run writes its journal (into a folder of its own, removed after).
RunResult StartRun(db::Connection& connection, RunEvents& events, const Clock& clock,
                   const DateTime& inputDate, const DateTime& inputEnd, const RunPacing& pacing) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("tovrik-bench-journal-" + std::to_string(getpid()));
    const JournalSetup journal{folder.string(), "bench", MachineName(), "bench", ""};
    RunResult result;
    RunInBackground(connection, events, [&](RunEvents& workerEvents) {
        result = RunCorrection(connection, workerEvents, clock, inputDate, inputEnd, pacing,
                               &journal);
    });
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return result;
}

Timing RunTovrik(db::Connection& connection, const RunPacing& pacing) {
    TimingEvents view;
    SystemClock clock;
    const std::uint64_t statements = connection.StatementsSent();
    const double cpu = CpuSeconds();
    const auto start = SteadyClock::now();
    view.Lap();
    const RunResult result = StartRun(connection, view, clock, kMonth, kMonth, pacing);
    view.Lap();
    Timing timing{Seconds(SteadyClock::now() - start).count(),
                  CpuSeconds() - cpu,
                  result.Rows,
                  result.Operations,
                  view.Longest(),
                  view.Rounds(),
                  connection.StatementsSent() - statements};
    if (result.Outcome != RunOutcome::Corrected) {
        throw std::runtime_error("the correction run did not complete: " + result.Error.Text);
    }
    return timing;
}

// What an administrator would run by hand: one UPDATE per table over all selected operations,
// dependent tables first (moving General changes the selection), in one transaction.
Timing RunSetBased(db::Connection& connection) {
    const bool sqlite = IsSqlite(connection);
    auto moved = [&](const std::string& c) {
        return c + "=" +
               (sqlite ? "strftime('%Y-%m-%d %H:%M:%f'," + c + ",'+7168 days')"
                       : c + "+interval '7168 days'");
    };
    const std::string selected =
        "InputDate>={ts '2019-04-01 00:00:00'} AND InputDate<{ts '2019-05-01 00:00:00'} AND "
        "Date<{ts '2008-01-01 00:00:00'}";
    const std::string ofSelected =
        " WHERE GeneralID IN (SELECT ID FROM General WHERE " + selected + ")";
    const double cpu = CpuSeconds();
    const auto start = SteadyClock::now();
    Timing timing;
    db::Transaction transaction(connection);
    timing.rows += connection.Execute("UPDATE DriversTime SET " + moved("StartTime") + "," +
                                      moved("EndTime") + "," + moved("Date") + ofSelected);
    timing.rows += connection.Execute("UPDATE EventLog SET " + moved("Date") + ofSelected);
    timing.rows += connection.Execute("UPDATE OpData SET " + moved("RecDate") + "," +
                                      moved("RecStart") + "," + moved("RecEnd") + ofSelected);
    const std::int64_t general =
        connection.Execute("UPDATE General SET " + moved("Date") + "," + moved("StartTime") + "," +
                           moved("EndTime") + " WHERE " + selected);
    timing.rows += general;
    transaction.Commit();
    timing.seconds = Seconds(SteadyClock::now() - start).count();
    timing.cpuSeconds = CpuSeconds() - cpu;
    timing.operations = static_cast<int>(general);
    return timing;
}

// A fingerprint of every row of the four tables, date-times compared as values.
std::string Fingerprint(db::Connection& connection) {
    struct Table {
        const char* sql;
        std::vector<const char*> columns;
    };
    const Table tables[] = {
        {"SELECT ID AS K,0 AS S,InputDate,Date,StartTime,EndTime FROM General ORDER BY ID",
         {"InputDate", "Date", "StartTime", "EndTime"}},
        {"SELECT GeneralID AS K,DriverID AS S,StartTime,EndTime,Date FROM DriversTime "
         "ORDER BY GeneralID,DriverID",
         {"StartTime", "EndTime", "Date"}},
        {"SELECT GeneralID AS K,SeqNo AS S,Date FROM EventLog ORDER BY GeneralID,SeqNo", {"Date"}},
        {"SELECT GeneralID AS K,Page AS S,RecDate,RecStart,RecEnd FROM OpData "
         "ORDER BY GeneralID,Page",
         {"RecDate", "RecStart", "RecEnd"}},
    };
    std::uint64_t hash = 1469598103934665603ull;
    std::int64_t rows = 0;
    auto mix = [&](const std::string& text) {
        for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
        hash = (hash ^ 0xFFu) * 1099511628211ull;
    };
    for (const auto& table : tables) {
        auto statement = connection.Prepare(table.sql);
        statement.Execute();
        while (statement.Fetch()) {
            ++rows;
            mix(std::to_string(*statement.GetInt("K")) + "/" +
                std::to_string(*statement.GetInt("S")));
            for (const char* column : table.columns) {
                const auto value = statement.GetDateTime(column);
                mix(value ? FormatIso(*value) : "NULL");
            }
        }
    }
    char text[64];
    std::snprintf(text, sizeof text, "%016llx/%lld", static_cast<unsigned long long>(hash),
                  static_cast<long long>(rows));
    return text;
}

std::string SqliteConnectionString(const std::filesystem::path& file) {
    return "Driver=SQLite3;Database=" + file.string() + ";";
}

// Peak resident memory (KiB) of a fresh process that only runs the correction on the database.
long MeasureRunMemory(const std::string& connectionString) {
    const pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        execl("/proc/self/exe", "tovrik-bench", "--child-run", connectionString.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        throw std::runtime_error("the memory run failed");
    }
    return usage.ru_maxrss;
}

int ChildRun(const std::string& connectionString) {
    try {
        db::Connection connection;
        connection.Open(connectionString);
        const Timing timing = RunTovrik(connection, RunPacing{});
        return timing.operations > 0 ? 0 : 1;
    } catch (const std::exception& error) {
        std::cerr << "tovrik-bench: " << error.what() << "\n";
        return 1;
    }
}

// The fastest of each approach over the rounds, and the longest time without an event round.
struct Best {
    Timing tovrik;
    Timing setBased;
    double longestGap = 0;
};

// Times Tovrik's run and the set-based SQL through `runner`, each on a fresh database built
// through `builder` (the same database, perhaps by a faster way), and checks after each round that
// both leave identical databases.
Best TimeBoth(const std::string& label, db::Connection& builder, db::Connection& runner,
              int operations, int repeat, const RunPacing& pacing) {
    std::optional<Timing> bestTovrik, bestSetBased;
    double longestGap = 0;
    for (int round = 0; round < repeat; ++round) {
        Build(builder, operations);
        const Timing tovrik = RunTovrik(runner, pacing);
        const std::string tovrikPrint = Fingerprint(builder);
        Build(builder, operations);
        const Timing setBased = RunSetBased(runner);
        const std::string setBasedPrint = Fingerprint(builder);
        if (tovrikPrint != setBasedPrint || tovrik.rows != setBased.rows ||
            tovrik.operations != setBased.operations) {
            throw std::runtime_error("the two databases differ: " + tovrikPrint + " rows " +
                                     std::to_string(tovrik.rows) + " against " + setBasedPrint +
                                     " rows " + std::to_string(setBased.rows));
        }
        std::fprintf(stderr,
                     "tovrik-bench: %s round %d: tovrik %.3f s (client CPU %.3f s, %llu "
                     "statements), set-based %.3f s (client CPU %.3f s), %d event rounds, "
                     "longest %.1f ms without\n",
                     label.c_str(), round + 1, tovrik.seconds, tovrik.cpuSeconds,
                     static_cast<unsigned long long>(tovrik.statements), setBased.seconds,
                     setBased.cpuSeconds, tovrik.eventRounds, tovrik.longestGap * 1000);
        longestGap = std::max(longestGap, tovrik.longestGap);
        if (!bestTovrik || tovrik.seconds < bestTovrik->seconds) bestTovrik = tovrik;
        if (!bestSetBased || setBased.seconds < bestSetBased->seconds) bestSetBased = setBased;
    }
    return Best{*bestTovrik, *bestSetBased, longestGap};
}

void Bench(const std::string& backend, const std::string& connectionString,
           const Options& options) {
    db::Connection connection;
    connection.Open(connectionString);
    const Best best = TimeBoth(backend, connection, connection, options.operations,
                               options.repeat.value_or(3), options.pacing);
    std::printf(
        "bench: backend=%s operations=%d rows=%lld tovrik_s=%.3f setbased_s=%.3f "
        "ratio=%.2f\n",
        backend.c_str(), best.tovrik.operations, static_cast<long long>(best.tovrik.rows),
        best.tovrik.seconds, best.setBased.seconds, best.tovrik.seconds / best.setBased.seconds);
    std::printf("events: backend=%s longest_gap_ms=%.1f\n", backend.c_str(),
                best.longestGap * 1000);
    for (int size : options.memorySizes) {
        Build(connection, size);
        std::printf("memory: backend=%s operations=%d peak_rss_kib=%ld\n", backend.c_str(), size,
                    MeasureRunMemory(connectionString));
    }
    sampledata::DropSuiteSchema(connection);
    std::fflush(stdout);
}

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// A connection string's key=value pairs in order; a value in braces may hold ';'.
std::vector<std::pair<std::string, std::string>> SplitConnectionString(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::string item;
    bool braced = false;
    auto flush = [&] {
        const auto equals = item.find('=');
        if (equals != std::string::npos) {
            pairs.emplace_back(item.substr(0, equals), item.substr(equals + 1));
        }
        item.clear();
    };
    for (char c : text) {
        if (c == '{') braced = true;
        if (c == '}') braced = false;
        if (c == ';' && !braced) {
            flush();
        } else {
            item += c;
        }
    }
    flush();
    return pairs;
}

// The PostgreSQL connection string and where it leads, and the same string leading elsewhere.
struct PgAddress {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::string host = "localhost";  // psqlODBC's defaults
    int port = 5432;

    explicit PgAddress(const std::string& connectionString)
        : pairs(SplitConnectionString(connectionString)) {
        for (const auto& [key, value] : pairs) {
            const std::string name = LowerAscii(key);
            if (name == "servername" || name == "server") host = value;
            if (name == "port") port = std::stoi(value);
        }
    }
    std::string To(const std::string& otherHost, int otherPort) const {
        std::string text;
        for (const auto& [key, value] : pairs) {
            const std::string name = LowerAscii(key);
            if (name == "servername" || name == "server" || name == "port") continue;
            text += key + "=" + value + ";";
        }
        return text + "Servername=" + otherHost + ";Port=" + std::to_string(otherPort) + ";";
    }
};

// Both approaches once more for each round-trip time, through a delaying proxy to the server.
void BenchAtDistance(const std::string& connectionString, const Options& options) {
    const PgAddress address(connectionString);
    db::Connection direct;
    direct.Open(connectionString);
    for (int rtt : options.rttMs) {
        delayproxy::DelayProxy proxy(address.host, address.port, std::chrono::milliseconds(rtt));
        db::Connection distant;
        distant.Open(address.To("127.0.0.1", proxy.Port()));
        const Best best = TimeBoth("postgresql at " + std::to_string(rtt) + " ms", direct, distant,
                                   options.operations, options.repeat.value_or(1), options.pacing);
        std::printf(
            "bench: backend=postgresql rtt_ms=%d operations=%d rows=%lld tovrik_s=%.3f "
            "setbased_s=%.3f ratio=%.2f statements=%llu longest_gap_ms=%.1f\n",
            rtt, best.tovrik.operations, static_cast<long long>(best.tovrik.rows),
            best.tovrik.seconds, best.setBased.seconds, best.tovrik.seconds / best.setBased.seconds,
            static_cast<unsigned long long>(best.tovrik.statements), best.longestGap * 1000);
        std::fflush(stdout);
    }
    sampledata::DropSuiteSchema(direct);
}

std::vector<int> ParseNumbers(const std::string& text) {
    std::vector<int> numbers;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');) numbers.push_back(std::stoi(item));
    return numbers;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const char* pg = std::getenv("TOVRIK_BENCH_PG")) options.pg = pg;
    bool onlyPg = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::cerr << "tovrik-bench: " << arg << " needs a value\n";
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--child-run") {
            options.childConnection = value();
        } else if (arg == "--pg") {
            options.pg = value();
        } else if (arg == "--pg-only") {
            onlyPg = true;
        } else if (arg == "--sqlite-only") {
            options.pg.clear();
        } else if (arg == "--operations") {
            options.operations = std::stoi(value());
        } else if (arg == "--repeat") {
            options.repeat = std::max(1, std::stoi(value()));
        } else if (arg == "--rtt-ms") {
            options.rttMs = ParseNumbers(value());
        } else if (arg == "--chunk-target-ms") {
            options.pacing.ChunkTarget = std::chrono::milliseconds(std::stoi(value()));
        } else if (arg == "--memory-sizes") {
            options.memorySizes = ParseNumbers(value());
        } else {
            std::cerr << "usage: tovrik-bench [--pg <connection string>] [--pg-only | "
                         "--sqlite-only] [--operations N] [--repeat R] [--memory-sizes N1,N2]\n"
                         "                    [--chunk-target-ms M]\n"
                         "                    [--rtt-ms N1,N2,...]\n";
            return 2;
        }
    }
    if (!options.childConnection.empty()) return ChildRun(options.childConnection);

    try {
        if (!onlyPg) {
            char pattern[] = "/tmp/tovrik-bench-XXXXXX";
            if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
            const std::filesystem::path folder = pattern;
            try {
                Bench("sqlite", SqliteConnectionString(folder / "suite.db"), options);
            } catch (...) {
                std::filesystem::remove_all(folder);
                throw;
            }
            std::filesystem::remove_all(folder);
        }
        if (!options.pg.empty()) {
            Bench("postgresql", options.pg, options);
            BenchAtDistance(options.pg, options);
        } else if (!options.rttMs.empty()) {
            std::cerr << "tovrik-bench: --rtt-ms needs PostgreSQL (--pg or TOVRIK_BENCH_PG)\n";
        }
    } catch (const db::DbError& error) {
        std::cerr << "tovrik-bench: " << error.what() << "\n";
        return 1;
    } catch (const std::exception& error) {
        std::cerr << "tovrik-bench: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
