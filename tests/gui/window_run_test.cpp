#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "correction/run_fixture.h"
#include "gui/frm_main.h"
#include "gui/gui_test_support.h"
#include "gui/month_edit.h"

namespace tovrik {
namespace {

using test::kApril2019;
using test::kPickerEnd;
using test::OperationState;

const std::string kCounting = "件数確認中";

// "i/N": a round after a chunk was moved (the report, which has slashes in its dates, is not).
bool ShowsProgress(const std::string& status) {
    return status.find('/') != std::string::npos && status.find("件") == std::string::npos;
}

// The window's state each time the run lets it process events.
struct EventPoint {
    std::string Status;
    bool StartEnabled;
    bool EndEnabled;
    int Value;
    int Maximum;
};

// The real window, watched at every event-processing point; it can be told to close there.
class WatchedWindow final : public frmMain {
public:
    using frmMain::frmMain;
    std::vector<EventPoint> Points;
    // Asked at each point once it is recorded: true closes the window there.
    std::function<bool(const std::vector<EventPoint>&)> CloseWhen;
    std::optional<std::size_t> ClosedAtPoint;

    void ProcessPendingEvents() override {
        Points.push_back({Logic().StatusText(), findChild<QPushButton*>("cmdStart")->isEnabled(),
                          findChild<QPushButton*>("cmdEnd")->isEnabled(),
                          findChild<QProgressBar*>("pbrCount")->value(),
                          findChild<QProgressBar*>("pbrCount")->maximum()});
        if (!ClosedAtPoint && CloseWhen && CloseWhen(Points)) {
            ClosedAtPoint = Points.size() - 1;
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        }
        frmMain::ProcessPendingEvents();
    }
};

// A window over a SQLite suite database seeded with operations in 2019/04 and 2019/05.
class WindowRun : public testing::Test {
protected:
    void SetUp() override {
        seed_ = db_.Connect();
        // Enough operations for a run of several chunks.
        data_ = test::MakeSuite(*seed_, 200, 5, 4);
        before_ = test::TakeSnapshot(*seed_);
        state_.DbLogin.Database = "NuvralData";
        state_.DbConnection = db_.Connect();
        window_ = std::make_unique<WatchedWindow>(state_, clock_, &boxes_, Exit());
        window_->show();
        QApplication::processEvents();
    }

    // How the window ends the program; empty leaves the window's default.
    virtual frmMain::ExitAction Exit() {
        return [this] { ++exits_; };
    }

    void Pick(const DateTime& inputDate, const DateTime& inputEnd) {
        window_->findChild<MonthEdit*>("dtpInputDate")->SetValue(inputDate);
        window_->findChild<MonthEdit*>("dtpInputEnd")->SetValue(inputEnd);
        window_->Points.clear();
    }
    void PickAndStart(const DateTime& inputDate = kApril2019,
                      const DateTime& inputEnd = kPickerEnd) {
        Pick(inputDate, inputEnd);
        window_->findChild<QPushButton*>("cmdStart")->click();
    }

    QString Label2() const { return window_->findChild<QLabel*>("Label2")->text(); }
    QProgressBar& Bar() const { return *window_->findChild<QProgressBar*>("pbrCount"); }
    bool ButtonsEnabled() const {
        return window_->findChild<QPushButton*>("cmdStart")->isEnabled() &&
               window_->findChild<QPushButton*>("cmdEnd")->isEnabled();
    }
    // What became of each operation since before_.
    std::map<std::int64_t, OperationState> Changes() {
        const test::Snapshot now = test::TakeSnapshot(*seed_);
        std::map<std::int64_t, OperationState> states;
        for (std::int64_t id : test::OperationIds(before_)) {
            states[id] = test::StateOf(before_, now, id);
        }
        return states;
    }

