#pragma once

// Reads the selected operations in ID order, a bounded window of IDs at a time, so that no more
// than one window of rows is held however many operations are selected. Plain SQL that every
// server runs: no LIMIT or TOP.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "database/odbc.h"

namespace tovrik::correction {

struct SelectionSize {
    std::int64_t Count = 0;
    std::int64_t FirstId = 0;
    std::int64_t LastId = 0;
};

// The number and the ID range of the General rows matching `condition` (one statement).
SelectionSize MeasureSelection(db::Connection& connection, const std::string& condition);

// The statements of a selection: its size; the rows of `columns` with IDs in (after, upTo]; the
// first selected ID after `after`.
std::string SelectionSizeQuery(const std::string& condition);
std::string SelectionWindowQuery(const std::string& columns, const std::string& condition,
                                 std::int64_t after, std::int64_t upTo);
std::string NextSelectedIdQuery(const std::string& condition, std::int64_t after);

class SelectionReader {
public:
    // `columns` are read from the General rows that match `condition` (a WHERE clause).
    SelectionReader(db::Connection& connection, std::string columns, std::string condition,
                    const SelectionSize& size);

    bool Done() const { return after_ >= lastId_; }

    // Passes the rows of further windows to `row` until at least `wanted` rows were passed or
    // the selection is exhausted. A window covers as many IDs as hold `wanted` rows at the
    // selection's average density, and more while reads come back short, so the number of
    // statements stays small where IDs are sparse.
    void Read(std::size_t wanted, const std::function<void(db::Statement&)>& row);

private:
    void SkipGap();

    db::Connection& connection_;
    std::string columns_;
    std::string condition_;
    std::int64_t after_;
    std::int64_t lastId_;
    double idsPerRow_;  // IDs per selected operation over the whole selection
    std::int64_t span_;
};

}  // namespace tovrik::correction
