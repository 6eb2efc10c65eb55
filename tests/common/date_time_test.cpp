#include <gtest/gtest.h>

#include "common/date_time.h"

namespace tovrik {
namespace {

TEST(DateTime, DayNumbersRoundTripAcrossCenturiesAndLeapDays) {
    for (std::int64_t day = -800000; day <= 800000; day += 97) {
        int y = 0, m = 0, d = 0;
        CivilFromDays(day, y, m, d);
        ASSERT_EQ(DaysFromCivil(y, m, d), day);
    }
    EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
    EXPECT_EQ(DaysFromCivil(2000, 3, 1) - DaysFromCivil(2000, 2, 28), 2);  // 2000 is leap
    EXPECT_EQ(DaysFromCivil(1900, 3, 1) - DaysFromCivil(1900, 2, 28), 1);  // 1900 is not
}

TEST(DateTime, ValidityRejectsImpossibleDatesAndTimes) {
    EXPECT_TRUE(IsValid({2000, 2, 29, 23, 59, 59, 999'999'999}));
    EXPECT_FALSE(IsValid({1999, 2, 29, 0, 0, 0, 0}));
    EXPECT_FALSE(IsValid({2019, 4, 31, 0, 0, 0, 0}));
    EXPECT_FALSE(IsValid({2019, 13, 1, 0, 0, 0, 0}));
    EXPECT_FALSE(IsValid({2019, 1, 1, 24, 0, 0, 0}));
}

TEST(DateTime, FixedJapaneseFormsWhateverTheLocale) {
    const DateTime value{2019, 4, 10, 9, 5, 12, 0};
    EXPECT_EQ(FormatShortDate(value), "2019/04/10");
    EXPECT_EQ(FormatLongTime(value), "9:05:12");
    EXPECT_EQ(FormatDateTime(value), "2019/04/10 9:05:12");
    EXPECT_EQ(FormatIso(value), "2019-04-10 09:05:12");
    EXPECT_EQ(FormatIso({2019, 4, 10, 9, 5, 12, 120'000'000}), "2019-04-10 09:05:12.12");
}

TEST(DateTime, MonthStartsCarryIntoNeighbouringYears) {
    EXPECT_EQ(AddMonthsToMonthStart({2019, 12, 15, 8, 0, 0, 0}, 1), (DateTime{2020, 1, 1}));
    EXPECT_EQ(AddMonthsToMonthStart({2019, 1, 31, 8, 0, 0, 0}, -1), (DateTime{2018, 12, 1}));
    EXPECT_EQ(AddMonthsToMonthStart({2019, 4, 30, 23, 59, 59, 0}, 0), (DateTime{2019, 4, 1}));
}

}  // namespace
}  // namespace tovrik
