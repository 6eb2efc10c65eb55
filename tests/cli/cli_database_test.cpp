// tovrik-cli against a real suite database: the dry run, the run, its report and exit status,
// start-up failures and a run stopped part-way. Built once per backend (TOVRIK_CLI_POSTGRES
// selects PostgreSQL), so the SQLite cases need no server.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <map>
#include <set>
#include <memory>
#include <sstream>
#include <thread>

#include "cli/cli_process.h"
#include "common/date_time.h"
#include "platform/platform.h"
#include "correction/run_journal.h"
#if defined(TOVRIK_CLI_POSTGRES) && !defined(_WIN32)
#include "delayproxy/delay_proxy.h"
#endif
#include "sampledata/sample_data.h"
#include "support/test_support.h"

namespace tovrik::test {
namespace {

constexpr const char* kDsn = "TovrikCliSuite";
constexpr const char* kSqlitePassword = "cli-Secret-4711";

// Every row of the four tables, by table and key, with its date-time columns in ISO form.
using Snapshot = std::map<std::string, std::string>;

struct Planned {
    std::int64_t Id = 0;
    std::string Date;
    std::string MovedDate;
    std::map<std::string, int> Rows;  // DriversTime, EventLog, OpData
};

// The text after `label` up to the next double blank (or the line end).
std::string Field(const std::string& line, const std::string& label) {
    const auto at = line.find("  " + label + " ");
    if (at == std::string::npos) return "";
    const auto begin = at + label.size() + 3;
    return line.substr(begin, line.find("  ", begin) - begin);
}

// The operations of a dry run's listing.
std::vector<Planned> ParseDryRun(const std::string& out) {
    std::vector<Planned> planned;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("ID ", 0) != 0) continue;
        Planned operation;
        operation.Id = std::stoll(line.substr(3));
        const std::string dates = Field(line, "Date");
        const auto arrow = dates.find(" → ");
        operation.Date = dates.substr(0, arrow);
        operation.MovedDate = arrow == std::string::npos ? "" : dates.substr(arrow + 5);
        for (const char* table : {"DriversTime", "EventLog", "OpData"}) {
            operation.Rows[table] = std::stoi(Field(line, table));
        }
        planned.push_back(operation);
    }
    return planned;
}

// Per operation and table, how many rows differ between two snapshots.
std::map<std::int64_t, std::map<std::string, int>> Changes(const Snapshot& before,
                                                           const Snapshot& after) {
    std::map<std::int64_t, std::map<std::string, int>> changes;
    for (const auto& [key, values] : before) {
        if (after.at(key) == values) continue;
        std::istringstream parts(key);
        std::string table;
        std::int64_t id = 0;
        parts >> table >> id;
        ++changes[id][table];
    }
    return changes;
}

std::vector<std::int64_t> Ids(const std::vector<Planned>& planned) {
    std::vector<std::int64_t> ids;
    for (const auto& operation : planned) ids.push_back(operation.Id);
    return ids;
}

// True for "yyyy/MM/dd H:mm:ss".
bool IsShownDateTime(const std::string& text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, length = 0;
    return std::sscanf(text.c_str(), "%4d/%2d/%2d %2d:%2d:%2d%n", &year, &month, &day, &hour,
                       &minute, &second, &length) == 6 &&
           static_cast<std::size_t>(length) == text.size() && text[4] == '/' && text[7] == '/';
}

// The count of the three-line report, or -1 when the output is not exactly that report.
int ReportedCount(const std::string& out) {
    std::istringstream in(out);
    std::string count, start, end, rest;
    const std::string finished = "件の修正が終了しました";
    if (!std::getline(in, count) || !std::getline(in, start) || !std::getline(in, end) ||
        std::getline(in, rest) || out.back() != '\n') {
        return -1;
    }
    if (count.size() <= finished.size() ||
        count.compare(count.size() - finished.size(), finished.size(), finished) != 0 ||
        start.rfind("開始：", 0) != 0 || end.rfind("終了：", 0) != 0 ||
        !IsShownDateTime(start.substr(std::string("開始：").size())) ||
        !IsShownDateTime(end.substr(std::string("終了：").size()))) {
        return -1;
    }
    count.resize(count.size() - finished.size());
    return count.find_first_not_of("0123456789") == std::string::npos ? std::stoi(count) : -1;
}

