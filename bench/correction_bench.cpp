// tovrik-bench: times the correction run against the set-based SQL a database administrator
// would write instead, on identical fresh copies of a synthetic suite database, checks that both
// leave identical databases, then times the undo of the run (which must give back the database
// as it was built) and the month scan, and measures the peak memory of the run at two sizes.
//
//   tovrik-bench [--sqlite] [--pg <ODBC connection string>] [--operations N] [--repeat R]
//                [--memory-sizes N1,N2] [--chunk-target-ms M] [--first-chunk N] [--max-chunk N]
//                [--trace]
//                [--rtt-ms N1,N2,...]
//
// --trace prints every commit of the run and the undo: operations done, milliseconds since the
// previous one and statements sent since.
//
// Without --pg the connection string comes from TOVRIK_BENCH_PG; without either, PostgreSQL is
// skipped. The PostgreSQL database given is emptied of the suite's four tables.
//
// --rtt-ms times both approaches on PostgreSQL once more for each round-trip time given (in
// milliseconds), through a loopback proxy that delays the traffic between this program and the
// server by half of it each way; the database is built directly. Those runs are made once unless
// --repeat is given (a slow run can take minutes at 40 ms); the loopback runs default to 3.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "correction/background_run.h"
#include "correction/correction_run.h"
#include "correction/month_scan.h"
#include "correction/run_journal.h"
#include "correction/undo_run.h"
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

bool gTrace = false;

// A front end that only measures how long the run goes without processing events (from its first
// Lap after a Restart), and with --trace prints each commit.
class TimingEvents : public RunEvents {
public:
    explicit TimingEvents(const db::Connection& connection)
        : connection_(connection),
          sent_(connection.StatementsSent()),
          committed_(SteadyClock::now()) {}
    void Committed(int done, int /*total*/) override {
        const auto now = SteadyClock::now();
        const std::uint64_t sent = connection_.StatementsSent();
        if (gTrace) {
            std::fprintf(stderr, "tovrik-bench:   commit %d operations, +%.0f ms, +%llu statements\n",
                         done, Seconds(now - committed_).count() * 1000,
                         static_cast<unsigned long long>(sent - sent_));
        }
        sent_ = sent;
        committed_ = now;
    }
    bool GoOn() override {
        Lap();
        ++rounds_;
        return true;
    }
    int Rounds() const { return rounds_; }
    void Restart() {
        started_ = true;
        last_ = SteadyClock::now();
    }
    void Lap() {
        const auto now = SteadyClock::now();
        if (started_) longest_ = std::max(longest_, Seconds(now - last_).count());
        started_ = true;
        last_ = now;
    }
    double Longest() const { return longest_; }

private:
    const db::Connection& connection_;
    std::uint64_t sent_;
    SteadyClock::time_point committed_;
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
    // On PostgreSQL also VACUUM: the first statements to read freshly inserted rows otherwise set
    // their hint bits and write the pages back, and autovacuum comes for the new rows while a run
    // is timed; either falls on whichever approach happens to run into it.
    connection.Execute(IsSqlite(connection) ? "ANALYZE" : "VACUUM ANALYZE");
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
    std::string journal;           // the run's journal
};

// The journals of the timed runs, in a folder of their own that goes with this object.
class JournalFolder {
public:
    JournalFolder()
        : path_(std::filesystem::temp_directory_path() /
                ("tovrik-bench-journal-" + std::to_string(getpid()))) {}
    ~JournalFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    JournalFolder(const JournalFolder&) = delete;
    JournalFolder& operator=(const JournalFolder&) = delete;
    JournalSetup Setup() const { return {path_.string(), "bench", MachineName(), "bench", ""}; }

private:
    std::filesystem::path path_;
};

// Tovrik's run as the front ends start it. Every timed run goes through here, so a different way
// of starting it (same signature) is measured by changing this one function.
// Like the front ends, every run writes its journal.
RunResult StartRun(db::Connection& connection, RunEvents& events, const Clock& clock,
                   const DateTime& inputDate, const DateTime& inputEnd, const RunPacing& pacing,
                   const JournalSetup& journal) {
    RunResult result;
    RunInBackground(connection, events, [&](RunEvents& workerEvents) {
        result = RunCorrection(connection, workerEvents, clock, inputDate, inputEnd, pacing,
                               &journal);
    });
    return result;
}

// Times `job` as a front end runs it: its own statements, and the front end's event rounds.
template <typename Job>
Timing Timed(db::Connection& connection, Job job) {
    TimingEvents view(connection);
    const std::uint64_t statements = connection.StatementsSent();
    const double cpu = CpuSeconds();
    const auto start = SteadyClock::now();
    view.Lap();
    Timing timing;
    job(view, timing);
    view.Lap();
    timing.seconds = Seconds(SteadyClock::now() - start).count();
    timing.cpuSeconds = CpuSeconds() - cpu;
    timing.longestGap = view.Longest();
    timing.eventRounds = view.Rounds();
    timing.statements = connection.StatementsSent() - statements;
    return timing;
}

