#include "common/date_time.h"

#include <charconv>
#include <cstdio>

namespace tovrik {

// Howard Hinnant's days_from_civil / civil_from_days.
std::int64_t DaysFromCivil(int year, int month, int day) {
    const std::int64_t y = static_cast<std::int64_t>(year) - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t mp = (month + 9) % 12;
    const std::int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t days, int& year, int& month, int& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

bool IsValid(const DateTime& v) {
    if (v.Month < 1 || v.Month > 12 || v.Day < 1) return false;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (v.Year % 4 == 0 && v.Year % 100 != 0) || v.Year % 400 == 0;
    const int last = kDays[v.Month - 1] + (v.Month == 2 && leap ? 1 : 0);
    return v.Day <= last && v.Hour >= 0 && v.Hour < 24 && v.Minute >= 0 && v.Minute < 60 &&
           v.Second >= 0 && v.Second < 60 && v.Fraction < 1'000'000'000u;
}

DateTime AddDays(const DateTime& value, std::int64_t days) {
    DateTime result = value;
    CivilFromDays(DaysFromCivil(value.Year, value.Month, value.Day) + days, result.Year,
                  result.Month, result.Day);
    return result;
}

DateTime AddMonthsToMonthStart(const DateTime& value, int months) {
    const int index = value.Year * 12 + (value.Month - 1) + months;
    DateTime result;
    result.Year = index >= 0 ? index / 12 : (index - 11) / 12;
    result.Month = index - result.Year * 12 + 1;
    return result;
}

std::string FormatShortDate(const DateTime& v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d/%02d/%02d", v.Year, v.Month, v.Day);
    return buffer;
}

std::string FormatLongTime(const DateTime& v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%d:%02d:%02d", v.Hour, v.Minute, v.Second);
    return buffer;
}

std::string FormatDateTime(const DateTime& v) {
    return FormatShortDate(v) + " " + FormatLongTime(v);
}

std::string FormatIso(const DateTime& v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", v.Year, v.Month, v.Day,
                  v.Hour, v.Minute, v.Second);
    std::string text = buffer;
    if (v.Fraction != 0) {
        std::snprintf(buffer, sizeof buffer, ".%09u", v.Fraction);
        std::string fraction = buffer;
        while (fraction.back() == '0') fraction.pop_back();
        text += fraction;
    }
    return text;
}

namespace {

bool ParseNumber(std::string_view text, std::size_t& pos, std::size_t digits, int& value) {
    if (pos + digits > text.size()) return false;
    const auto* first = text.data() + pos;
    const auto result = std::from_chars(first, first + digits, value);
    if (result.ec != std::errc() || result.ptr != first + digits) return false;
    pos += digits;
    return true;
}

}  // namespace

std::optional<DateTime> ParseIsoDateTime(std::string_view text) {
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    DateTime value;
    std::size_t pos = 0;
    auto expect = [&](char c) { return pos < text.size() && text[pos++] == c; };
    if (!ParseNumber(text, pos, 4, value.Year) || !expect('-') ||
        !ParseNumber(text, pos, 2, value.Month) || !expect('-') ||
        !ParseNumber(text, pos, 2, value.Day)) {
        return std::nullopt;
    }
    if (pos < text.size()) {
        if (text[pos] != ' ' && text[pos] != 'T') return std::nullopt;
        ++pos;
        if (!ParseNumber(text, pos, 2, value.Hour) || !expect(':') ||
            !ParseNumber(text, pos, 2, value.Minute)) {
            return std::nullopt;
        }
        if (pos < text.size() && (!expect(':') || !ParseNumber(text, pos, 2, value.Second))) {
            return std::nullopt;
        }
        if (pos < text.size()) {
            if (!expect('.')) return std::nullopt;
            std::uint32_t scale = 100'000'000;
            std::size_t digits = 0;
            for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos, ++digits) {
                if (digits < 9)
                    value.Fraction += static_cast<std::uint32_t>(text[pos] - '0') * scale;
                scale /= 10;
            }
            if (digits == 0 || pos != text.size()) return std::nullopt;
        }
    }
    if (!IsValid(value)) return std::nullopt;
    return value;
}

}  // namespace tovrik
