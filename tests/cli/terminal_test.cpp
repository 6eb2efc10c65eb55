#include <gtest/gtest.h>

#include <sstream>

#include "cli/terminal_output.h"
#include "cli/terminal_view.h"

namespace tovrik::cli {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(ProgressLine, ShowsBarCountElapsedAndTimeLeft) {
    // 10 of 40 finished in 30 s of operations: 30 more operations take 90 s.
    EXPECT_EQ(FormatProgressLine("11/40", 10, 40, seconds(32), seconds(30), true),
              "[#######-----------------------] 11/40  経過 0:32  残り 1:30");
    EXPECT_EQ(FormatProgressLine("1/40", 0, 40, seconds(2), seconds(0), false),
              "1/40  経過 0:02  残り --:--");
    EXPECT_EQ(FormatProgressLine("3/3", 3, 3, seconds(3725), seconds(3700), true),
              "[##############################] 3/3  経過 1:02:05  残り 0:00");
}

TEST(TerminalView, PlainLinesAreAtMostOnePerSecond) {
    std::ostringstream out;
    SteadyClock::time_point now{};
    TerminalView view(out, false, [&now] { return now; });
    view.Counting();
    view.GoOn();
    view.Selected(4);
    for (int i = 0; i < 4; ++i) {
        view.Committed(i + 1, 4);
        view.GoOn();
        now += milliseconds(600);
    }
    view.FinishLine();
    // Drawn at 0 ms, then at 1200 ms (3/4); 600 ms and 1800 ms are too soon after a line.
    EXPECT_EQ(out.str(), "件数確認中\n3/4  経過 0:01  残り 0:00\n");
}

TEST(TerminalView, RedrawsInPlaceAndEndsWithTheFinalStateOnItsOwnLine) {
    std::ostringstream out;
    SteadyClock::time_point now{};
    TerminalView view(out, true, [&now] { return now; });
    view.Counting();
    view.GoOn();
    view.Selected(2);
    view.Committed(1, 2);
    now += milliseconds(200);
    view.GoOn();
    view.Committed(2, 2);
    view.GoOn();  // too soon: not drawn
    view.FinishLine();
    const std::string bar1 = "[" + std::string(15, '#') + std::string(15, '-') + "] ";
    const std::string bar2 = "[" + std::string(30, '#') + "] ";
    EXPECT_EQ(out.str(), "\r件数確認中\r" + bar1 + "1/2  経過 0:00  残り 0:00\r" + bar2 +
                             "2/2  経過 0:00  残り 0:00\n");
}

struct MaskCase {
    const char* name;
    const char* text;
    const char* password;
    const char* expected;
};

void PrintTo(const MaskCase& value, std::ostream* out) { *out << value.name; }

class Masking : public testing::TestWithParam<MaskCase> {};

TEST_P(Masking, HidesPasswordsAndNothingElse) {
    EXPECT_EQ(MaskSecrets(GetParam().text, GetParam().password), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, Masking,
    testing::Values(
        MaskCase{"ConnectionString", "PROVIDER=MSDASQL;DSN=Suite;UID=sa;PWD=s3cr;et;", "",
                 "PROVIDER=MSDASQL;DSN=Suite;UID=sa;PWD=***;et;"},
        MaskCase{"BracedWithClosingBraces", "Server=x;Pwd = {a}};b};Database=d", "",
                 "Server=x;Pwd = ***;Database=d"},
        MaskCase{"PasswordKeywordAtEnd", "failed: password=hunter2", "", "failed: password=***"},
        MaskCase{"LiteralPassword", "user \"tovrik\" with hunter2 failed", "hunter2",
                 "user \"tovrik\" with *** failed"},
        MaskCase{"ShortPasswordLeftAlone", "password authentication failed", "a",
                 "password authentication failed"},
        MaskCase{"KeywordInsideWord", "XPWD=1 and DSN=Suite", "", "XPWD=1 and DSN=Suite"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(TerminalMessageBoxes, WriteCaptionAndTextWithTerminalLineEnds) {
    std::ostringstream out;
    TerminalMessageBoxes boxes(out, [] { return "hunter22"; });
    boxes.Show("一\r\r二\r", "Tovrik", MessageIcon::None);
    boxes.Show("処理中にエラーが発生しました。\r\nlogin hunter22 refused", "Nuvral日付修正",
               MessageIcon::Exclamation);
    EXPECT_EQ(out.str(),
              "Tovrik: 一\n\n二\n"
              "Nuvral日付修正: 処理中にエラーが発生しました。\nlogin *** refused\n");
}

}  // namespace
}  // namespace tovrik::cli
