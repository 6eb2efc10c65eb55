#include "settings/setting_numbers.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace tovrik {

namespace {

enum class ScanStatus { NoNumber, Number, OutOfRange };

struct Scan {
    ScanStatus Status = ScanStatus::NoNumber;
    double Value = 0;
    std::size_t End = 0;  // one past the last character that belongs to the number
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int DigitValue(char c, int base) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    return digit < base ? digit : -1;
}

Scan ScanRadix(std::string_view text) {
    if (text.size() < 2) return {};
    int base = 0;
    if (text[1] == 'H' || text[1] == 'h') base = 16;
    if (text[1] == 'O' || text[1] == 'o') base = 8;
    if (base == 0) return {};
    std::uint64_t magnitude = 0;
    std::size_t i = 2;
    for (; i < text.size(); ++i) {
        const int digit = DigitValue(text[i], base);
        if (digit < 0) break;
        magnitude =
            magnitude * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        if (magnitude > 0xFFFFFFFFu) return {ScanStatus::OutOfRange, 0, i + 1};
    }
    if (i == 2) return {};
    // Like the older programs' literals: up to four hex digits make a 16-bit value.
    const double value =
        magnitude <= 0xFFFFu
            ? static_cast<double>(static_cast<std::int16_t>(static_cast<std::uint16_t>(magnitude)))
            : static_cast<double>(static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude)));
    return {ScanStatus::Number, value, i};
}

// Reads the number at the start of `text` and stops at the first character that cannot
// continue it; an exponent mark without digits after it is not part of the number.
Scan ScanNumber(std::string_view text) {
    if (!text.empty() && text[0] == '&') return ScanRadix(text);
    std::string spelled;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') spelled += '-';
        ++i;
    }
    spelled += '0';  // so that ".5" and "-.5" spell a number from_chars reads
    std::size_t digits = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i, ++digits) spelled += text[i];
    if (i < text.size() && text[i] == '.') {
        spelled += '.';
        for (++i; i < text.size() && IsDigit(text[i]); ++i, ++digits) spelled += text[i];
    }
    if (digits == 0) return {};
    std::size_t end = i;
    bool negativeExponent = false;
    if (i < text.size() && (text[i] == 'E' || text[i] == 'e' || text[i] == 'D' || text[i] == 'd')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
            negativeExponent = text[j] == '-';
            exponent += text[j];
            ++j;
        }
        const std::size_t firstDigit = j;
        for (; j < text.size() && IsDigit(text[j]); ++j) exponent += text[j];
        if (j > firstDigit) {
            spelled += exponent;
            end = j;
        }
    }
    double value = 0;
    const auto [ptr, ec] = std::from_chars(spelled.data(), spelled.data() + spelled.size(), value);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) {
        if (!negativeExponent) return {ScanStatus::OutOfRange, 0, end};
        value = 0;  // too small for a double: reads as zero
    } else if (ec != std::errc()) {
        return {};
    }
    return {ScanStatus::Number, value, end};
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

double LeadingNumber(std::string_view text) {
    std::string compact;
    compact.reserve(text.size());
    for (const char c : text) {
        if (c != ' ' && c != '\t' && c != '\n') compact += c;
    }
    const Scan scan = ScanNumber(compact);
    if (scan.Status == ScanStatus::OutOfRange) {
        throw std::overflow_error("number out of range: \"" + std::string(text) + "\"");
    }
    return scan.Status == ScanStatus::Number ? scan.Value : 0.0;
}

std::optional<double> NumberFromText(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    const Scan scan = ScanNumber(text);
    if (scan.Status != ScanStatus::Number || scan.End != text.size()) return std::nullopt;
    return scan.Value;
}

double RoundHalfEven(double value) {
    const double below = std::floor(value);
    const double rest = value - below;
    if (rest < 0.5) return below;
    if (rest > 0.5) return below + 1;
    return std::fmod(below, 2.0) == 0 ? below : below + 1;
}

}  // namespace tovrik