    test::SqliteSuiteDb db_;
    std::unique_ptr<db::Connection> seed_;
    sampledata::SampleData data_;
    test::Snapshot before_;
    StartState state_;
    test::FixedClock clock_{kApril2019};
    test::RecordingMessageBoxes boxes_;
    int exits_ = 0;
    std::unique_ptr<WatchedWindow> window_;
};

// Once shown, the window names the months that need correcting, the buttons staying usable.
TEST_F(WindowRun, NamesTheAffectedMonthsOnceShown) {
    window_->Logic().Form_Shown();
    EXPECT_EQ(Label2(), QStringLiteral("修正が必要な運行: 204件\n読込年月 2019/04〜2019/05 (2か月)"));
    EXPECT_TRUE(ButtonsEnabled());
    for (const EventPoint& point : window_->Points) {
        EXPECT_TRUE(point.StartEnabled && point.EndEnabled);
    }
}

// 開始 while the scan waits on a lock another connection holds: the run starts once the scan
// has ended, and its texts replace the hint. (The close during the scan is the window logic's
// test, on PostgreSQL: the SQLite driver does not interrupt a statement waiting on a lock.)
TEST_F(WindowRun, StartDuringTheScanRunsTheCorrection) {
    Pick(kApril2019, kPickerEnd);
    seed_->Execute("BEGIN EXCLUSIVE");
    window_->CloseWhen = [this](const std::vector<EventPoint>& points) {
        if (points.size() == 1) {
            seed_->Execute("COMMIT");
            QMetaObject::invokeMethod(window_->findChild<QPushButton*>("cmdStart"),
                                      &QPushButton::click, Qt::QueuedConnection);
        }
        return false;
    };
    window_->Logic().Form_Shown();

    EXPECT_TRUE(Label2().startsWith(QStringLiteral("200件の修正が終了しました\n")))
        << Label2().toStdString();
    EXPECT_EQ(exits_, 0);
    EXPECT_TRUE(boxes_.Shown.empty());
}

struct RangeCase {
    const char* Name;
    DateTime InputDate;
    DateTime InputEnd;
    bool IncludesNextMonth;
};

class WindowRunRange : public WindowRun, public testing::WithParamInterface<RangeCase> {};

TEST_P(WindowRunRange, MovesTheSelectedOperationsAndShowsTheReport) {
    const RangeCase& c = GetParam();
    PickAndStart(c.InputDate, c.InputEnd);

    std::vector<std::int64_t> expected = data_.AffectedIds;
    if (c.IncludesNextMonth) {
        expected.insert(expected.end(), data_.OtherMonthIds.begin(), data_.OtherMonthIds.end());
    }
    for (const auto& [id, change] : Changes()) {
        const bool selected = std::find(expected.begin(), expected.end(), id) != expected.end();
        EXPECT_EQ(change, selected ? OperationState::Moved : OperationState::Untouched)
            << "operation " << id;
    }
    const QString n = QString::number(expected.size());
    EXPECT_EQ(Label2(), n + QStringLiteral("件の修正が終了しました\n開始：2019/04/10 9:05:12\n"
                                           "終了：2019/04/10 9:05:12"));
    EXPECT_EQ(Bar().maximum(), static_cast<int>(expected.size()));
    EXPECT_EQ(Bar().value(), Bar().maximum());
    EXPECT_TRUE(ButtonsEnabled());
    EXPECT_TRUE(boxes_.Shown.empty());

    // The event rounds, with both buttons off: the counting text until the first chunk is moved
    // (events come at least every 50 ms, so one round or many), then "i/N". The front end's own
    // rounds may fall between any two calls of the run: inside a chunk (the same i), between a
    // text and its bar (the bar still behind), and after the report, before the run returns.
    const std::vector<EventPoint>& points = window_->Points;
    auto point = points.begin();
    for (; point != points.end() && point->Status == kCounting; ++point) {
        EXPECT_FALSE(point->StartEnabled || point->EndEnabled);
    }
    EXPECT_NE(point, points.begin()) << "no event round while counting";
    const std::string report = n.toStdString() + "件の修正が終了しました";
    int last = 0;
    for (; point != points.end() && point->Status.rfind(report, 0) != 0; ++point) {
        EXPECT_FALSE(point->StartEnabled || point->EndEnabled) << point->Status;
        const auto slash = point->Status.find('/');
        ASSERT_NE(slash, std::string::npos) << point->Status;
        const int i = std::stoi(point->Status.substr(0, slash));
        EXPECT_EQ(point->Status, std::to_string(i) + "/" + n.toStdString());
        EXPECT_GE(i, last);
        EXPECT_LE(point->Value, i);
        EXPECT_GE(point->Value, last);
        EXPECT_EQ(point->Maximum, static_cast<int>(expected.size()));
        last = i;
    }
    EXPECT_EQ(last, static_cast<int>(expected.size()));
    for (; point != points.end(); ++point) EXPECT_EQ(point->Status.rfind(report, 0), 0U);
    EXPECT_EQ(exits_, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, WindowRunRange,
    testing::Values(
        RangeCase{"SameMonthOnBoth", kApril2019, kPickerEnd, false},
        RangeCase{"EarlierFirst", {2019, 4, 30, 23, 0, 0, 0}, {2019, 5, 1, 0, 0, 0, 0}, true},
        RangeCase{"LaterFirst", {2019, 5, 31, 0, 0, 0, 0}, {2019, 4, 1, 0, 0, 0, 0}, true}),
    [](const testing::TestParamInfo<RangeCase>& p) { return std::string(p.param.Name); });

TEST_F(WindowRun, StartKeepsTheFocusAcrossARun) {
    QApplication::setActiveWindow(window_.get());
    auto* start = window_->findChild<QPushButton*>("cmdStart");
    start->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    ASSERT_TRUE(start->hasFocus());
    PickAndStart();
    EXPECT_TRUE(start->hasFocus());
}

TEST_F(WindowRun, NothingToCorrectShowsItsTextWithTheBarAtZero) {
    PickAndStart();
    ASSERT_EQ(Bar().value(), static_cast<int>(data_.AffectedIds.size()));
    before_ = test::TakeSnapshot(*seed_);

    PickAndStart();  // already moved
    EXPECT_EQ(Label2(), QStringLiteral("修正が必要なデータはありません"));
    EXPECT_EQ(Bar().value(), 0);
    EXPECT_TRUE(ButtonsEnabled());
    for (const auto& [id, change] : Changes()) {
        EXPECT_EQ(change, OperationState::Untouched) << "operation " << id;
    }

    PickAndStart({2018, 1, 1, 0, 0, 0, 0}, {2017, 12, 1, 0, 0, 0, 0});  // no operations at all
    EXPECT_EQ(Label2(), QStringLiteral("修正が必要なデータはありません"));
    EXPECT_EQ(Bar().value(), 0);
    EXPECT_TRUE(ButtonsEnabled());
    EXPECT_TRUE(boxes_.Shown.empty());
}

TEST_F(WindowRun, AFailingRunShowsOneErrorBoxAndEnablesTheButtons) {
    seed_->Execute("DROP TABLE EventLog");
    PickAndStart();
    ASSERT_EQ(boxes_.Shown.size(), 1U);
    EXPECT_EQ(boxes_.Shown[0].Caption, "Nuvral日付修正");
    EXPECT_EQ(boxes_.Shown[0].Icon, MessageIcon::Exclamation);
    EXPECT_EQ(boxes_.Shown[0].Text.rfind("処理中にエラーが発生しました。\r\n", 0), 0U);
    EXPECT_EQ(Label2(), QString());
    EXPECT_TRUE(ButtonsEnabled());
    EXPECT_EQ(exits_, 0);
}

// The number of "i/N" rounds before the close: 0 closes in the first round, while counting.
class WindowClosedMidRun : public WindowRun, public testing::WithParamInterface<std::size_t> {};

// Closing at an event point ends the program; the connection is closed and released once the
// run has returned, no operation is half moved, and every operation shown as done stays moved.
TEST_P(WindowClosedMidRun, EndsTheProgramAndLeavesEveryOperationWholeOrUntouched) {
    window_->CloseWhen = [rounds = GetParam()](const std::vector<EventPoint>& points) {
        const auto shown = std::count_if(points.begin(), points.end(), [](const EventPoint& p) {
            return ShowsProgress(p.Status);
        });
        return static_cast<std::size_t>(shown) == rounds;
    };
    PickAndStart();

    EXPECT_EQ(exits_, 1);
    EXPECT_TRUE(window_->Unloaded());
    EXPECT_FALSE(window_->isVisible());
    EXPECT_EQ(state_.DbConnection, nullptr);
    ASSERT_TRUE(window_->ClosedAtPoint);
    EXPECT_EQ(window_->Points.size(), *window_->ClosedAtPoint + 1)
        << "the run went on after the close";
    EXPECT_TRUE(boxes_.Shown.empty());

    int moved = 0;
    for (const auto& [id, change] : Changes()) {
        EXPECT_NE(change, OperationState::HalfMoved) << "operation " << id;
        if (change == OperationState::Moved) {
            ++moved;
            EXPECT_NE(std::find(data_.AffectedIds.begin(), data_.AffectedIds.end(), id),
                      data_.AffectedIds.end());
        }
    }
    // What the window last showed as done ("i/N") stays. (A chunk whose commit the close came
    // too late to stop stays too, unshown.)
    int shownDone = 0;
    for (const EventPoint& point : window_->Points) {
        if (ShowsProgress(point.Status)) shownDone = std::stoi(point.Status);
    }
    EXPECT_GE(moved, shownDone);
}

INSTANTIATE_TEST_SUITE_P(Points, WindowClosedMidRun, testing::Values(0U, 1U, 2U),
                         [](const testing::TestParamInfo<std::size_t>& p) {
                             return p.param == 0 ? std::string("WhileCounting")
                                                 : "AtProgressRound" + std::to_string(p.param);
                         });

// Without an injected exit action the window leaves the application's event loop: the program's
// exec() returns as soon as the run has unwound, with the connection released.
class WindowDefaultExit : public WindowRun {
protected:
    frmMain::ExitAction Exit() override { return {}; }
};

TEST_F(WindowDefaultExit, ClosingMidRunLeavesTheEventLoop) {
    Pick(kApril2019, kPickerEnd);
    window_->CloseWhen = [](const std::vector<EventPoint>& points) { return points.size() == 2; };

    // Only the window may end the loop: not Qt's last-window rule, and 1 after a time-out.
    QApplication::setQuitOnLastWindowClosed(false);
    QTimer::singleShot(20'000, [] { QCoreApplication::exit(1); });
    QMetaObject::invokeMethod(window_->findChild<QPushButton*>("cmdStart"), &QPushButton::click,
                              Qt::QueuedConnection);
    EXPECT_EQ(QApplication::exec(), 0);
    QApplication::setQuitOnLastWindowClosed(true);
    EXPECT_TRUE(window_->Unloaded());
    EXPECT_EQ(window_->Points.size(), 2U);
    EXPECT_EQ(state_.DbConnection, nullptr);
}

}  // namespace
}  // namespace tovrik
