#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tovrik {

// A calendar date with a time of day and a fraction, without any time zone: exactly what the
// database columns and ODBC's SQL_TIMESTAMP_STRUCT hold. Never converted through local time.
struct DateTime {
    int Year = 1900;
    int Month = 1;           // 1..12
    int Day = 1;             // 1..31
    int Hour = 0;            // 0..23
    int Minute = 0;          // 0..59
    int Second = 0;          // 0..59
    std::uint32_t Fraction = 0;  // nanoseconds, 0..999'999'999

    auto operator<=>(const DateTime&) const = default;
    bool operator==(const DateTime&) const = default;
};

// Proleptic Gregorian day number: days since 1970-01-01 (negative before).
std::int64_t DaysFromCivil(int year, int month, int day);
// The calendar date of a day number from DaysFromCivil.
void CivilFromDays(std::int64_t days, int& year, int& month, int& day);

// True when the fields name a real calendar date and time of day.
bool IsValid(const DateTime& value);

// The same time of day, `days` calendar days later (earlier when negative).
DateTime AddDays(const DateTime& value, std::int64_t days);

// The first day of the month `months` after the month of `value`, at 00:00:00.
DateTime AddMonthsToMonthStart(const DateTime& value, int months);

// "yyyy/MM/dd" — the Japanese short date the suite's users see.
std::string FormatShortDate(const DateTime& value);
// "H:mm:ss" — the Japanese long time form.
std::string FormatLongTime(const DateTime& value);
// "yyyy/MM/dd H:mm:ss", the date and time as the window shows them.
std::string FormatDateTime(const DateTime& value);
// "yyyy-mm-dd hh:mm:ss[.fffffffff]" (fraction digits only as many as needed, none when zero):
// the ISO form used in ODBC escapes and in diagnostics.
std::string FormatIso(const DateTime& value);
// "yyyy-mm-dd[( |T)hh:mm[:ss[.f...]]]" with trailing spaces, the text form drivers use for
// date-times; nothing when the text is not one or names no valid date-time.
std::optional<DateTime> ParseIsoDateTime(std::string_view text);

}  // namespace tovrik
