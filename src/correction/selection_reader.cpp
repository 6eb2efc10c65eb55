#include "correction/selection_reader.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace tovrik::correction {

namespace {

// IDs covered by one read; at most this many rows are held from one read.
constexpr std::int64_t kFirstSpan = 256;
constexpr std::int64_t kMaxSpan = 8192;

}  // namespace

std::string SelectionSizeQuery(const std::string& condition) {
    return "SELECT COUNT(*) AS N,MIN(ID) AS FirstId,MAX(ID) AS LastId FROM General " + condition;
}

std::string SelectionWindowQuery(const std::string& columns, const std::string& condition,
                                 std::int64_t after, std::int64_t upTo) {
    return "SELECT " + columns + " FROM General " + condition + "AND ID>" + std::to_string(after) +
           " AND ID<=" + std::to_string(upTo) + "  ORDER BY ID";
}

std::string NextSelectedIdQuery(const std::string& condition, std::int64_t after) {
    return "SELECT MIN(ID) AS NextId FROM General " + condition + "AND ID>" + std::to_string(after);
}

SelectionSize MeasureSelection(db::Connection& connection, const std::string& condition) {
    auto statement = connection.Query(SelectionSizeQuery(condition));
    statement.Execute();
    SelectionSize size;
    if (statement.Fetch()) {
        size.Count = statement.GetInt("N").value_or(0);
        size.FirstId = statement.GetInt("FirstId").value_or(0);
        size.LastId = statement.GetInt("LastId").value_or(0);
    }
    return size;
}

SelectionReader::SelectionReader(db::Connection& connection, std::string columns,
                                 std::string condition, const SelectionSize& size)
    : connection_(connection),
      columns_(std::move(columns)),
      condition_(std::move(condition)),
      after_(size.FirstId - 1),
      lastId_(size.Count > 0 ? size.LastId : size.FirstId - 1),
      idsPerRow_(size.Count > 0 ? std::max(1.0, static_cast<double>(size.LastId - size.FirstId + 1) /
                                                     static_cast<double>(size.Count))
                                : 1.0),
      span_(kFirstSpan) {}

void SelectionReader::Read(std::size_t wanted, const std::function<void(db::Statement&)>& row) {
    std::size_t passed = 0;
    while (passed < wanted && !Done()) {
        const std::size_t needed = wanted - passed;
        // Half as many IDs again as hold the rows wanted at the selection's average density:
        // evenly spread IDs then need one read, also where the window is thinner than the average.
        const double ids = std::ceil(static_cast<double>(needed) * idsPerRow_ * 1.5);
        span_ = std::clamp<std::int64_t>(
            static_cast<std::int64_t>(std::min(ids, static_cast<double>(kMaxSpan))), span_,
            kMaxSpan);
        const std::int64_t upTo = std::min(lastId_, after_ + span_);
        auto statement =
            connection_.Query(SelectionWindowQuery(columns_, condition_, after_, upTo));
        statement.Execute();
        std::size_t got = 0;
        while (statement.Fetch()) {
            row(statement);
            ++got;
        }
        after_ = upTo;
        passed += got;
        if (got == 0) {
            SkipGap();
        } else if (got < needed) {
            span_ = std::min(span_ * 2, kMaxSpan);
        }
    }
}

// Jumps over a stretch of IDs without selected operations.
void SelectionReader::SkipGap() {
    auto statement = connection_.Query(NextSelectedIdQuery(condition_, after_));
    statement.Execute();
    std::optional<std::int64_t> next;
    if (statement.Fetch()) next = statement.GetInt("NextId");
    after_ = next && *next <= lastId_ ? *next - 1 : lastId_;
}

}  // namespace tovrik::correction
