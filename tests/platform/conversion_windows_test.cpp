// The ANSI code page conversions that every "A" function call goes through, under the code
// page the run was started with (932 for ja_JP, 1252 for en_US; scripts/wine-run).
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "platform/platform.h"
#include "support/test_support.h"

namespace tovrik {
namespace {

struct ConversionCase {
    const char* Name;
    std::string Utf8;
    std::optional<std::string> In932;   // nothing: code page 932 lacks a character
    std::optional<std::string> In1252;  // likewise for 1252
};

void PrintTo(const ConversionCase& row, std::ostream* out) { *out << row.Name; }

class AnsiConversionTest : public testing::TestWithParam<ConversionCase> {
protected:
    static std::optional<std::string> Expected(const ConversionCase& c) {
        return GetACP() == 932 ? c.In932 : c.In1252;
    }
};

TEST_P(AnsiConversionTest, ConvertsExactlyOrRefuses) {
    const ConversionCase& c = GetParam();
    ASSERT_TRUE(GetACP() == 932 || GetACP() == 1252) << "code page " << GetACP();
    const std::optional<std::string> ansi = Utf8ToAnsi(c.Utf8);
    EXPECT_EQ(ansi, Expected(c));
    if (ansi) {
        EXPECT_EQ(AnsiToUtf8(*ansi), c.Utf8);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, AnsiConversionTest,
    testing::Values(
        ConversionCase{"Empty", "", "", ""},
        ConversionCase{"Ascii", "DSN=suite;C:\\Data", "DSN=suite;C:\\Data", "DSN=suite;C:\\Data"},
        ConversionCase{"Japanese", "運行データ", "\x89\x5e\x8d\x73\x83\x66\x81\x5b\x83\x5e",
                       std::nullopt},
        // The second byte of 表 in Shift_JIS is the byte of a backslash.
        ConversionCase{"SecondByteIsBackslash", "表\\", "\x95\x5c\x5c", std::nullopt},
        ConversionCase{"HalfWidthKatakana", "ｶﾅ", "\xb6\xc5", std::nullopt},
        ConversionCase{"Accent", "é", std::nullopt, "\xe9"},
        ConversionCase{"YWithDiaeresisIs0xFF", "ÿ", std::nullopt, "\xff"},
        ConversionCase{"Euro", "€", std::nullopt, "\x80"},
        // No best fit: a full-width letter must not become a plain one.
        ConversionCase{"FullWidthLetterNotBestFitted", "Ａ", "\x82\x60", std::nullopt},
        ConversionCase{"OutsideBothCodePages", "한국어", std::nullopt, std::nullopt},
        ConversionCase{"InvalidUtf8", "\xff\xfe", std::nullopt, std::nullopt},
        ConversionCase{"LoneSurrogateEncoded", "\xed\xa0\x80", std::nullopt, std::nullopt}),
    test::RowName());

}  // namespace
}  // namespace tovrik
