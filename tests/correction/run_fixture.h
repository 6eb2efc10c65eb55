#pragma once

// What the correction-run tests share: a recording front end, a settable clock, and snapshots of
// the four tables that tell, per operation, whether it was moved, untouched or half moved.

#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "correction/correction_run.h"
#include "correction/date_rules.h"
#include "sampledata/sample_data.h"
#include "support/test_support.h"

namespace tovrik::test {

// Records every event of a run, in order: "counting", "selected:N", "committed:i/N", "events".
class RecordingEvents : public RunEvents {
public:
    void Counting() override { Calls.push_back("counting"); }
    void Selected(int total) override {
        Maximum = total;
        Calls.push_back("selected:" + std::to_string(total));
    }
    void Committed(int done, int total) override {
        Done = done;
        Maximum = total;
        Calls.push_back("committed:" + std::to_string(done) + "/" + std::to_string(total));
    }
    bool GoOn() override {
        ++EventRounds;
        Calls.push_back("events");
        return OnEvents ? OnEvents(EventRounds) : true;
    }

    // The calls other than "events".
    std::vector<std::string> Changes() const {
        std::vector<std::string> changes;
        for (const std::string& call : Calls) {
            if (call != "events") changes.push_back(call);
        }
        return changes;
    }

    std::vector<std::string> Calls;
    int Maximum = 0;
    int Done = 0;
    int EventRounds = 0;
    // Called at every event round (1, 2, ...); what it returns is what GoOn returns.
    std::function<bool(int round)> OnEvents;
};

// "Now" is the start time at the first call and the end time at every later one.
class TwoTimesClock : public Clock {
public:
    TwoTimesClock(DateTime start, DateTime end) : start_(start), end_(end) {}
    DateTime Now() const override { return calls_++ == 0 ? start_ : end_; }

private:
    DateTime start_, end_;
    mutable int calls_ = 0;
};

// A date-time read back from text in the forms "yyyy-mm-dd[( |T)hh:mm[:ss[.f...]]]".
std::optional<DateTime> ParseDateTimeText(const std::string& text);

// Every date-time column of the four tables as stored: SQLite's own text, or the ISO text of the
// driver's value. Keys are (operation ID, row key within the operation; 0 for General).
struct TableSnapshot {
    std::vector<std::string> Columns;
    std::map<std::pair<std::int64_t, std::int64_t>, std::vector<std::optional<std::string>>> Rows;
    bool operator==(const TableSnapshot&) const = default;
};
using Snapshot = std::map<std::string, TableSnapshot>;
Snapshot TakeSnapshot(db::Connection& connection);

enum class OperationState { Untouched, Moved, HalfMoved };
void PrintTo(OperationState state, std::ostream* out);

// Whether every date-time of the operation (its General row and all its dependent rows) is
// exactly as before, or exactly CorrectRolloverDate of what it was (NULL staying NULL; InputDate
// never moves), or neither.
OperationState StateOf(const Snapshot& before, const Snapshot& after, std::int64_t id);

// The operation IDs present in a snapshot's General table.
std::vector<std::int64_t> OperationIds(const Snapshot& snapshot);

// 2019/04 on both pickers, as in the suite's typical request.
inline const DateTime kApril2019{2019, 4, 10, 9, 5, 12, 0};
inline const DateTime kPickerEnd{2019, 4, 1, 0, 0, 0, 0};

// The suite schema and sample operations in 2019/04.
sampledata::SampleData MakeSuite(db::Connection& connection, int affected, int unaffected,
                                 int otherMonth, int drivers = 2, int events = 4, int opData = 2);

// Runs one correction over 2019/04, recording its events.
struct RunRecord {
    RunResult Result;
    RecordingEvents Events;
};
void RunApril(db::Connection& connection, RunRecord& record, const RunPacing& pacing = {});
// The same on a worker thread, with the events on the calling thread (as the front ends run it).
void RunAprilInBackground(db::Connection& connection, RunRecord& record,
                          const RunPacing& pacing = {});

// Chunks of 8 operations, so that other connections can write between them.
inline RunPacing ChunksOfEight() {
    RunPacing pacing;
    pacing.FirstChunk = pacing.MaxChunk = 8;
    return pacing;
}

// A statement that fails (inside the statement that changes the row) when the EventLog row of
// the operation with SeqNo 2 is updated.
void RefuseEventLogUpdate(db::Connection& connection, Backend backend, std::int64_t generalId);
void AllowEventLogUpdates(db::Connection& connection, Backend backend);

}  // namespace tovrik::test
