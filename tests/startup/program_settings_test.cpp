#include "startup/program_settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>

#include "support/test_support.h"

namespace tovrik {
namespace {

using test::TempDir;
using test::WriteFile;

struct DecodeCase {
    const char* Name;
    std::string Stored;
    std::string Plain;  // UTF-8
};

void PrintTo(const DecodeCase& row, std::ostream* out) { *out << row.Name; }

class DecodeServerSettingTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeServerSettingTest, DecodesEachGroupToOneCharacter) {
    EXPECT_EQ(DecodeServerSetting(GetParam().Stored), GetParam().Plain);
}

INSTANTIATE_TEST_SUITE_P(
    Groups, DecodeServerSettingTest,
    testing::Values(
        DecodeCase{"ThreeLetters", "098100102", "abc"}, DecodeCase{"OneLetter", "066", "A"},
        DecodeCase{"ZeroIsCode255", "000", "\uF8F3"}, DecodeCase{"ShortLastGroup", "06699", "Aa"},
        DecodeCase{"PlainTextReadsAsZeros", "dbhost", "\uF8F3\uF8F2"}, DecodeCase{"Empty", "", ""},
        DecodeCase{"PositionIsSubtracted", "065066067", "@@@"},
        DecodeCase{"AboveByteWrapsAround", "322", "A"},
        DecodeCase{"NegativeWrapsAround", "-1x", "\uF8F2"},
        DecodeCase{"Code256IsNul", "257", std::string(1, '\0')},
        // Blanks, tabs and line feeds are skipped wherever they stand.
        DecodeCase{"BlankInside", "6 6", "A"}, DecodeCase{"TabFirst", "\t66", "A"},
        DecodeCase{"LineFeedInside", "6\n6", "A"}, DecodeCase{"PlusSign", "+66", "A"},
        DecodeCase{"CarriageReturnStops", "6\r6", "\x05"}, DecodeCase{"LetterStops", "6x6", "\x05"},
        DecodeCase{"Exponent", "1E2", "c"}, DecodeCase{"ExponentD", "1d2", "c"},
        DecodeCase{"ExponentWithoutDigits", "1e+", std::string(1, '\0')},
        DecodeCase{"Hex", "&H9", "\x08"}, DecodeCase{"HexLowerCase", "&hA", "\x09"},
        DecodeCase{"Octal", "&O7", "\x06"}, DecodeCase{"HexWithoutDigits", "&HG", "\uF8F3"},
        DecodeCase{"UnknownPrefix", "&Q5", "\uF8F3"},
        // Halves go to the even neighbour: 1.5 -> 2, 2.5 -> 2, -0.5 -> 0.
        DecodeCase{"HalfUpToEven", "2.5", "\x02"}, DecodeCase{"HalfDownToEven", "3.5", "\x02"},
        DecodeCase{"NegativeHalfToZero", ".5x", std::string(1, '\0')},
        // Codes 128..255: what code page 932 gives for the byte alone.
        DecodeCase{"KatakanaA", "178", "\uFF71"}, DecodeCase{"FirstKatakana", "162", "\uFF61"},
        DecodeCase{"LastKatakana", "224", "\uFF9F"}, DecodeCase{"Byte80", "129", "\u0080"},
        DecodeCase{"ByteA0", "161", "\uF8F0"}, DecodeCase{"ByteFD", "254", "\uF8F1"},
        DecodeCase{"FirstLeadByte", "130", "\uFFFD"}, DecodeCase{"LastLeadByte", "253", "\uFFFD"},
        DecodeCase{"UpperLeadByte", "225", "\uFFFD"}),
    [](const testing::TestParamInfo<DecodeCase>& row) { return row.param.Name; });

TEST(DecodeServerSetting, GroupBeyond16BitsIsAnOverflow) {
    for (const char* stored : {"9E9", "1E5", "9D4", "0661E5"}) {
        EXPECT_THROW(DecodeServerSetting(stored), std::overflow_error) << stored;
    }
    EXPECT_NO_THROW(DecodeServerSetting("3E4"));
}

// The stored form of a plain ASCII text: the n-th character's code plus n, three digits.
std::string Scramble(const std::string& plain) {
    std::string stored;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        char group[8];
        std::snprintf(group, sizeof group, "%03d",
                      (static_cast<unsigned char>(plain[i]) + static_cast<int>(i) + 1) % 256);
        stored += group;
    }
    return stored;
}

class LoadProgramSettingsTest : public testing::Test {
protected:
    std::filesystem::path ServerFile() const { return dir_.Path() / "NUVRALsv.ini"; }

    TempDir dir_;
    StartState state_;
};

TEST_F(LoadProgramSettingsTest, ServerFileBesideTheProgramGivesTheDecodedValues) {
    WriteFile(ServerFile(), "[Data]\r\nData01=" + Scramble("db.example.jp") + "\r\nData02=" +
                                Scramble("1433") + "\r\nData03=" + Scramble("NUVRAL01") + "\r\n");
    LoadProgramSettings(state_, dir_.Str());
    EXPECT_TRUE(state_.ServerFileMode);
    EXPECT_EQ(state_.ServerFileHost, "db.example.jp");
    EXPECT_EQ(state_.ServerFilePort, "1433");
    EXPECT_EQ(state_.ServerFileDbName, "NUVRAL01");
}

TEST_F(LoadProgramSettingsTest, ServerFileElsewhereLeavesServerFileModeOff) {
    std::filesystem::create_directory(dir_.Path() / "program");
    WriteFile(ServerFile(), "[Data]\r\nData01=" + Scramble("dbhost") + "\r\n");
    state_.ServerFileMode = true;
    LoadProgramSettings(state_, (dir_.Path() / "program").string());
    EXPECT_FALSE(state_.ServerFileMode);
    EXPECT_EQ(state_.ServerFileHost, "");
}

TEST_F(LoadProgramSettingsTest, EmptyServerFileTurnsServerFileModeOnWithEmptyValues) {
    WriteFile(ServerFile(), "");
    LoadProgramSettings(state_, dir_.Str());
    EXPECT_TRUE(state_.ServerFileMode);
    EXPECT_EQ(state_.ServerFileHost, "");
    EXPECT_EQ(state_.ServerFilePort, "");
    EXPECT_EQ(state_.ServerFileDbName, "");
}

TEST_F(LoadProgramSettingsTest, OverflowInOneValueEscapesWithTheEarlierValuesSet) {
    WriteFile(ServerFile(), "[Data]\r\nData01=" + Scramble("dbhost") + "\r\nData02=9e9\r\n");
    EXPECT_THROW(LoadProgramSettings(state_, dir_.Str()), std::overflow_error);
    EXPECT_TRUE(state_.ServerFileMode);
    EXPECT_EQ(state_.ServerFileHost, "dbhost");
    EXPECT_EQ(state_.ServerFilePort, "");
}

}  // namespace
}  // namespace tovrik
