#include "cli/cli_arguments.h"

#include <gtest/gtest.h>

namespace tovrik::cli {
namespace {

struct GoodCase {
    const char* name;
    std::vector<std::string> arguments;
    YearMonth from;
    YearMonth to;
    bool dryRun;
};

void PrintTo(const GoodCase& value, std::ostream* out) { *out << value.name; }

class GoodArguments : public testing::TestWithParam<GoodCase> {};

TEST_P(GoodArguments, GiveTheMonthsAsWritten) {
    const auto parsed = ParseArguments(GetParam().arguments);
    ASSERT_TRUE(parsed.Options) << parsed.Error;
    EXPECT_FALSE(parsed.Options->Help);
    EXPECT_EQ(parsed.Options->From, GetParam().from);
    EXPECT_EQ(parsed.Options->To, GetParam().to);
    EXPECT_EQ(parsed.Options->DryRun, GetParam().dryRun);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, GoodArguments,
    testing::Values(
        GoodCase{"Separate", {"--from", "2019/04", "--to", "2019/06"}, {2019, 4}, {2019, 6}, false},
        GoodCase{
            "LaterFirst", {"--from", "2019/06", "--to", "2019/04"}, {2019, 6}, {2019, 4}, false},
        GoodCase{"EqualsForm",
                 {"--to=2020/1", "--dry-run", "--from=2019/12"},
                 {2019, 12},
                 {2020, 1},
                 true},
        GoodCase{"Bounds", {"--from", "1900/01", "--to", "9998/12"}, {1900, 1}, {9998, 12}, false}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(CommandArguments, ScanAndUndoNeedNoMonths) {
    const auto scan = ParseArguments({"--scan"});
    ASSERT_TRUE(scan.Options) << scan.Error;
    EXPECT_TRUE(scan.Options->Scan);
    EXPECT_FALSE(scan.Options->HasRange);
    const auto undo = ParseArguments({"--dry-run", "--undo=記録 1.tsv", "--other-data-source"});
    ASSERT_TRUE(undo.Options) << undo.Error;
    EXPECT_EQ(undo.Options->UndoJournal, "記録 1.tsv");
    EXPECT_TRUE(undo.Options->DryRun && undo.Options->OtherDataSource);
}

struct BadCase {
    const char* name;
    std::vector<std::string> arguments;
    const char* explanation;  // must appear in the one-line error
};

void PrintTo(const BadCase& value, std::ostream* out) { *out << value.name; }

class BadArguments : public testing::TestWithParam<BadCase> {};

TEST_P(BadArguments, AreExplainedOnOneLineWithTheUsage) {
    const auto parsed = ParseArguments(GetParam().arguments);
    ASSERT_FALSE(parsed.Options);
    EXPECT_NE(parsed.Error.find(GetParam().explanation), std::string::npos) << parsed.Error;
    EXPECT_NE(parsed.Error.find(UsageLine()), std::string::npos) << parsed.Error;
    EXPECT_EQ(parsed.Error.find('\n'), std::string::npos) << parsed.Error;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, BadArguments,
    testing::Values(
        BadCase{"Nothing", {}, "--from の月がありません"},
        BadCase{"MissingTo", {"--from", "2019/04"}, "--to の月がありません"},
        BadCase{"ValueMissingAtEnd", {"--to", "2019/04", "--from"}, "--from の月がありません"},
        BadCase{"MonthThirteen", {"--from", "2019/13", "--to", "2019/04"}, "\"2019/13\""},
        BadCase{"MonthZero", {"--from", "2019/00", "--to", "2019/04"}, "\"2019/00\""},
        BadCase{"Text", {"--from", "april", "--to", "2019/04"}, "\"april\""},
        BadCase{"IsoDash", {"--from", "2019-04", "--to", "2019/04"}, "\"2019-04\""},
        BadCase{"WithDay", {"--from", "2019/04/01", "--to", "2019/04"}, "\"2019/04/01\""},
        BadCase{"TwoDigitYear", {"--from", "19/04", "--to", "2019/04"}, "\"19/04\""},
        BadCase{"BeyondLastMonth", {"--from", "9999/12", "--to", "2019/04"}, "\"9999/12\""},
        BadCase{"Signed", {"--from", "2019/+4", "--to", "2019/04"}, "\"2019/+4\""},
        BadCase{"Twice", {"--from", "2019/04", "--from", "2019/05", "--to", "2019/04"}, "2回"},
        BadCase{"Unknown", {"--from", "2019/04", "--to", "2019/04", "--force"}, "\"--force\""},
        BadCase{"Positional", {"2019/04", "2019/05"}, "\"2019/04\""},
        BadCase{"ScanAndUndo", {"--scan", "--undo", "x.tsv"}, "一緒に使えません"},
        BadCase{"UndoWithMonths", {"--undo", "x.tsv", "--from", "2019/04"}, "--from と --to を取りません"},
        BadCase{"UndoWithoutFile", {"--undo"}, "作業記録ファイルがありません"},
        BadCase{"OtherDataSourceAlone",
                {"--from", "2019/04", "--to", "2019/04", "--other-data-source"},
                "--undo と使います"},
        BadCase{"ScanWithOneMonth", {"--scan", "--from", "2019/04"}, "--to の月がありません"},
        BadCase{"ScanDryRun", {"--scan", "--dry-run"}, "--dry-run は不要"},
        // A script that adds --version to a run must not be told the run is done.
        BadCase{"VersionWithRun",
                {"--from", "2019/04", "--to", "2019/04", "--version"},
                "--version は他の引数"},
        BadCase{"VersionWithDryRun", {"--version", "--dry-run"}, "--version は他の引数"},
        BadCase{"VersionTwice", {"--version", "--version"}, "--version は他の引数"},
        BadCase{"VersionWithValue", {"--version=1"}, "\"--version=1\""}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(CliArguments, VersionAloneAsksForTheVersionAndHelpWinsOverIt) {
    const auto version = ParseArguments({"--version"});
    ASSERT_TRUE(version.Options) << version.Error;
    EXPECT_TRUE(version.Options->Version);
    EXPECT_FALSE(version.Options->Help);

    const auto help = ParseArguments({"--version", "--from", "2019/04", "--help"});
    ASSERT_TRUE(help.Options) << help.Error;
    EXPECT_TRUE(help.Options->Help);
}

}  // namespace
}  // namespace tovrik::cli
