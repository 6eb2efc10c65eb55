#pragma once

#include "common/date_time.h"

namespace tovrik {

// The GPS week-number rollover: a unit hit by it records every date-time this many weeks early.
inline constexpr int RolloverWeeks = 1024;
// The same in days (7168): what a correction moves a date-time by, an undo by -kRolloverDays.
inline constexpr int kRolloverDays = RolloverWeeks * 7;

// An operation dated before this was recorded by a unit hit by the rollover: every true date
// the suite holds lies after it.
inline constexpr DateTime kRolloverCutoff{2008, 1, 1};

// The true date-time of a value recorded by a unit hit by the GPS week rollover: the same time
// of day, 1024 weeks (7168 days) later. Throws std::out_of_range when the result would lie
// after year 9999.
DateTime CorrectRolloverDate(const DateTime& value);

// The half-open range of input dates for two month pickers, whichever holds the earlier month:
// rangeStart the first day of the earlier month, rangeEnd the first day of the month after the
// later one, both at 00:00:00. Only year and month of the picker values count.
void GetInputMonthRange(const DateTime& inputDate, const DateTime& inputEnd, DateTime& rangeEnd,
                        DateTime& rangeStart);

}  // namespace tovrik
