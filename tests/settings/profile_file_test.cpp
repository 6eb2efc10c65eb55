#include "settings/profile_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "support/test_support.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/platform.h"
#endif

namespace tovrik {
namespace {

using test::ProfileBytes;
using test::ProfileContent;
using test::ProfileCopy;
using test::ProfileLayout;
using test::ReadFile;
using test::SourcePath;
using test::TempDir;

std::filesystem::path DataFile(const std::string& name) {
    return SourcePath("tests/settings/data/" + name);
}

// The size of text in the profile file's encoding (UTF-8, or the ANSI code page on Windows).
std::size_t ProfileSize(const std::string& text) {
    return ProfileBytes(text).value_or(text).size();
}

// ---- Reading: one fixture file covers the rules of the Windows profile functions.

// BufferSize counts bytes beyond those of BufferHolds (in the file's encoding), so that a row
// cuts inside or after the same character whether that takes 2 (Shift_JIS) or 3 (UTF-8) bytes.
// Copied is given for UTF-8; on Windows it is the size of Text in the code page.
struct ReadCase {
    const char* Name;
    const char* Section;
    const char* Key;
    const char* Default;
    std::size_t BufferSize;
    const char* Text;
    std::size_t Copied;
    const char* BufferHolds = "";
};

// Names the row in test output (the default prints raw bytes).
void PrintTo(const ReadCase& row, std::ostream* out) { *out << row.Name; }

#ifdef _WIN32
// GetPrivateProfileStringA's own answer with the row's default (the Windows layer asks for markers
// and edits a missing key's default itself); nothing when the code page cannot spell the row.
std::optional<ProfileText> ProfileFunctionAnswer(const ReadCase& row, std::size_t bufferSize,
                                                 const std::string& file) {
    const std::optional<std::string> section = Utf8ToAnsi(row.Section);
    const std::optional<std::string> key = Utf8ToAnsi(row.Key);
    const std::optional<std::string> defaultValue = Utf8ToAnsi(row.Default);
    const std::optional<std::string> path = Utf8ToAnsi(file);
    if (!section || !key || !defaultValue || !path) return std::nullopt;
    std::vector<char> buffer(bufferSize, '\0');
    const DWORD copied =
        GetPrivateProfileStringA(section->c_str(), key->c_str(), defaultValue->c_str(),
                                 buffer.data(), static_cast<DWORD>(bufferSize), path->c_str());
    return ProfileText{AnsiToUtf8(buffer.data()), copied};
}
#endif

class ProfileReadTest : public testing::TestWithParam<ReadCase> {};

TEST_P(ProfileReadTest, ReadsAsTheWindowsProfileFunctionWould) {
    const ReadCase& c = GetParam();
    // A default is handed back as given; text from the file must be in the code page.
    const bool fromDefault = std::strcmp(c.Text, c.Default) == 0;
    if ((!fromDefault && !ProfileBytes(c.Text)) || !ProfileBytes(c.BufferHolds)) {
        GTEST_SKIP() << "the ANSI code page lacks a character of this row";
    }
    TempDir dir;
    const std::size_t bufferSize = ProfileSize(c.BufferHolds) + c.BufferSize;
    const std::string file = ProfileCopy(DataFile("input/read.ini"), dir.Path()).string();
    const ProfileText read = GetPrivateProfileText(c.Section, c.Key, c.Default, bufferSize, file);
    EXPECT_EQ(read.Text, c.Text);
    EXPECT_EQ(read.Copied, c.Copied == std::strlen(c.Text) ? ProfileSize(c.Text) : c.Copied);
#ifdef _WIN32
    // The profile function itself answers each row alike, a missing key's default included (the
    // layer edits that one itself). Cut rows are left out: there the layer drops a split lead byte.
    if (c.BufferSize < 64) return;
    if (const std::optional<ProfileText> windows = ProfileFunctionAnswer(c, bufferSize, file)) {
        EXPECT_EQ(windows->Text, c.Text);
        EXPECT_EQ(windows->Copied, read.Copied);
    }
#endif
}

const char* const kLogin = "AllUser\\ZuzurodeZoz\\Login";

INSTANTIATE_TEST_SUITE_P(
    Rules, ProfileReadTest,
    testing::Values(
        ReadCase{"HeaderRightAfterByteOrderMark", "First", "A", "-", 64, "1", 1},
        ReadCase{"PlainValue", kLogin, "DSN", "-", 64, "suite", 5},
        ReadCase{"NamesIgnoreAsciiCase", "alluser\\ZUZURODEZOZ\\login", "dsn", "-", 64, "suite", 5},
        ReadCase{"BlanksAroundNamesAndValues", kLogin, "spaced key", "-", 64, "spaced value", 12},
        ReadCase{"BlanksAroundRequestedName", kLogin, " Spaced Key\t", "-", 64, "spaced value", 12},
        ReadCase{"DoubleQuotesRemovedBlanksInsideKept", kLogin, "Quoted", "-", 64,
                 "  kept blanks  ", 15},
        ReadCase{"SingleQuotesRemoved", kLogin, "Single", "-", 64, "single", 6},
        ReadCase{"UnmatchedQuotesKept", kLogin, "Mismatched", "-", 64, "\"abc'", 5},
        ReadCase{"EmptyValueCopiesNothing", kLogin, "Empty", "dflt", 64, "", 0},
        ReadCase{"FirstDuplicateWins", kLogin, "Dup", "-", 64, "first", 5},
        ReadCase{"SecondCopyOfSectionIgnored", kLogin, "Later", "dflt", 64, "dflt", 4},
        ReadCase{"LineWithoutEqualsIgnored", kLogin, "no equals sign here", "dflt", 64, "dflt", 4},
        ReadCase{"CommentLineIgnored", "First", "; a comment without an equals sign", "d", 64, "d",
                 1},
        ReadCase{"ValueKeepsLaterEquals", kLogin, "Equals", "-", 64, "a=b=c", 5},
        ReadCase{"Utf8Value", kLogin, "Japanese", "-", 64, "日本語の値", 15},
        ReadCase{"CtrlZAroundValueTrimmed", kLogin, "CtrlZ", "-", 64, "v", 1},
        ReadCase{"VerticalTabAndFormFeedAroundValueTrimmed", kLogin, "VtFf", "-", 64, "v", 1},
        ReadCase{"FormFeedAndVerticalTabAroundNameTrimmed", kLogin, "FormFed", "-", 64, "ff", 2},
        ReadCase{"NulEndsValueAndCount", kLogin, "Nul", "-", 64, "ab", 2},
        ReadCase{"NulEndsValueBeforeQuotesAreMatched", kLogin, "QuotedNul", "-", 64, "\"ab", 3},
        ReadCase{"CutNeverSplitsCharacter", kLogin, "Japanese", "-", 2, "日", 3, "日"},
        ReadCase{"CutAtCharacterEnd", kLogin, "Japanese", "-", 1, "日本", 6, "日本"},
        ReadCase{"CutToBufferSizeLessOne", kLogin, "DSN", "-", 3, "su", 2},
        ReadCase{"BufferOfOneHoldsOnlyNul", kLogin, "DSN", "-", 1, "", 0},
        ReadCase{"BufferOfZero", kLogin, "DSN", "-", 0, "", 0},
        ReadCase{"PaddedSectionHeaderLfEnds", "Padded Section", "Lf", "-", 64, "lf value", 8},
        ReadCase{"CrLineEnds", "CR Section", "Cr", "-", 64, "cr value", 8},
        ReadCase{"LineAfterCr", "CR Section", "Next", "-", 64, "after cr", 8},
        ReadCase{"LastLineWithoutLineEnd", "Tail", "Last", "-", 64, "no line end", 11},
        ReadCase{"MissingKeyGivesDefault", kLogin, "Missing", "dflt", 64, "dflt", 4},
        ReadCase{"DefaultLosesTrailingSpacesNotTabs", kLogin, "Missing", " dflt \t ", 64,
                 " dflt \t", 7},
        ReadCase{"DefaultOfSpacesKeepsOne", kLogin, "Missing", "   ", 64, " ", 1},
        ReadCase{"DefaultKeepsTabs", kLogin, "Missing", "\tdflt\t", 64, "\tdflt\t", 6},
        ReadCase{"DefaultLosesSingleQuotes", kLogin, "Missing", "'dflt'", 64, "dflt", 4},
        ReadCase{"DefaultLosesSpacesThenDoubleQuotes", kLogin, "Missing", "\"dflt\"  ", 64, "dflt",
                 4},
        ReadCase{"DefaultIsCutToo", kLogin, "Missing", "default", 4, "def", 3},
        ReadCase{"MissingSectionGivesDefault", "Nowhere", "DSN", "dflt", 64, "dflt", 4},
        ReadCase{"NotFoundMarkerDefault", "Nowhere", "DSN", "\xFF", 1024, "\xFF", 1}),
    test::RowName());

TEST(ProfileRead, MissingFileOrFolderInItsPlaceGivesDefault) {
    TempDir dir;
    for (const auto& path : {dir.Path() / "missing.ini", dir.Path()}) {
        const ProfileText read = GetPrivateProfileText("S", "k", "dflt", 64, path.string());
        EXPECT_EQ(read.Text, "dflt") << path;
        EXPECT_EQ(read.Copied, 4u) << path;
    }
}

// ---- Writing: input file, one write, the expected file byte for byte.

struct WriteCase {
    const char* Name;
    const char* Input;  // nullptr: the file does not exist yet
    const char* Section;
    const char* Key;
    const char* Value;
    const char* Expected;
};

void PrintTo(const WriteCase& row, std::ostream* out) { *out << row.Name; }

class ProfileWriteTest : public testing::TestWithParam<WriteCase> {};

TEST_P(ProfileWriteTest, ChangesOnlyWhatTheWriteNeeds) {
    const WriteCase& c = GetParam();
    TempDir dir;
    if (!ProfileBytes(c.Value)) GTEST_SKIP() << "the ANSI code page lacks a character of the value";
    const std::filesystem::path file = dir.Path() / "TachoGraph.int";
    if (c.Input != nullptr) test::WriteFile(file, ProfileContent(DataFile(c.Input)));

    ASSERT_TRUE(WritePrivateProfileText(c.Section, c.Key, c.Value, file.string()));

    EXPECT_EQ(ProfileLayout(ReadFile(file)), ProfileLayout(ProfileContent(DataFile(c.Expected))));
    EXPECT_EQ(GetPrivateProfileText(c.Section, c.Key, "-", 1024, file.string()).Text, c.Value);
}

INSTANTIATE_TEST_SUITE_P(
    Golden, ProfileWriteTest,
    testing::Values(WriteCase{"NewFileGetsCrLf", nullptr, kLogin, "TEST", "2024/05/01 10:00:00",
                              "expected/new_file.ini"},
                    WriteCase{"ReplaceInPlace", "input/suite.ini", kLogin, "UID", "operator",
                              "expected/suite_replace.ini"},
                    WriteCase{"ReplaceKeepsSpellingOfFile", "input/suite.ini",
                              "alluser\\zuzurodezoz\\login", "dsn", "other",
                              "expected/suite_case.ini"},
                    WriteCase{"SameValueLeavesFileAlone", "input/suite.ini", kLogin, "DSN", "suite",
                              "input/suite.ini"},
                    WriteCase{"AppendAfterLastKeyBeforeBlankLines", "input/suite.ini", kLogin,
                              "PWD", "secret", "expected/suite_append.ini"},
                    WriteCase{"AppendAfterTrailingComment", "input/suite.ini",
                              "AllUser\\ZuzurodeZoz\\BkUp", "DIR", "D:\\バックアップ\\",
                              "expected/suite_second_section.ini"},
                    WriteCase{"BlanksAroundValueAreQuoted", "input/suite.ini", kLogin, "Memo",
                              " 日本語 ", "expected/suite_quoted.ini"},
                    WriteCase{"NewSectionAtEnd", "input/suite.ini", "AllUser\\\\", "CopyFlg", "1",
                              "expected/suite_new_section.ini"},
                    WriteCase{"AppendToLastLineWithoutEnd", "input/no_final_eol.ini", "A", "y", "2",
                              "expected/no_final_eol_append.ini"},
                    WriteCase{"ReplacedLastLineWithoutEndGetsCrLf", "input/no_final_eol.ini", "A",
                              "x", "5", "expected/no_final_eol_replace.ini"},
                    WriteCase{"NewSectionAfterLastLineWithoutEnd", "input/no_final_eol.ini", "B",
                              "z", "3", "expected/no_final_eol_new_section.ini"},
                    WriteCase{"CrEndsAndByteOrderMarkKept", "input/cr_bom.ini", "S", "new", "n",
                              "expected/cr_bom_append.ini"},
                    WriteCase{"NewCrLineKeepsFollowingLfLine", "input/cr_then_lf.ini", "S", "new",
                              "n", "expected/cr_then_lf_append.ini"},
                    WriteCase{"ReplaceInCrFile", "input/cr_bom.ini", "s", "K", "w",
                              "expected/cr_bom_replace.ini"},
                    WriteCase{"FirstDuplicateReplaced", "input/duplicates.ini", "S", "k", "x",
                              "expected/duplicates_first.ini"},
                    WriteCase{"KeyReplacedInSecondCopyOfSection", "input/duplicates.ini", "S", "m",
                              "2", "expected/duplicates_second_copy.ini"},
                    WriteCase{"NewKeyGoesToFirstCopy", "input/duplicates.ini", "S", "new", "3",
                              "expected/duplicates_append.ini"},
                    WriteCase{"SectionWithoutKeys", "input/empty_section.ini", "S", "k", "v",
                              "expected/empty_section.ini"}),
    test::RowName());

// Every value that can be stored reads back unchanged.
struct RoundTripCase {
    const char* Name;
    std::string Value;
};

void PrintTo(const RoundTripCase& row, std::ostream* out) { *out << row.Name; }

class ProfileRoundTripTest : public testing::TestWithParam<RoundTripCase> {};

TEST_P(ProfileRoundTripTest, WrittenValueReadsBackUnchanged) {
    const std::string& value = GetParam().Value;
    if (!ProfileBytes(value)) GTEST_SKIP() << "the ANSI code page lacks a character of it";
    TempDir dir;
    const std::string file = (dir.Path() / "TachoGraph.int").string();
    ASSERT_TRUE(WritePrivateProfileText("AllUser\\App\\Sec", "Key", "first", file));
    ASSERT_TRUE(WritePrivateProfileText("AllUser\\App\\Sec", "Key", value, file));
    const ProfileText read = GetPrivateProfileText("AllUser\\App\\Sec", "Key", "-", 1024, file);
    EXPECT_EQ(read.Text, value);
    EXPECT_EQ(read.Copied, ProfileSize(value));
}

// Row names are plain words: CTest cannot take properties for a test whose name holds brackets.
INSTANTIATE_TEST_SUITE_P(
    Values, ProfileRoundTripTest,
    testing::Values(
        RoundTripCase{"Empty", ""}, RoundTripCase{"LeadingBlank", " lead"},
        RoundTripCase{"TrailingTab", "trail\t"}, RoundTripCase{"CtrlZAndFormFeedAtEnds", "\x1Av\f"},
        RoundTripCase{"DoubleQuoted", "\"quoted\""}, RoundTripCase{"SingleQuoted", "'single'"},
        RoundTripCase{"OneQuote", "\""}, RoundTripCase{"TwoQuotes", "\"\""},
        RoundTripCase{"QuoteAndBlank", "\" x"}, RoundTripCase{"Equals", "a=b"},
        RoundTripCase{"LikeASectionHeader", "[not a section]"},
        RoundTripCase{"LikeAComment", "; not a comment"}, RoundTripCase{"YWithDiaeresis", "ÿ"},
        RoundTripCase{"Japanese", "日本語 テキスト"},
        RoundTripCase{"FolderWithBackslash", "C:\\Folder\\"},
        RoundTripCase{"NetworkPath", "\\\\server\\share"}),
    test::RowName());

struct RejectCase {
    const char* Name;
    std::string Section;
    std::string Key;
    std::string Value;
};

void PrintTo(const RejectCase& row, std::ostream* out) { *out << row.Name; }

class ProfileRejectTest : public testing::TestWithParam<RejectCase> {};

// Such texts would read back as other keys or sections (a value with a line break could plant a
// whole new line); the write refuses them and leaves the file alone.
TEST_P(ProfileRejectTest, UnstorableTextIsRefused) {
    const RejectCase& c = GetParam();
    TempDir dir;
    const std::filesystem::path file = dir.Path() / "TachoGraph.int";
    std::filesystem::copy_file(DataFile("input/suite.ini"), file);
    EXPECT_FALSE(WritePrivateProfileText(c.Section, c.Key, c.Value, file.string()));
    EXPECT_EQ(ReadFile(file), ReadFile(DataFile("input/suite.ini")));
    EXPECT_FALSE(
        WritePrivateProfileText(c.Section, c.Key, c.Value, (dir.Path() / "new.ini").string()));
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "new.ini"));
}

INSTANTIATE_TEST_SUITE_P(Texts, ProfileRejectTest,
                         testing::Values(RejectCase{"LineFeedInValue", "S", "k", "a\nPWD=x"},
                                         RejectCase{"CarriageReturnInValue", "S", "k", "a\rb"},
                                         RejectCase{"NulInValue", "S", "k", std::string("a\0b", 3)},
                                         RejectCase{"LineBreakInSection", "S]\r\n[T", "k", "v"},
                                         RejectCase{"LineBreakInKey", "S", "k\n", "v"},
                                         RejectCase{"EqualsInKey", "S", "a=b", "v"},
                                         RejectCase{"KeyLikeSectionHeader", "S", " [k]", "v"}),
                         test::RowName());

TEST(ProfileWrite, MissingFolderFailsAndCreatesNothing) {
    TempDir dir;
    const std::filesystem::path file = dir.Path() / "missing" / "TachoGraph.int";
    EXPECT_FALSE(WritePrivateProfileText("S", "k", "v", file.string()));
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "missing"));
}

}  // namespace
}  // namespace tovrik
