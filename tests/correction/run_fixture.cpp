#include "correction/run_fixture.h"

#include <charconv>
#include <stdexcept>

#include "correction/background_run.h"

namespace tovrik::test {

namespace {

struct TableShape {
    const char* Name;
    const char* Key;     // the operation
    const char* SubKey;  // the row within the operation, or nullptr
    std::vector<const char*> Columns;
};

const TableShape kShapes[] = {
    {"General", "ID", nullptr, {"InputDate", "Date", "StartTime", "EndTime"}},
    {"DriversTime", "GeneralID", "DriverID", {"StartTime", "EndTime", "Date"}},
    {"EventLog", "GeneralID", "SeqNo", {"Date"}},
    {"OpData", "GeneralID", "Page", {"RecDate", "RecStart", "RecEnd"}},
};

bool Number(const std::string& text, std::size_t pos, std::size_t digits, int& value) {
    if (pos + digits > text.size()) return false;
    const char* first = text.data() + pos;
    const auto result = std::from_chars(first, first + digits, value);
    return result.ec == std::errc() && result.ptr == first + digits;
}

}  // namespace

std::optional<DateTime> ParseDateTimeText(const std::string& text) {
    DateTime value;
    if (!Number(text, 0, 4, value.Year) || text.size() < 10 || text[4] != '-' ||
        !Number(text, 5, 2, value.Month) || text[7] != '-' || !Number(text, 8, 2, value.Day)) {
        return std::nullopt;
    }
    if (text.size() > 10) {
        if ((text[10] != ' ' && text[10] != 'T') || !Number(text, 11, 2, value.Hour) ||
            text.size() < 16 || text[13] != ':' || !Number(text, 14, 2, value.Minute)) {
            return std::nullopt;
        }
        if (text.size() > 16 && (text[16] != ':' || !Number(text, 17, 2, value.Second))) {
            return std::nullopt;
        }
        if (text.size() > 19) {
            if (text[19] != '.' || text.size() == 20) return std::nullopt;
            std::uint32_t scale = 100'000'000;
            for (std::size_t i = 20; i < text.size(); ++i, scale /= 10) {
                if (text[i] < '0' || text[i] > '9') return std::nullopt;
                value.Fraction += static_cast<std::uint32_t>(text[i] - '0') * scale;
            }
        }
    }
    if (!IsValid(value)) return std::nullopt;
    return value;
}

Snapshot TakeSnapshot(db::Connection& connection) {
    const bool sqlite = connection.DbmsName() == "SQLite";
    Snapshot snapshot;
    for (const auto& shape : kShapes) {
        TableSnapshot& table = snapshot[shape.Name];
        std::string sql = std::string("SELECT ") + shape.Key + " AS K," +
                          (shape.SubKey ? shape.SubKey : "0") + " AS S";
        for (const char* column : shape.Columns) {
            table.Columns.push_back(column);
            sql += std::string(",") +
                   (sqlite ? "CAST(" + std::string(column) + " AS TEXT)" : column) + " AS " +
                   column;
        }
        auto statement = connection.Prepare(sql + " FROM " + shape.Name);
        statement.Execute();
        while (statement.Fetch()) {
            auto& row = table.Rows[{*statement.GetInt("K"), *statement.GetInt("S")}];
            for (const char* column : shape.Columns) row.push_back(statement.GetText(column));
        }
    }
    return snapshot;
}

void PrintTo(OperationState state, std::ostream* out) {
    *out << (state == OperationState::Untouched ? "untouched"
             : state == OperationState::Moved   ? "moved"
                                                : "half moved");
}

OperationState StateOf(const Snapshot& before, const Snapshot& after, std::int64_t id) {
    bool allSame = true, allMoved = true;
    for (const auto& [tableName, table] : before) {
        const TableSnapshot& now = after.at(tableName);
        for (const auto& [key, values] : table.Rows) {
            if (key.first != id) continue;
            const auto found = now.Rows.find(key);
            if (found == now.Rows.end()) return OperationState::HalfMoved;  // a row went missing
            for (std::size_t c = 0; c < values.size(); ++c) {
                const auto& old = values[c];
                const auto& current = found->second[c];
                if (old != current) allSame = false;
                if (tableName == "General" && table.Columns[c] == "InputDate") {
                    if (old != current) allMoved = false;
                    continue;
                }
                if (!old || !current) {
                    if (old || current) allMoved = false;
                    continue;
                }
                const auto oldValue = ParseDateTimeText(*old);
                const auto newValue = ParseDateTimeText(*current);
                try {
                    if (!oldValue || !newValue || CorrectRolloverDate(*oldValue) != *newValue) {
                        allMoved = false;
                    }
                } catch (const std::out_of_range&) {
                    allMoved = false;
                }
            }
        }
    }
    if (allSame) return OperationState::Untouched;
    return allMoved ? OperationState::Moved : OperationState::HalfMoved;
}

std::vector<std::int64_t> OperationIds(const Snapshot& snapshot) {
    std::vector<std::int64_t> ids;
    for (const auto& [key, values] : snapshot.at("General").Rows) ids.push_back(key.first);
    return ids;
}

sampledata::SampleData MakeSuite(db::Connection& connection, int affected, int unaffected,
                                 int otherMonth, int drivers, int events, int opData) {
    sampledata::CreateSuiteSchema(connection);
    sampledata::SampleSpec spec;
    spec.Affected = affected;
    spec.Unaffected = unaffected;
    spec.AffectedOtherMonth = otherMonth;
    spec.DriversPerOperation = drivers;
    spec.EventsPerOperation = events;
    spec.OpDataPerOperation = opData;
    return sampledata::FillSampleData(connection, spec);
}

void RunApril(db::Connection& connection, RunRecord& record, const RunPacing& pacing) {
    TwoTimesClock clock({2019, 4, 10, 9, 5, 12, 0}, {2019, 4, 10, 9, 6, 3, 0});
    record.Result =
        RunCorrection(connection, record.Events, clock, kApril2019, kPickerEnd, pacing);
}

void RunAprilInBackground(db::Connection& connection, RunRecord& record,
                          const RunPacing& pacing) {
    TwoTimesClock clock({2019, 4, 10, 9, 5, 12, 0}, {2019, 4, 10, 9, 6, 3, 0});
    RunInBackground(connection, record.Events, [&](RunEvents& events) {
        record.Result =
            RunCorrection(connection, events, clock, kApril2019, kPickerEnd, pacing);
    });
}

void RefuseEventLogUpdate(db::Connection& connection, Backend backend, std::int64_t generalId) {
    const std::string id = std::to_string(generalId);
    if (backend == Backend::Sqlite) {
        connection.Execute(
            "CREATE TRIGGER RefuseEventLog BEFORE UPDATE ON EventLog WHEN "
            "old.GeneralID=" +
            id +
            " AND old.SeqNo=2 BEGIN "
            "SELECT RAISE(ABORT,'event log row refused'); END");
        return;
    }
    connection.Execute(
        "CREATE FUNCTION refuse_event_log() RETURNS trigger LANGUAGE plpgsql AS $$ "
        "BEGIN IF old.GeneralID=" +
        id +
        " AND old.SeqNo=2 THEN "
        "RAISE EXCEPTION 'event log row refused'; END IF; RETURN new; END $$");
    connection.Execute(
        "CREATE TRIGGER RefuseEventLog BEFORE UPDATE ON EventLog FOR EACH ROW "
        "EXECUTE FUNCTION refuse_event_log()");
}

void AllowEventLogUpdates(db::Connection& connection, Backend backend) {
    connection.Execute(backend == Backend::Sqlite ? "DROP TRIGGER RefuseEventLog"
                                                  : "DROP TRIGGER RefuseEventLog ON EventLog");
}

}  // namespace tovrik::test
