#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>

#include "correction/date_rules.h"

namespace tovrik {
namespace {

struct ShiftCase {
    const char* name;
    DateTime value;
    DateTime expected;
};
void PrintTo(const ShiftCase& c, std::ostream* out) { *out << c.name; }

class RolloverShift : public testing::TestWithParam<ShiftCase> {};

TEST_P(RolloverShift, MovesBy1024WeeksKeepingTheTimeOfDay) {
    EXPECT_EQ(CorrectRolloverDate(GetParam().value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Dates, RolloverShift,
    testing::Values(
        ShiftCase{"RolloverDay", {1999, 8, 22, 13, 45, 0, 0}, {2019, 4, 7, 13, 45, 0, 0}},
        ShiftCase{"Midnight", {1999, 8, 16, 0, 0, 0, 0}, {2019, 4, 1, 0, 0, 0, 0}},
        ShiftCase{"LastSecondOfADay", {1999, 8, 16, 23, 59, 59, 0}, {2019, 4, 1, 23, 59, 59, 0}},
        ShiftCase{"FractionKept",
                  {1999, 8, 16, 7, 8, 9, 123'456'789},
                  {2019, 4, 1, 7, 8, 9, 123'456'789}},
        ShiftCase{"AcrossLeapDay", {2000, 2, 29, 12, 0, 0, 0}, {2019, 10, 15, 12, 0, 0, 0}},
        ShiftCase{"AlreadyAfter2008", {2019, 4, 1, 6, 30, 0, 0}, {2038, 11, 15, 6, 30, 0, 0}},
        ShiftCase{"LastRepresentable",
                  {9980, 5, 16, 23, 59, 59, 999'999'999},
                  {9999, 12, 31, 23, 59, 59, 999'999'999}}),
    [](const testing::TestParamInfo<ShiftCase>& p) { return p.param.name; });

TEST(RolloverShift, ResultAfterTheYear9999IsAnError) {
    EXPECT_THROW(CorrectRolloverDate({9980, 5, 17, 0, 0, 0, 0}), std::out_of_range);
}

struct MonthRangeCase {
    const char* name;
    DateTime inputDate;
    DateTime inputEnd;
    DateTime rangeStart;
    DateTime rangeEnd;
};
void PrintTo(const MonthRangeCase& c, std::ostream* out) { *out << c.name; }

class InputMonthRange : public testing::TestWithParam<MonthRangeCase> {};

TEST_P(InputMonthRange, RunsFromTheEarlierMonthToTheMonthAfterTheLater) {
    const MonthRangeCase& c = GetParam();
    DateTime rangeEnd{1, 1, 1}, rangeStart{1, 1, 1};
    GetInputMonthRange(c.inputDate, c.inputEnd, rangeEnd, rangeStart);
    EXPECT_EQ(rangeStart, c.rangeStart);
    EXPECT_EQ(rangeEnd, c.rangeEnd);
}

INSTANTIATE_TEST_SUITE_P(
    Pickers, InputMonthRange,
    testing::Values(
        MonthRangeCase{"OneMonthDayAndTimeIgnored",
                       {2019, 4, 10, 9, 5, 12, 0},
                       {2019, 4, 1, 0, 0, 0, 0},
                       {2019, 4, 1},
                       {2019, 5, 1}},
        MonthRangeCase{
            "EarlierFirst", {2019, 2, 28, 23, 0, 0, 0}, {2019, 4, 1}, {2019, 2, 1}, {2019, 5, 1}},
        MonthRangeCase{
            "LaterFirst", {2019, 4, 1}, {2019, 2, 28, 23, 0, 0, 0}, {2019, 2, 1}, {2019, 5, 1}},
        MonthRangeCase{"DecemberRollsIntoJanuary",
                       {2019, 12, 31, 23, 59, 59, 0},
                       {2019, 12, 1},
                       {2019, 12, 1},
                       {2020, 1, 1}},
        MonthRangeCase{
            "AcrossTheYear", {2020, 1, 15}, {2019, 11, 20}, {2019, 11, 1}, {2020, 2, 1}}),
    [](const testing::TestParamInfo<MonthRangeCase>& p) { return p.param.name; });

}  // namespace
}  // namespace tovrik
