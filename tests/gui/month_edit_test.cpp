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

INSTANTIATE_TEST_SUITE_P(Cases, MonthStepping,
                         testing::Values(StepCase{"DecemberUpIsJanuaryNextYear",
                                                  {2019, 12, 10, 9, 5, 12, 0},
                                                  QDateTimeEdit::MonthSection,
                                                  1,
                                                  {2020, 1, 10, 9, 5, 12, 0}},
                                         StepCase{"JanuaryDownIsDecemberYearBefore",
                                                  {2020, 1, 1, 0, 0, 0, 0},
                                                  QDateTimeEdit::MonthSection,
                                                  -1,
                                                  {2019, 12, 1, 0, 0, 0, 0}},
                                         StepCase{"TwelveMonthsUpIsOneYear",
                                                  {2019, 4, 1, 0, 0, 0, 0},
                                                  QDateTimeEdit::MonthSection,
                                                  12,
                                                  {2020, 4, 1, 0, 0, 0, 0}},
                                         StepCase{"PageDownOverSeveralYears",
                                                  {2019, 4, 1, 0, 0, 0, 0},
                                                  QDateTimeEdit::MonthSection,
                                                  -28,
                                                  {2016, 12, 1, 0, 0, 0, 0}},
                                         StepCase{"MonthEndShortensToTheShorterMonth",
                                                  {2019, 1, 31, 23, 59, 59, 0},
                                                  QDateTimeEdit::MonthSection,
                                                  1,
                                                  {2019, 2, 28, 23, 59, 59, 0}},
                                         StepCase{"YearSectionStepsYears",
                                                  {2019, 12, 15, 0, 0, 0, 0},
                                                  QDateTimeEdit::YearSection,
                                                  1,
                                                  {2020, 12, 15, 0, 0, 0, 0}},
                                         StepCase{"StopsAtTheLastMonth",
                                                  {9999, 12, 1, 0, 0, 0, 0},
                                                  QDateTimeEdit::MonthSection,
                                                  1,
                                                  {9999, 12, 1, 0, 0, 0, 0}},
                                         StepCase{"StopsAtTheFirstMonth",
                                                  {1601, 1, 1, 0, 0, 0, 0},
                                                  QDateTimeEdit::MonthSection,
                                                  -1,
                                                  {1601, 1, 1, 0, 0, 0, 0}}),
                         [](const testing::TestParamInfo<StepCase>& p) {
                             return std::string(p.param.Name);
                         });

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