class CliDatabase : public testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        db_ = MakeSuiteDb(GetParam());
        connection_ = db_->Connect();
        sampledata::CreateSuiteSchema(*connection_);
        if (GetParam() == Backend::Sqlite) {
            auto* sqlite = static_cast<SqliteSuiteDb*>(db_.get());
            dsnKeys_ = {{"Driver", "SQLite3"}, {"Database", DriverPath(sqlite->File())}};
            user_ = "cliuser";
            password_ = kSqlitePassword;
        } else {
            auto* pg = static_cast<PgSuiteDb*>(db_.get());
            const PgServer& server = PgServerInfo();
            dsnKeys_ = {{"Driver", "PostgreSQL Unicode"},
                        {"Servername", server.Host},
                        {"Port", std::to_string(server.Port)},
                        {"Database", pg->Name()}};
            user_ = server.User;
            password_ = server.Password;
        }
        sandbox_.AddDataSource(kDsn, dsnKeys_);
        sandbox_.WriteLoginSettings(kDsn, user_, password_);
    }

    // The same database under another data source name.
    void UseOtherDataSource(bool other) {
        sandbox_.AddDataSource("TovrikCliElsewhere", dsnKeys_);
        sandbox_.WriteLoginSettings(other ? "TovrikCliElsewhere" : kDsn, user_, password_);
    }

    // Runs tovrik-cli; no output may ever show the password.
    CliResult Run(const std::vector<std::string>& arguments) {
        CliResult result = sandbox_.Run(arguments);
        for (const auto* text : {&result.Out, &result.Err}) {
            EXPECT_EQ(text->find(password_), std::string::npos) << *text;
            EXPECT_EQ(text->find("PWD="), std::string::npos) << *text;
        }
        return result;
    }

    sampledata::SampleData Fill(const sampledata::SampleSpec& spec) {
        return sampledata::FillSampleData(*connection_, spec);
    }

    Snapshot Take() {
        Snapshot snapshot;
        Read(snapshot, "General", "ID", "", {"InputDate", "Date", "StartTime", "EndTime"});
        Read(snapshot, "DriversTime", "GeneralID", "DriverID", {"StartTime", "EndTime", "Date"});
        Read(snapshot, "EventLog", "GeneralID", "SeqNo", {"Date"});
        Read(snapshot, "OpData", "GeneralID", "Page", {"RecDate", "RecStart", "RecEnd"});
        return snapshot;
    }

    // Every operation changed since `before` has all its rows moved and lies before
    // `firstUntouched`; returns how many were moved.
    int ExpectWholeOperations(const Snapshot& before, const sampledata::SampleSpec& spec,
                              std::int64_t firstUntouched) {
        const int rowsPerOperation =
            1 + spec.DriversPerOperation + spec.EventsPerOperation + spec.OpDataPerOperation;
        int moved = 0;
        for (const auto& [id, tables] : Changes(before, Take())) {
            int rows = 0;
            for (const auto& [table, count] : tables) rows += count;
            EXPECT_LT(id, firstUntouched) << "ID " << id << " should be untouched";
            EXPECT_EQ(rows, rowsPerOperation) << "ID " << id << " is half moved";
            ++moved;
        }
        return moved;
    }

    // A rerun moves the `left` operations still to do, and then all `all` are moved.
    void ExpectRerunFinishes(const Snapshot& before, int left, std::size_t all) {
        const CliResult rerun = Run({"--from", "2019/04", "--to", "2019/04"});
        ASSERT_EQ(rerun.Status, 0) << rerun.Err;
        EXPECT_EQ(ReportedCount(rerun.Out), left) << rerun.Out;
        EXPECT_EQ(Changes(before, Take()).size(), all);
    }

