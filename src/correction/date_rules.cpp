#include "correction/date_rules.h"

#include <stdexcept>

namespace tovrik {

DateTime CorrectRolloverDate(const DateTime& value) {
    const DateTime moved = AddDays(value, kRolloverDays);
    if (moved.Year > 9999) {
        throw std::out_of_range("the date " + FormatIso(value) +
                                " moved by 1024 weeks lies after the year 9999");
    }
    return moved;
}

void GetInputMonthRange(const DateTime& inputDate, const DateTime& inputEnd, DateTime& rangeEnd,
                        DateTime& rangeStart) {
    const DateTime firstMonth = AddMonthsToMonthStart(inputDate, 0);
    const DateTime secondMonth = AddMonthsToMonthStart(inputEnd, 0);
    if (firstMonth >= secondMonth) {
        rangeEnd = AddMonthsToMonthStart(firstMonth, 1);
        rangeStart = secondMonth;
    } else {
        rangeEnd = AddMonthsToMonthStart(secondMonth, 1);
        rangeStart = firstMonth;
    }
}

}  // namespace tovrik
