#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

#include "cli/command_outcome.h"
#include "database/odbc.h"
#include "support/test_support.h"

namespace tovrik::cli {
namespace {

struct UndoFailure {
    const char* Name;
    const char* Text;   // what the undo throws
    const char* Shown;  // what the error box then says after its first line
    bool Interrupted;   // Ctrl+C was pressed
    int Status;
};
void PrintTo(const UndoFailure& c, std::ostream* out) { *out << c.Name; }

class FailedUndo : public testing::TestWithParam<UndoFailure> {};

// A failure is never reported as success, whatever the driver said (or did not say).
TEST_P(FailedUndo, EndsWithTheFailuresStatusAndMessage) {
    std::ostringstream out, err;
    test::RecordingMessageBoxes boxes;
    const int status =
        RunAndReportUndo([]() -> UndoReport { throw db::DbError(GetParam().Text, {}); },
                         [] { return GetParam().Interrupted; }, out, err, boxes);

    EXPECT_EQ(status, GetParam().Status);
    EXPECT_EQ(out.str(), "");
    if (GetParam().Interrupted) {
        EXPECT_TRUE(boxes.Shown.empty());
        EXPECT_NE(err.str().find("中断しました"), std::string::npos) << err.str();
        return;
    }
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Text,
              std::string("処理中にエラーが発生しました。\r\n") + GetParam().Shown);
    EXPECT_EQ(boxes.Shown[0].Icon, MessageIcon::Exclamation);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailedUndo,
    testing::Values(
        UndoFailure{"DriverText", "deadlock detected", "deadlock detected", false, kExitRunFailed},
        UndoFailure{"EmptyText", "", "（エラーの説明はありません）", false, kExitRunFailed},
        UndoFailure{"EmptyTextAfterCtrlC", "", "", true, kExitInterrupted}),
    test::RowName{});

}  // namespace
}  // namespace tovrik::cli