Timing RunTovrik(db::Connection& connection, const RunPacing& pacing,
                 const JournalSetup& journal) {
    return Timed(connection, [&](TimingEvents& view, Timing& timing) {
        SystemClock clock;
        const RunResult result = StartRun(connection, view, clock, kMonth, kMonth, pacing, journal);
        if (result.Outcome != RunOutcome::Corrected) {
            throw std::runtime_error("the correction run did not complete: " + result.Error.Text);
        }
        timing.rows = result.Rows;
        timing.operations = result.Operations;
        timing.journal = result.JournalPath;
    });
}

// tovrik-cli --undo: reads the run's journal and moves every operation back.
Timing RunTovrikUndo(db::Connection& connection, const std::string& runJournal,
                     const JournalSetup& journal) {
    return Timed(connection, [&](TimingEvents& view, Timing& timing) {
        const Journal read = ReadJournal(runJournal);
        view.Restart();  // the front end's events wait only while the undo runs
        UndoReport report;
        RunInBackground(connection, view, [&](RunEvents& workerEvents) {
            report = RunUndo(connection, read, runJournal, journal, SystemClock().Now(),
                             workerEvents, [](const UndoItem&) {});
        });
        if (report.Undone != static_cast<int>(read.Committed.size()) || report.Interrupted) {
            throw std::runtime_error("the undo left " +
                                     std::to_string(read.Committed.size() - report.Undone) +
                                     " operations");
        }
        timing.operations = report.Undone;
        for (const JournalEntry& entry : read.Committed) {
            timing.rows += 1 + entry.DependentRows[0] + entry.DependentRows[1] +
                           entry.DependentRows[2];
        }
    });
}

// tovrik-cli --scan over the whole database.
Timing RunScan(db::Connection& connection) {
    return Timed(connection, [&](TimingEvents&, Timing& timing) {
        for (const MonthScan& month : ScanAffectedMonths(connection)) {
            timing.operations += static_cast<int>(month.Operations);
        }
    });
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

// The peak resident memory (KiB) of this process's program image (VmHWM). A parent's rusage of
// its child counts the pages the child shared with it before its exec as well.
long PeakRssKib() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

// Peak resident memory (KiB) of a fresh process that only runs the correction on the database, as
// that process reports it on its standard output.
long MeasureRunMemory(const std::string& connectionString) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    const pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl("/proc/self/exe", "tovrik-bench", "--child-run", connectionString.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) != 0;) {
        if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
        if (n < 0 && errno != EINTR) break;
    }
    close(out[0]);
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        text.empty()) {
        throw std::runtime_error("the memory run failed");
    }
    return std::stol(text);
}

int ChildRun(const std::string& connectionString) {
    try {
        db::Connection connection;
        connection.Open(connectionString);
        const JournalFolder journals;
        const Timing timing = RunTovrik(connection, RunPacing{}, journals.Setup());
        std::printf("%ld\n", PeakRssKib());
        return timing.operations > 0 ? 0 : 1;
    } catch (const std::exception& error) {
        std::cerr << "tovrik-bench: " << error.what() << "\n";
        return 1;
    }
}

