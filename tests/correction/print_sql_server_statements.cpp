// Prints every statement Tovrik sends to SQL Server, for a chunk of three operations, as the SQL
// Server driver hands it to the server (ODBC escapes expanded): one record per statement,
// "label<TAB>statement" ended by a NUL. tsql_parse_test.sh parses each with a T-SQL grammar.

#include <cstdint>
#include <exception>
#include <iostream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "correction/chunk_mover.h"
#include "correction/correction_run.h"
#include "correction/date_rules.h"
#include "correction/month_scan.h"
#include "correction/selection_reader.h"
#include "correction/sql_dialect.h"
#include "correction/suite_tables.h"
#include "correction/undo_run.h"

namespace {

using namespace tovrik;
using namespace tovrik::correction;

constexpr Dialect kServer = Dialect::SqlServer;

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

// The text the driver puts in place of one escape (its body without the braces): a literal for
// {ts}, {d} and {t}; the server's own function for {fn}. Refuses any escape it does not know.
std::string Translate(const std::string& body) {
    for (const char* kind : {"ts ", "d ", "t "}) {
        if (StartsWith(body, kind)) return body.substr(std::string(kind).size());
    }
    if (StartsWith(body, "fn YEAR(") || StartsWith(body, "fn MONTH(")) return body.substr(3);
    const std::string add = "fn TIMESTAMPADD(SQL_TSI_DAY,";
    if (StartsWith(body, add)) return "DATEADD(day," + body.substr(add.size());
    throw std::runtime_error("no T-SQL known for the ODBC escape {" + body + "}");
}

// The index of the '}' closing the escape opened at `open`, past quoted text and inner escapes.
std::size_t EscapeEnd(const std::string& sql, std::size_t open) {
    int depth = 0;
    bool quoted = false;
    for (std::size_t i = open; i < sql.size(); ++i) {
        if (sql[i] == '\'') {
            quoted = !quoted;  // a doubled quote toggles twice
        } else if (!quoted && sql[i] == '{') {
            ++depth;
        } else if (!quoted && sql[i] == '}' && --depth == 0) {
            return i;
        }
    }
    throw std::runtime_error("unclosed ODBC escape in: " + sql);
}

std::string Expand(const std::string& sql) {
    std::string out;
    bool quoted = false;
    for (std::size_t i = 0; i < sql.size(); ++i) {
        if (sql[i] == '\'') quoted = !quoted;
        if (quoted || sql[i] != '{') {
            out += sql[i];
            continue;
        }
        const std::size_t close = EscapeEnd(sql, i);
        out += Translate(Expand(sql.substr(i + 1, close - i - 1)));
        i = close;
    }
    return out;
}

// Prints each distinct statement once.
class Printer {
public:
    void operator()(const std::string& label, const std::string& sql) {
        const std::string expanded = Expand(sql);
        if (printed_.insert(expanded).second) std::cout << label << '\t' << expanded << '\0';
    }

private:
    std::set<std::string> printed_;
};

void PrintSelection(Printer& print, const std::string& condition, const std::string& label) {
    print(label + "-size", SelectionSizeQuery(condition));
    print(label + "-window", SelectionWindowQuery(SelectedColumns(kServer), condition, 2, 12));
    print(label + "-next", NextSelectedIdQuery(condition, 12));
}

// A chunk's statements in both ways SQL Server may be sent them, and the reads that describe a
// failed chunk, for a correction (`days` > 0) or an undo.
void PrintChunk(Printer& print, const std::vector<SelectedOperation>& chunk, int days,
                const std::string& label) {
    for (const MoveStatements way : {MoveStatements::Batch, MoveStatements::Separate}) {
        const ChunkStatements sql(kServer, way, days);
        const ChunkStatements::Moves moves = sql.Move(chunk);
        print(label + "-count", moves.CountRows);
        for (std::size_t i = 0; i < moves.Updates.size(); ++i) {
            const std::string name = way == MoveStatements::Batch ? "batch" : "update";
            print(label + "-" + name + std::to_string(i), moves.Updates[i]);
        }
        std::vector<std::int64_t> ids;
        for (const SelectedOperation& operation : chunk) ids.push_back(operation.Id);
        const std::string idList = IdList(ids);
        print(label + "-stored-dates", sql.StoredDates(idList));
        for (const MovedTable* table :
             {&kGeneral, &kDependents[0], &kDependents[1], &kDependents[2]}) {
            for (const char* column : table->Columns) {
                print(label + "-unmovable-" + table->Name + "." + column,
                      sql.UnmovableValues(*table, column, idList));
            }
        }
    }
}

void PrintAll() {
    Printer print;
    print("table-check", SuiteTablesQuery());
    print("table-columns-General", TableColumnsQuery(kGeneral.Name));
    for (const MovedTable& table : kDependents) {
        print(std::string("table-columns-") + table.Name, TableColumnsQuery(table.Name));
    }

    const DateTime april{2019, 4, 1};
    const DateTime may{2019, 5, 1};
    DateTime rangeEnd, rangeStart;
    GetInputMonthRange(april, may, rangeEnd, rangeStart);
    PrintSelection(print, SelectionCondition(kServer, rangeStart, rangeEnd), "selection");

    const std::vector<std::int64_t> ids{3, 7, 12};

    std::vector<SelectedOperation> chunk;
    std::vector<SelectedOperation> undoChunk;
    for (const std::int64_t id : ids) {
        const DateTime date{1999, 8, 16, 8, 37, 1, 500'000'000};
        chunk.push_back({id, FormatIso(date), "2019-04-02 00:00:00"});
        const DateTime moved = CorrectRolloverDate(date);
        undoChunk.push_back({id, FormatIso(moved), "2019-04-02 00:00:00"});
    }
    PrintChunk(print, chunk, kRolloverDays, "correction");
    PrintChunk(print, undoChunk, -kRolloverDays, "undo");

    print("scan", ScanQuery(kServer));
    print("scan-months", ScanQuery(kServer, april, may));
    print("undo-inspect", UndoInspectQuery(kServer, ids));
}

}  // namespace

int main() {
    try {
        PrintAll();
    } catch (const std::exception& error) {
        std::cerr << "print-sql-server-statements: " << error.what() << '\n';
        return 1;
    }
    return std::cout.flush() ? 0 : 1;
}