#ifndef _WIN32  // Ctrl+C: see below
    // Operations with many rows each, so that a run takes a while.
    static sampledata::SampleSpec LongRun(int operations) {
        sampledata::SampleSpec spec;
        spec.Affected = operations;
        spec.Unaffected = 0;
        spec.EventsPerOperation = 40;
        return spec;
    }

    // Starts a run, presses Ctrl+C once it has begun and `settle` has passed, and expects status
    // 130, the message, and every operation fully moved or untouched; returns how many moved.
    int InterruptRun(const sampledata::SampleSpec& spec, const Snapshot& before,
                     std::chrono::milliseconds settle) {
        CliProcess process = sandbox_.Start({"--from", "2019/04", "--to", "2019/04"});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (process.ErrSoFar().find("件数確認中") == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        std::this_thread::sleep_for(settle);
        const auto interrupted = std::chrono::steady_clock::now();
        process.Signal(SIGINT);
        const CliResult stopped = process.Wait();
        EXPECT_LT(std::chrono::steady_clock::now() - interrupted, std::chrono::seconds(10));
        EXPECT_EQ(stopped.Status, 130) << stopped.Err;
        EXPECT_EQ(stopped.Out, "");
        EXPECT_NE(stopped.Err.find("中断しました"), std::string::npos) << stopped.Err;
        return ExpectWholeOperations(before, spec, std::numeric_limits<std::int64_t>::max());
    }
#endif

    // The journal a run named on standard error.
    static std::string JournalNamed(const std::string& err) {
        const std::string label = "作業記録 ";
        const auto at = err.rfind(label);
        if (at == std::string::npos) return "";
        return err.substr(at + label.size(), err.find('\n', at) - at - label.size());
    }

#ifdef _WIN32
    // This database as a system data source that only the 32-bit side of the registry has,
    // named in the settings (its value "Driver", a DLL path in a real registration, is left out
    // of the connection either way).
    void RegisterOn32BitSideOnly(const std::string& name) {
        Register32BitSystemDsn(name, dsnKeys_.at("Driver"), {dsnKeys_.begin(), dsnKeys_.end()});
        sandbox_.WriteLoginSettings(name, user_, password_);
    }
    const std::string& DriverName() const { return dsnKeys_.at("Driver"); }
#endif

    db::Connection& Conn() { return *connection_; }
    CliSandbox& Sandbox() { return sandbox_; }
    std::string PgDatabase() const { return static_cast<PgSuiteDb*>(db_.get())->Name(); }

private:
    void Read(Snapshot& snapshot, const std::string& table, const std::string& id,
              const std::string& second, const std::vector<std::string>& columns) {
        std::string sql = "SELECT " + id + (second.empty() ? "" : "," + second);
        for (const auto& column : columns) sql += "," + column;
        db::Statement statement = connection_->Prepare(sql + " FROM " + table);
        statement.Execute();
        while (statement.Fetch()) {
            std::string key = table + " " + std::to_string(*statement.GetInt(id));
            if (!second.empty()) key += " " + std::to_string(*statement.GetInt(second));
            std::string values;
            for (const auto& column : columns) {
                const auto value = statement.GetDateTime(column);
                values += (value ? FormatIso(*value) : "NULL") + ";";
            }
            snapshot[key] = values;
        }
    }

    std::unique_ptr<SuiteDb> db_;
    std::unique_ptr<db::Connection> connection_;
    CliSandbox sandbox_;
    std::map<std::string, std::string> dsnKeys_;
    std::string user_;
    std::string password_;
};

