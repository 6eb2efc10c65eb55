#include "gui/month_edit.h"

#include <gtest/gtest.h>
#include <QTest>

namespace tovrik {
namespace {

struct StepCase {
    const char* Name;
    DateTime From;
    QDateTimeEdit::Section Section;
    int Steps;
    DateTime Expected;
};

class MonthStepping : public testing::TestWithParam<StepCase> {};

TEST_P(MonthStepping, MovesByWholeMonthsOrYearsKeepingDayAndTime) {
    const StepCase& c = GetParam();
    MonthEdit edit;
    edit.SetValue(c.From);
    edit.setCurrentSection(c.Section);
    edit.stepBy(c.Steps);
    EXPECT_EQ(edit.Value(), c.Expected);
    EXPECT_EQ(edit.currentSection(), c.Section);
}

constexpr auto kMonths = QDateTimeEdit::MonthSection;
constexpr auto kYears = QDateTimeEdit::YearSection;

INSTANTIATE_TEST_SUITE_P(
    Cases, MonthStepping,
    testing::Values(
        StepCase{"DecemberUp", {2019, 12, 10, 9, 5, 12, 0}, kMonths, 1, {2020, 1, 10, 9, 5, 12, 0}},
        StepCase{"JanuaryDown", {2020, 1, 1}, kMonths, -1, {2019, 12, 1}},
        StepCase{"TwelveMonthsUp", {2019, 4, 1}, kMonths, 12, {2020, 4, 1}},
        StepCase{"PageDownOverSeveralYears", {2019, 4, 1}, kMonths, -28, {2016, 12, 1}},
        StepCase{"MonthEnd", {2019, 1, 31, 23, 59, 59}, kMonths, 1, {2019, 2, 28, 23, 59, 59}},
        StepCase{"YearSection", {2019, 12, 15}, kYears, 1, {2020, 12, 15}},
        StepCase{"StopsAtTheLastMonth", {9999, 12, 1}, kMonths, 1, {9999, 12, 1}},
        StepCase{"StopsAtTheFirstMonth", {1601, 1, 1}, kMonths, -1, {1601, 1, 1}}),
    [](const testing::TestParamInfo<StepCase>& p) { return std::string(p.param.Name); });

TEST(MonthEdit, ArrowKeysCarryTheMonthIntoTheYear) {
    MonthEdit edit;
    edit.SetValue({2019, 12, 1, 0, 0, 0, 0});
    edit.setCurrentSection(QDateTimeEdit::MonthSection);
    QTest::keyClick(&edit, Qt::Key_Up);
    EXPECT_EQ(edit.text(), QStringLiteral("2020/01"));
    QTest::keyClick(&edit, Qt::Key_Down);
    QTest::keyClick(&edit, Qt::Key_Down);
    EXPECT_EQ(edit.text(), QStringLiteral("2019/11"));
}

TEST(MonthEdit, ShowsYearAndMonthOnlyAndKeepsTheFullValue) {
    MonthEdit edit;
    const DateTime now{2019, 4, 10, 9, 5, 12, 345'000'000};
    edit.SetValue(now);
    EXPECT_EQ(edit.text(), QStringLiteral("2019/04"));
    EXPECT_EQ(edit.Value(), now);
}

TEST(MonthEdit, ClampsValuesOutsideItsRange) {
    MonthEdit edit;
    edit.SetValue({1500, 6, 1, 0, 0, 0, 0});
    EXPECT_EQ(edit.Value(), (DateTime{1601, 1, 1, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace tovrik