// The fastest of each over the rounds, the median of the rounds' ratios of run to set-based SQL,
// and the longest time without an event round.
struct Best {
    Timing tovrik;
    Timing setBased;
    Timing undo;
    Timing scan;
    double medianRatio = 0;
    double medianUndoRatio = 0;
    double longestGap = 0;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Times the scan, Tovrik's run, its undo and the set-based SQL through `runner`, the run and the
// set-based SQL each on a fresh database built through `builder` (the same database, perhaps by
// a faster way), and checks after each round that both leave identical databases and that the
// undo gives back the database as it was built.
Best TimeBoth(const std::string& label, db::Connection& builder, db::Connection& runner,
              int operations, int repeat, const RunPacing& pacing) {
    std::optional<Timing> bestTovrik, bestSetBased, bestUndo, bestScan;
    std::vector<double> ratios, undoRatios;
    double longestGap = 0;
    JournalFolder journals;
    for (int round = 0; round < repeat; ++round) {
        Timing scan, tovrik, undo, setBased;
        std::string tovrikPrint, setBasedPrint;
        auto tovrikSide = [&] {
            Build(builder, operations);
            const std::string builtPrint = Fingerprint(builder);
            scan = RunScan(runner);
            tovrik = RunTovrik(runner, pacing, journals.Setup());
            tovrikPrint = Fingerprint(builder);
            undo = RunTovrikUndo(runner, tovrik.journal, journals.Setup());
            if (Fingerprint(builder) != builtPrint || undo.rows != tovrik.rows) {
                throw std::runtime_error("the undo did not give back the database as it was built");
            }
        };
        auto setBasedSide = [&] {
            Build(builder, operations);
            setBased = RunSetBased(runner);
            setBasedPrint = Fingerprint(builder);
        };
        // Every other round the set-based SQL goes first, so that what the server does in the
        // background after a build (checkpoints, the writes of the build itself) falls on both.
        if (round % 2 == 0) {
            tovrikSide();
            setBasedSide();
        } else {
            setBasedSide();
            tovrikSide();
        }
        if (tovrikPrint != setBasedPrint || tovrik.rows != setBased.rows ||
            tovrik.operations != setBased.operations || scan.operations <= tovrik.operations) {
            throw std::runtime_error("the two databases differ: " + tovrikPrint + " rows " +
                                     std::to_string(tovrik.rows) + " against " + setBasedPrint +
                                     " rows " + std::to_string(setBased.rows));
        }
        std::fprintf(stderr,
                     "tovrik-bench: %s round %d: tovrik %.3f s (client CPU %.3f s, %llu "
                     "statements), set-based %.3f s (client CPU %.3f s), %d event rounds, "
                     "longest %.1f ms without; undo %.3f s (%llu statements, longest %.1f ms "
                     "without); scan %.3f s (%llu statements)\n",
                     label.c_str(), round + 1, tovrik.seconds, tovrik.cpuSeconds,
                     static_cast<unsigned long long>(tovrik.statements), setBased.seconds,
                     setBased.cpuSeconds, tovrik.eventRounds, tovrik.longestGap * 1000,
                     undo.seconds, static_cast<unsigned long long>(undo.statements),
                     undo.longestGap * 1000, scan.seconds,
                     static_cast<unsigned long long>(scan.statements));
        longestGap = std::max({longestGap, tovrik.longestGap, undo.longestGap});
        ratios.push_back(tovrik.seconds / setBased.seconds);
        undoRatios.push_back(undo.seconds / setBased.seconds);
        auto keepBest = [](std::optional<Timing>& best, const Timing& timing) {
            if (!best || timing.seconds < best->seconds) best = timing;
        };
        keepBest(bestTovrik, tovrik);
        keepBest(bestSetBased, setBased);
        keepBest(bestUndo, undo);
        keepBest(bestScan, scan);
    }
    return Best{*bestTovrik,     *bestSetBased,      *bestUndo, *bestScan,
                Median(ratios), Median(undoRatios), longestGap};
}

// The figures of one backend or distance: the run, the undo (against the same set-based SQL,
// which moves the same rows) and the scan.
void PrintBest(const std::string& where, const Best& best) {
    std::printf(
        "bench: %s operations=%d rows=%lld tovrik_s=%.3f setbased_s=%.3f ratio=%.2f "
        "median_ratio=%.2f statements=%llu longest_gap_ms=%.1f\n",
        where.c_str(), best.tovrik.operations, static_cast<long long>(best.tovrik.rows),
        best.tovrik.seconds, best.setBased.seconds, best.tovrik.seconds / best.setBased.seconds,
        best.medianRatio, static_cast<unsigned long long>(best.tovrik.statements),
        best.longestGap * 1000);
    std::printf("undo: %s operations=%d undo_s=%.3f ratio=%.2f median_ratio=%.2f statements=%llu\n",
                where.c_str(), best.undo.operations, best.undo.seconds,
                best.undo.seconds / best.setBased.seconds, best.medianUndoRatio,
                static_cast<unsigned long long>(best.undo.statements));
    std::printf("scan: %s operations=%d scan_s=%.3f statements=%llu\n", where.c_str(),
                best.scan.operations, best.scan.seconds,
                static_cast<unsigned long long>(best.scan.statements));
    std::fflush(stdout);
}

void Bench(const std::string& backend, const std::string& connectionString,
           const Options& options) {
    db::Connection connection;
    connection.Open(connectionString);
    const Best best = TimeBoth(backend, connection, connection, options.operations,
                               options.repeat.value_or(3), options.pacing);
    PrintBest("backend=" + backend, best);
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
        PrintBest("backend=postgresql rtt_ms=" + std::to_string(rtt), best);
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
        } else if (arg == "--first-chunk") {
            options.pacing.FirstChunk = static_cast<std::size_t>(std::stoi(value()));
        } else if (arg == "--max-chunk") {
            options.pacing.MaxChunk = static_cast<std::size_t>(std::stoi(value()));
        } else if (arg == "--trace") {
            gTrace = true;
        } else if (arg == "--memory-sizes") {
            options.memorySizes = ParseNumbers(value());
        } else {
            std::cerr << "usage: tovrik-bench [--pg <connection string>] [--pg-only | "
                         "--sqlite-only] [--operations N] [--repeat R] [--memory-sizes N1,N2]\n"
                         "                    [--chunk-target-ms M] [--first-chunk N] [--max-chunk N]\n"
                         "                    [--trace]\n"
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