TEST_P(CliDatabase, DryRunListsExactlyWhatTheRunThenMoves) {
    sampledata::SampleSpec spec;
    spec.Affected = 5;
    spec.Unaffected = 3;
    spec.AffectedOtherMonth = 2;
    const auto data = Fill(spec);
    // Different row counts per operation, one operation without any dependent rows.
    const auto first = std::to_string(data.AffectedIds[0]);
    const auto second = std::to_string(data.AffectedIds[1]);
    Conn().Execute("DELETE FROM EventLog WHERE GeneralID=" + first + " AND SeqNo>3");
    Conn().Execute("DELETE FROM DriversTime WHERE GeneralID=" + second);
    Conn().Execute("DELETE FROM EventLog WHERE GeneralID=" + second);
    Conn().Execute("DELETE FROM OpData WHERE GeneralID=" + second);
    const Snapshot before = Take();

    const CliResult dry = Run({"--from", "2019/04", "--to", "2019/04", "--dry-run"});
    ASSERT_EQ(dry.Status, 0) << dry.Err;
    const auto planned = ParseDryRun(dry.Out);
    EXPECT_EQ(Ids(planned), data.AffectedIds) << dry.Out;
    std::int64_t rows = 0;
    for (const auto& operation : planned) {
        rows += 1 + operation.Rows.at("DriversTime") + operation.Rows.at("EventLog") +
                operation.Rows.at("OpData");
    }
    EXPECT_NE(dry.Out.find("修正対象: 5件, " + std::to_string(rows) + "行"), std::string::npos)
        << dry.Out;
    EXPECT_EQ(Take(), before) << "the dry run changed the database";

    const CliResult run = Run({"--from", "2019/04", "--to", "2019/04"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(ReportedCount(run.Out), 5) << run.Out;
    EXPECT_NE(run.Err.find("件数確認中"), std::string::npos) << run.Err;

    const Snapshot after = Take();
    const auto changes = Changes(before, after);
    ASSERT_EQ(changes.size(), planned.size());
    for (const auto& operation : planned) {
        SCOPED_TRACE("ID " + std::to_string(operation.Id));
        ASSERT_EQ(changes.count(operation.Id), 1u);
        const auto& changed = changes.at(operation.Id);
        EXPECT_EQ(changed.count("General") ? changed.at("General") : 0, 1);
        for (const char* table : {"DriversTime", "EventLog", "OpData"}) {
            EXPECT_EQ(changed.count(table) ? changed.at(table) : 0, operation.Rows.at(table))
                << table;
        }
        // The listed "after" is the Date the run wrote.
        const std::string general = after.at("General " + std::to_string(operation.Id));
        const std::string date = general.substr(general.find(';') + 1, 10);
        std::string listed = operation.MovedDate.substr(0, 10);
        std::replace(listed.begin(), listed.end(), '/', '-');
        EXPECT_EQ(date, listed);
    }
}

TEST_P(CliDatabase, MonthsComeInEitherOrder) {
    sampledata::SampleSpec spec;
    spec.Affected = 3;
    spec.Unaffected = 2;
    spec.AffectedOtherMonth = 2;  // read in during 2019/05
    const auto data = Fill(spec);

    const CliResult mayFirst = Run({"--from", "2019/05", "--to", "2019/04", "--dry-run"});
    const CliResult aprilFirst = Run({"--to", "2019/05", "--from", "2019/04", "--dry-run"});
    ASSERT_EQ(mayFirst.Status, 0) << mayFirst.Err;
    EXPECT_EQ(mayFirst.Out, aprilFirst.Out);
    EXPECT_EQ(ParseDryRun(mayFirst.Out).size(),
              data.AffectedIds.size() + data.OtherMonthIds.size());

    const CliResult run = Run({"--from", "2019/05", "--to", "2019/04"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(ReportedCount(run.Out), 5) << run.Out;
}

TEST_P(CliDatabase, NothingToCorrectIsACompletedRun) {
    sampledata::SampleSpec spec;
    spec.Affected = 2;
    Fill(spec);
    const Snapshot before = Take();
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"--from", "2018/01", "--to", "2018/12"},
             {"--from", "2018/01", "--to", "2018/12", "--dry-run"}}) {
        const CliResult result = Run(arguments);
        EXPECT_EQ(result.Status, 0) << result.Err;
        EXPECT_EQ(result.Out.rfind("修正が必要なデータはありません\n", 0), 0u) << result.Out;
    }
    EXPECT_EQ(Take(), before);

    // A second run over the same month finds nothing left to move.
    ASSERT_EQ(Run({"--from", "2019/04", "--to", "2019/04"}).Status, 0);
    const CliResult again = Run({"--from", "2019/04", "--to", "2019/04"});
    EXPECT_EQ(again.Status, 0) << again.Err;
    EXPECT_EQ(again.Out, "修正が必要なデータはありません\n");
}

TEST_P(CliDatabase, AFailedConnectionIsAStartUpFailureWithTheDriversText) {
    const bool postgres = GetParam() == Backend::Postgres;
    if (postgres) {
        // The right user with a wrong password that must not be shown either.
        Sandbox().WriteLoginSettings(kDsn, PgServerInfo().User, "wrong-Secret-0815");
    } else {
        Sandbox().AddDataSource(
            "TovrikCliMissingFolder",
            {{"Driver", "SQLite3"},
             {"Database", DriverPath(Sandbox().Dir().Path() / "no" / "such" / "folder" / "x.db")}});
        Sandbox().WriteLoginSettings("TovrikCliMissingFolder", "cliuser", kSqlitePassword);
    }
    const CliResult result = Run({"--from", "2019/04", "--to", "2019/04"});
    EXPECT_EQ(result.Status, 2);
    EXPECT_EQ(result.Out, "");
    EXPECT_NE(result.Err.find("DB接続エラー: データベースに接続できません\n"), std::string::npos)
        << result.Err;
    // The driver's own text comes first, in its own box.
    const std::string driverText =
        postgres ? "password authentication failed" : "[SQLite]connect failed";
    EXPECT_NE(result.Err.find(driverText), std::string::npos) << result.Err;
    EXPECT_EQ(result.Err.find("wrong-Secret-0815"), std::string::npos) << result.Err;
}

#ifdef _WIN32
// The 64-bit tovrik-cli and a data source of the suite's 32-bit installer: reached through its
// registration for a scan, a run and an undo, each saying so; the journal keeps the name.
TEST_P(CliDatabase, ADataSourceOnlyThe32BitSideHasServesAScanARunAndAnUndo) {
    const std::string name = UniqueName("TovrikCli32_");
    RegisterOn32BitSideOnly(name);
    sampledata::SampleSpec spec;
    spec.Affected = 3;
    spec.Unaffected = 2;
    Fill(spec);
    const Snapshot before = Take();
    const std::string note = "tovrik-cli: 32 ビット側のデータソース " + name +
                             " の設定で接続しました (ドライバー " + DriverName() + ")\n";

    const CliResult scan = Run({"--scan"});
    ASSERT_EQ(scan.Status, 0) << scan.Err;
    EXPECT_EQ(scan.Err.rfind(note, 0), 0u) << scan.Err;
    EXPECT_NE(scan.Out.find("合計: 1か月, 運行 3件"), std::string::npos) << scan.Out;

    const CliResult run = Run({"--from", "2019/04", "--to", "2019/04"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err.rfind(note, 0), 0u) << run.Err;
    EXPECT_EQ(ReportedCount(run.Out), 3) << run.Out;
    const std::string journal = JournalNamed(run.Err);
    EXPECT_NE(ReadFile(journal).find("\nDataSource\t" + name + "\t"), std::string::npos);

    const CliResult undo = Run({"--undo", journal});
    ASSERT_EQ(undo.Status, 0) << undo.Err;
    EXPECT_NE(undo.Out.find("元に戻した運行: 3件"), std::string::npos) << undo.Out;
    EXPECT_EQ(Take(), before);
}

TEST_P(CliDatabase, A32BitOnlyDriverEndsStartUpWithTheAdviceInTheBoxAndTheReasonLine) {
    const std::string name = UniqueName("TovrikCli32_");
    Register32BitSystemDsn(name, "Nuvral 32 ビット専用", {{"Server", "dbhost"}});
    Sandbox().WriteLoginSettings(name, "cliuser", kSqlitePassword);
    const std::string advice = "データソース " + name +
                               " は 32 ビット側にだけ登録されていて、そのドライバー Nuvral 32 "
                               "ビット専用 には 64 ビット版がありません。32 ビット版 (x86) の "
                               "Tovrik を使ってください\n";
    const CliResult result = Run({"--scan"});
    EXPECT_EQ(result.Status, 2);
    EXPECT_NE(result.Err.find("Data source name not found"), std::string::npos) << result.Err;
    // Once as the box's last line, once ending the reason line.
    EXPECT_NE(result.Err.find("\n" + advice), std::string::npos) << result.Err;
    EXPECT_NE(result.Err.find("の DSN): " + advice), std::string::npos) << result.Err;
}
#endif

TEST_P(CliDatabase, ARunStoppedPartWayLeavesEveryOperationWholeAndARerunFinishes) {
    sampledata::SampleSpec spec;
    spec.Affected = 6;
    spec.Unaffected = 2;
    const auto data = Fill(spec);
    const std::int64_t failing = data.AffectedIds[3];
    const std::string when = "OLD.GeneralID = " + std::to_string(failing);
    if (GetParam() == Backend::Postgres) {
        Conn().Execute(
            "CREATE FUNCTION cli_refuse() RETURNS trigger AS $$ BEGIN RAISE EXCEPTION "
            "'cli trigger refused the row'; END $$ LANGUAGE plpgsql");
        Conn().Execute("CREATE TRIGGER cli_refuse BEFORE UPDATE ON EventLog FOR EACH ROW WHEN (" +
                       when + " AND OLD.SeqNo = 5) EXECUTE FUNCTION cli_refuse()");
    } else {
        Conn().Execute("CREATE TRIGGER cli_refuse BEFORE UPDATE ON EventLog WHEN " + when +
                       " AND OLD.SeqNo = 5 BEGIN SELECT RAISE(ABORT, "
                       "'cli trigger refused the row'); END");
    }
    const Snapshot before = Take();

    const CliResult run = Run({"--from", "2019/04", "--to", "2019/04"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Out, "");
    EXPECT_NE(run.Err.find("Nuvral日付修正: 処理中にエラーが発生しました。\n"), std::string::npos)
        << run.Err;
    EXPECT_NE(run.Err.find("cli trigger refused the row"), std::string::npos) << run.Err;

    // Operations may share a transaction, so how many before the failing one were committed
    // is the run's choice; each one is whole either way, and none from the failing one on.
    const int moved = ExpectWholeOperations(before, spec, failing);

    Conn().Execute("DROP TRIGGER cli_refuse" +
                   std::string(GetParam() == Backend::Postgres ? " ON EventLog" : ""));
    ExpectRerunFinishes(before, spec.Affected - moved, data.AffectedIds.size());
}

// Linux only: a Windows console program gets Ctrl+C as a console event, which a test cannot send
// to a child without a console of its own.
#ifndef _WIN32
TEST_P(CliDatabase, CtrlCStopsBetweenOperationsWithStatus130AndNothingHalfDone) {
    const sampledata::SampleSpec spec = LongRun(600);
    const auto data = Fill(spec);
    const Snapshot before = Take();

    const int moved = InterruptRun(spec, before, std::chrono::milliseconds(0));
    EXPECT_LT(moved, spec.Affected);
    ExpectRerunFinishes(before, spec.Affected - moved, data.AffectedIds.size());
}
#endif

TEST_P(CliDatabase, ScanThenRunThenUndoTheJournalLeavesTheDatabaseAsItWas) {
    sampledata::SampleSpec spec;
    spec.Affected = 5;
    spec.Unaffected = 3;
    spec.AffectedOtherMonth = 2;
    Fill(spec);
    const Snapshot before = Take();

    const CliResult scan = Run({"--scan"});
    ASSERT_EQ(scan.Status, 0) << scan.Err;
    EXPECT_EQ(scan.Out.rfind("2019/04  運行 5  Date ", 0), 0u) << scan.Out;
    EXPECT_NE(scan.Out.find("\n2019/05  運行 2  Date "), std::string::npos) << scan.Out;
    EXPECT_NE(scan.Out.find("合計: 2か月, 運行 7件  DriversTime 14  EventLog 70  OpData 35\n"),
              std::string::npos)
        << scan.Out;

    const CliResult run = Run({"--from", "2019/04", "--to", "2019/05"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::string journal = JournalNamed(run.Err);
    EXPECT_EQ(journal.rfind(Sandbox().SettingsFolder() + kPathSeparator + "TovrikJournal", 0), 0u)
        << run.Err;
    EXPECT_EQ(Run({"--scan"}).Out, "2008/01/01 より前の運行はありません\n");
    const Snapshot corrected = Take();

    // A damaged copy, and the journal of another data source, change nothing.
    const std::string damaged = Sandbox().Dir().Str() + "/damaged.tsv";
    std::string text = ReadFile(journal);
    text[text.find("\nCOMMITTED") - 12] ^= 1;  // in the last operation's line
    WriteFile(damaged, text);
    const CliResult refused = Run({"--undo", damaged});
    EXPECT_EQ(refused.Status, 1);
    EXPECT_NE(refused.Err.find("行目: 検査値が合いません"), std::string::npos) << refused.Err;
    UseOtherDataSource(true);
    const CliResult elsewhere = Run({"--undo", journal});
    EXPECT_EQ(elsewhere.Status, 1);
    EXPECT_NE(elsewhere.Err.find("TovrikCliElsewhere"), std::string::npos) << elsewhere.Err;
    EXPECT_NE(elsewhere.Err.find("--other-data-source"), std::string::npos) << elsewhere.Err;
    EXPECT_EQ(Run({"--undo", journal, "--dry-run", "--other-data-source"}).Status, 0);
    UseOtherDataSource(false);
    EXPECT_EQ(Take(), corrected);

    const CliResult dry = Run({"--undo", journal, "--dry-run"});
    ASSERT_EQ(dry.Status, 0) << dry.Err;
    EXPECT_NE(dry.Out.find("戻す運行: 7件, 戻さない運行: 0件, 戻し済み: 0件\n"), std::string::npos)
        << dry.Out;
    EXPECT_EQ(Take(), corrected);

    const CliResult undo = Run({"--undo", journal});
    ASSERT_EQ(undo.Status, 0) << undo.Err;
    EXPECT_NE(undo.Out.find("元に戻した運行: 7件"), std::string::npos) << undo.Out;
    EXPECT_NE(JournalNamed(undo.Err), journal);  // its own journal
    EXPECT_EQ(Take(), before);

    const CliResult again = Run({"--undo", journal});
    EXPECT_EQ(again.Status, 0) << again.Err;
    EXPECT_NE(again.Out.find("すべて元に戻されています。何も変更していません。"), std::string::npos)
        << again.Out;
    EXPECT_EQ(Take(), before);
}

#ifndef _WIN32
// A run killed outright: the journal's committed lines are exactly the operations moved, its
// uncommitted ones untouched, and undoing it restores the database.
TEST_P(CliDatabase, AKilledRunsJournalListsExactlyWhatItCommitted) {
    sampledata::SampleSpec spec = LongRun(1500);
    Fill(spec);
    const Snapshot before = Take();
    const std::string folder = Sandbox().SettingsFolder() + "/TovrikJournal";
    CliProcess process = Sandbox().Start({"--from", "2019/04", "--to", "2019/04"});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::string journal;
    while (std::chrono::steady_clock::now() < deadline) {
        if (std::filesystem::exists(folder)) {
            for (const auto& entry : std::filesystem::directory_iterator(folder)) {
                journal = entry.path().string();
            }
        }
        // Killed once the first operations are on disk (committed or not).
        const std::string text = journal.empty() ? "" : ReadFile(journal);
        if (std::count(text.begin(), text.end(), '\n') > 9) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    process.Signal(SIGKILL);
    process.Wait();
    const Journal read = ReadJournal(journal);
    // Only on a machine too busy to kill it within the run's first second.
    if (!read.Outcome.empty()) GTEST_SKIP() << "the run ended before it was killed";
    // Every committed line moved; anything else moved is an unmarked line of the last chunk
    // (killed between its commit and its mark), which the undo then finds moved.
    const auto changes = Changes(before, Take());
    for (const JournalEntry& entry : read.Committed) EXPECT_EQ(changes.count(entry.Id), 1u);
    std::set<std::int64_t> listed;
    for (const JournalEntry& entry : read.Committed) listed.insert(entry.Id);
    for (const JournalEntry& entry : read.Uncommitted) listed.insert(entry.Id);
    for (const auto& [id, change] : changes) EXPECT_EQ(listed.count(id), 1u) << id;
    ExpectWholeOperations(before, spec, std::numeric_limits<std::int64_t>::max());

    const CliResult undo = Run({"--undo", journal});
    ASSERT_EQ(undo.Status, 0) << undo.Err;
    EXPECT_EQ(Take(), before);
}
#endif

#ifdef TOVRIK_CLI_POSTGRES
#ifndef _WIN32  // Ctrl+C as above; the delaying proxy is POSIX too
// A server 100 ms away: Ctrl+C cancels the statement in flight instead of waiting for the chunk.
TEST_P(CliDatabase, CtrlCAtADistanceCancelsTheStatementInFlight) {
    const sampledata::SampleSpec spec = LongRun(300);
    const auto data = Fill(spec);
    const Snapshot before = Take();
    const PgServer& server = PgServerInfo();
    delayproxy::DelayProxy proxy(server.Host, server.Port, std::chrono::milliseconds(100));
    Sandbox().AddDataSource("TovrikCliDistant", {{"Driver", "PostgreSQL Unicode"},
                                                 {"Servername", "127.0.0.1"},
                                                 {"Port", std::to_string(proxy.Port())},
                                                 {"Database", PgDatabase()}});
    Sandbox().WriteLoginSettings("TovrikCliDistant", server.User, server.Password);

    // 250 ms after the start the first chunk is on its way.
    const int moved = InterruptRun(spec, before, std::chrono::milliseconds(250));
    EXPECT_LT(moved, spec.Affected);
    Sandbox().WriteLoginSettings(kDsn, server.User, server.Password);
    ExpectRerunFinishes(before, spec.Affected - moved, data.AffectedIds.size());
}
#endif

INSTANTIATE_TEST_SUITE_P(Cli, CliDatabase, testing::Values(Backend::Postgres), BackendTestName);
#else
INSTANTIATE_TEST_SUITE_P(Cli, CliDatabase, testing::Values(Backend::Sqlite), BackendTestName);
#endif

}  // namespace
}  // namespace tovrik::test
