#include "window/main_window_logic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "correction/run_fixture.h"

namespace tovrik {
namespace {

using test::kApril2019;
using test::kPickerEnd;
using test::OperationState;

// A window without a toolkit: keeps what the logic sets, records every call in order and, like a
// real window, moves the focus off 開始 when 開始 is disabled while it has it. Its close command
// reaches Form_Unload, as a toolkit's close event does.
class FakeWindow final : public MainWindowControls {
public:
    void SetLabelText(FormLabel label, const std::string& text) override {
        if (label == FormLabel::Label2) Label2.push_back(text);
        Calls.push_back("label");
    }
    void SetProgressMaximum(int maximum) override {
        Maximum = maximum;
        Calls.push_back("max");
    }
    void SetProgressValue(int value) override {
        Value = value;
        Calls.push_back("value");
    }
    void SetButtonEnabled(FormButton button, bool enabled) override {
        Enabled[button] = enabled;
        if (button == FormButton::cmdStart && !enabled) StartFocused = false;
        Calls.push_back(enabled ? "enable" : "disable");
    }
    DateTime PickerValue(FormPicker picker) const override { return Pickers.at(picker); }
    void SetPickerValue(FormPicker picker, const DateTime& value) override {
        Pickers[picker] = value;
        Calls.push_back("picker");
    }
    bool StartHasFocus() const override { return StartFocused; }
    void FocusStart() override {
        StartFocused = true;
        Calls.push_back("focus");
    }
    void ProcessPendingEvents() override {
        Calls.push_back("events");
        if (Enabled[FormButton::cmdStart] || Enabled[FormButton::cmdEnd]) ButtonsOnInEvents = true;
        if (OnEvents) OnEvents(++Rounds);
    }
    void CloseWindow() override {
        Calls.push_back("close");
        Logic->Form_Unload();
    }
    void EndProgram() override {
        Calls.push_back("end");
        ++Exits;
        if (WhenEnded) WhenEnded();
    }

    MainWindowLogic* Logic = nullptr;
    std::map<FormButton, bool> Enabled;
    std::map<FormPicker, DateTime> Pickers;
    int Value = 0;
    int Maximum = 0;
    std::vector<std::string> Label2;  // every text Label2 was given, in order
    bool ButtonsOnInEvents = false;   // a button was enabled while events were processed
    bool StartFocused = false;
    int Rounds = 0;
    int Exits = 0;
    std::vector<std::string> Calls;
    // Events handled in round 1, 2, ...: what the operator did while the run let events through.
    std::function<void(int round)> OnEvents;
    std::function<void()> WhenEnded;
};

// The logic over a fake window and `state`, loaded.
struct LoadedWindow {
    explicit LoadedWindow(StartState& state) : logic(window, state, clock, boxes) {
        window.Logic = &logic;
        logic.Form_Load();
        window.Calls.clear();
    }
    FakeWindow window;
    test::TwoTimesClock clock{kApril2019, kApril2019};
    test::RecordingMessageBoxes boxes;
    MainWindowLogic logic;
};

// A SQLite suite database with operations to correct in 2019/04 (enough for several chunks, so
// that a run lets events through several times), and the logic over it with 2019/04 picked.
class LogicRun : public testing::Test {
protected:
    void SetUp() override {
        seed_ = db_.Connect();
        data_ = test::MakeSuite(*seed_, 200, 5, 4);
        before_ = test::TakeSnapshot(*seed_);
        state_.DbConnection = db_.Connect();
        loaded_ = std::make_unique<LoadedWindow>(state_);
        Window().Pickers[FormPicker::dtpInputDate] = kApril2019;
        Window().Pickers[FormPicker::dtpInputEnd] = kPickerEnd;
    }

    FakeWindow& Window() { return loaded_->window; }
    MainWindowLogic& Logic() { return loaded_->logic; }
    test::RecordingMessageBoxes& Boxes() { return loaded_->boxes; }
    // What became of each operation since before_.
    std::map<OperationState, int> Outcome() {
        const test::Snapshot now = test::TakeSnapshot(*seed_);
        std::map<OperationState, int> counts;
        for (std::int64_t id : test::OperationIds(before_)) {
            ++counts[test::StateOf(before_, now, id)];
        }
        return counts;
    }
    int Affected() const { return static_cast<int>(data_.AffectedIds.size()); }

    test::SqliteSuiteDb db_;
    std::unique_ptr<db::Connection> seed_;
    sampledata::SampleData data_;
    test::Snapshot before_;
    StartState state_;
    std::unique_ptr<LoadedWindow> loaded_;
};

// Without a connection 開始 does nothing; the window still unloads, once, whichever way and
// however often it is closed, and nothing of it runs afterwards, not even a click on 開始.
TEST(WindowLogic, WithoutAConnectionStartDoesNothingAndTheUnloadEndsTheProgramOnce) {
    StartState state;
    LoadedWindow w(state);
    w.logic.cmdStart_Click();
    EXPECT_TRUE(w.window.Calls.empty());

    w.logic.cmdEnd_Click();
    EXPECT_EQ(w.window.Calls, (std::vector<std::string>{"close", "end"}));
    w.window.Calls.clear();
    w.logic.Form_Unload();  // the window's own close command after the Close button
    w.logic.cmdEnd_Click();
    w.logic.cmdStart_Click();
    w.logic.Counting();
    w.logic.Selected(1);
    w.logic.Committed(1, 1);
    EXPECT_FALSE(w.logic.GoOn());
    EXPECT_EQ(w.window.Exits, 1);
    EXPECT_EQ(w.window.Calls, (std::vector<std::string>{"close"}));
    EXPECT_TRUE(w.boxes.Shown.empty());
}

struct HintCase {
    const char* Name;
    int Affected;    // in 2019/04
    int OtherMonth;  // in 2019/05
    const char* Fault;
    const char* Label2;  // nothing: never set
};

class MonthsHint : public testing::TestWithParam<HintCase> {};

// Once shown, the window names the months that need correcting, without touching the buttons;
// a scan that fails leaves Label2 as it was and shows no box.
TEST_P(MonthsHint, NamesTheAffectedMonthsOrNothing) {
    const HintCase& c = GetParam();
    test::SqliteSuiteDb db;
    auto seed = db.Connect();
    test::MakeSuite(*seed, c.Affected, 3, c.OtherMonth);
    if (c.Fault != nullptr) seed->Execute(c.Fault);
    StartState state;
    state.DbConnection = db.Connect();
    LoadedWindow w(state);
    w.logic.Form_Shown();
    w.logic.Form_Shown();  // once only

    EXPECT_EQ(w.window.Label2, c.Label2 == nullptr ? std::vector<std::string>{}
                                                   : std::vector<std::string>{c.Label2});
    EXPECT_EQ(std::count(w.window.Calls.begin(), w.window.Calls.end(), "disable"), 0);
    EXPECT_TRUE(w.boxes.Shown.empty());
    EXPECT_FALSE(w.logic.Scanning());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MonthsHint,
    testing::Values(
        HintCase{"TwoMonths", 12, 4, nullptr,
                 "修正が必要な運行: 16件\r\n読込年月 2019/04〜2019/05 (2か月)"},
        HintCase{"OneMonth", 5, 0, nullptr, "修正が必要な運行: 5件\r\n読込年月 2019/04"},
        HintCase{"None", 0, 0, nullptr, "2008/01/01 より前の運行はありません"},
        HintCase{"ScanFails", 5, 0, "DROP TABLE OpData", nullptr}),
    [](const testing::TestParamInfo<HintCase>& p) { return std::string(p.param.Name); });

#ifndef _WIN32
// 開始 and the close while the scan waits on a lock that another connection holds: 開始 cancels
// the scan and runs the correction; the close cancels it and ends the program at once.
TEST(MonthsHintWhileWaiting, StartRunsTheCorrectionAndCloseEndsTheProgram) {
    for (const bool start : {true, false}) {
        test::PgSuiteDb db;
        auto locker = db.Connect();
        test::MakeSuite(*locker, 6, 1, 0);
        locker->BeginTransaction();
        locker->Execute("LOCK TABLE General IN ACCESS EXCLUSIVE MODE");
        StartState state;
        state.DbConnection = db.Connect();
        LoadedWindow w(state);
        w.window.Pickers[FormPicker::dtpInputDate] = kApril2019;
        w.window.Pickers[FormPicker::dtpInputEnd] = kPickerEnd;
        w.window.OnEvents = [&](int round) {
            if (round != 1) return;
            if (!start) return w.logic.cmdEnd_Click();
            locker->Rollback();  // the run that follows needs the table
            w.logic.cmdStart_Click();
        };
        w.logic.Form_Shown();

        if (start) {
            ASSERT_FALSE(w.window.Label2.empty());
            EXPECT_EQ(w.window.Label2.back().rfind("6件の修正が終了しました\r\n", 0), 0U)
                << w.window.Label2.back();
            EXPECT_EQ(w.window.Exits, 0);
        } else {
            EXPECT_TRUE(w.window.Label2.empty());
            EXPECT_EQ(w.window.Exits, 1);
            EXPECT_EQ(state.DbConnection, nullptr);
            locker->Rollback();
        }
        EXPECT_TRUE(w.boxes.Shown.empty());
    }
}
#endif

struct WordingCase {
    const char* Name;
    const char* Fault;     // a statement that breaks the run, or none
    DateTime InputDate;    // the first picker: 2019/04 has operations to correct, 2019/06 none
    int Moved;             // the bar's maximum and value at the end
    std::vector<std::string> Label2;  // its texts, with "#" for every "i/N"
};

class RunWording : public LogicRun, public testing::WithParamInterface<WordingCase> {};

// What the window shows of a run, whatever the toolkit: Label2's texts in order, the bar, the
// buttons (off while events are processed, 開始 switched before 閉じる) and the error box.
TEST_P(RunWording, ShowsTheRunOnLabel2TheBarTheButtonsAndTheBox) {
    const WordingCase& c = GetParam();
    if (c.Fault != nullptr) seed_->Execute(c.Fault);
    Window().Pickers[FormPicker::dtpInputDate] = c.InputDate;
    Window().Pickers[FormPicker::dtpInputEnd] = c.InputDate;
    Logic().cmdStart_Click();

    std::vector<std::string> texts;
    for (const std::string& text : Window().Label2) {
        const bool progress = !text.empty() && text.find('/') != std::string::npos &&
                              text.find("件") == std::string::npos;
        if (!progress) {
            texts.push_back(text);
        } else if (texts.back() != "#") {
            texts.push_back("#");
        }
    }
    EXPECT_EQ(texts, c.Label2);
    EXPECT_FALSE(Window().ButtonsOnInEvents);
    EXPECT_TRUE(Window().Enabled[FormButton::cmdStart] && Window().Enabled[FormButton::cmdEnd]);
    if (c.Fault == nullptr) {
        EXPECT_TRUE(Boxes().Shown.empty());
        EXPECT_EQ(Window().Value, c.Moved);
        EXPECT_EQ(Window().Maximum, c.Moved);
        return;
    }
    ASSERT_EQ(Boxes().Shown.size(), 1U);
    const test::ShownBox& box = Boxes().Shown[0];
    EXPECT_EQ(box.Text.rfind("処理中にエラーが発生しました。\r\n", 0), 0U) << box.Text;
    EXPECT_NE(box.Text.find("EventLog"), std::string::npos) << box.Text;
    EXPECT_EQ(box.Caption, "Nuvral日付修正");
    EXPECT_EQ(box.Icon, MessageIcon::Exclamation);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunWording,
    testing::Values(
        WordingCase{"Corrected", nullptr, kApril2019, 200,
                    {"", "件数確認中", "#", "200件の修正が終了しました",
                     "200件の修正が終了しました\r\n開始：2019/04/10 9:05:12\r\n"
                     "終了：2019/04/10 9:05:12"}},
        WordingCase{"NoData", nullptr, {2019, 6, 1}, 0, {"", "件数確認中", "修正が必要なデータはありません"}},
        WordingCase{"Failed", "DROP TABLE EventLog", kApril2019, 0, {"", "件数確認中", ""}}),
    [](const testing::TestParamInfo<WordingCase>& p) { return std::string(p.param.Name); });

struct FocusCase {
    const char* Name;
    bool StartFocused;
    bool BreakTheRun;  // the run ends with its error box instead of the report
};

class FocusAfterRun : public LogicRun, public testing::WithParamInterface<FocusCase> {};

// Disabling 開始 during the run takes the focus off it; it gets the focus back only if it had it.
TEST_P(FocusAfterRun, ReturnsToStartOnlyIfStartHadIt) {
    const FocusCase& c = GetParam();
    if (c.BreakTheRun) seed_->Execute("DROP TABLE EventLog");
    Window().StartFocused = c.StartFocused;
    Logic().cmdStart_Click();

    EXPECT_EQ(Window().StartFocused, c.StartFocused);
    const auto focus = std::find(Window().Calls.begin(), Window().Calls.end(), "focus");
    if (c.StartFocused) {
        ASSERT_NE(focus, Window().Calls.end());
        EXPECT_EQ(focus + 1, Window().Calls.end()) << "the focus moves after the run's last call";
    } else {
        EXPECT_EQ(focus, Window().Calls.end());
    }
    EXPECT_TRUE(Window().Enabled[FormButton::cmdStart]);
    EXPECT_TRUE(Window().Enabled[FormButton::cmdEnd]);
    EXPECT_EQ(Boxes().Shown.size(), c.BreakTheRun ? 1U : 0U);
    EXPECT_EQ(Window().Exits, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, FocusAfterRun,
                         testing::Values(FocusCase{"StartFocused", true, false},
                                         FocusCase{"PickerFocused", false, false},
                                         FocusCase{"StartFocusedFailingRun", true, true}),
                         [](const testing::TestParamInfo<FocusCase>& p) {
                             return std::string(p.param.Name);
                         });

// Clicks that reach the window while the run lets events through (before the run has disabled
// the buttons, or from a toolkit that still delivers them) start no second run.
TEST_F(LogicRun, AClickOnStartDuringARunStartsNoSecondRun) {
    Window().OnEvents = [this](int) { Logic().cmdStart_Click(); };
    Logic().cmdStart_Click();

    EXPECT_GE(Window().Rounds, 2);
    EXPECT_EQ(
        Logic().StatusText().rfind(std::to_string(Affected()) + "件の修正が終了しました\r\n", 0),
        0U)
        << Logic().StatusText();
    EXPECT_EQ(Window().Value, Affected());
    EXPECT_EQ(Outcome(), (std::map<OperationState, int>{
                             {OperationState::Untouched,
                              static_cast<int>(test::OperationIds(before_).size()) - Affected()},
                             {OperationState::Moved, Affected()}}));
    EXPECT_TRUE(Boxes().Shown.empty());
    EXPECT_FALSE(Logic().Running());

    Window().OnEvents = nullptr;
    before_ = test::TakeSnapshot(*seed_);
    Logic().cmdStart_Click();  // the guard is lifted once the run has ended
    EXPECT_EQ(Logic().StatusText(), "修正が必要なデータはありません");
}

// The window shows nothing of the journal: a run keeps it in the settings folder, and a journal
// that cannot be written is the run's own error box, with nothing moved.
TEST_F(LogicRun, EveryRunKeepsItsJournalInTheSettingsFolder) {
    test::TempDir settings;
    state_.Settings.SettingsFolder = settings.Str();
    test::WriteFile(settings.Path() / "TovrikJournal", "a file, not a folder");
    Logic().cmdStart_Click();
    ASSERT_EQ(Boxes().Shown.size(), 1u);
    EXPECT_NE(Boxes().Shown[0].Text.find("作業記録を書けません"), std::string::npos)
        << Boxes().Shown[0].Text;
    EXPECT_EQ(Outcome()[OperationState::Untouched],
              static_cast<int>(test::OperationIds(before_).size()));

    std::filesystem::remove(settings.Path() / "TovrikJournal");
    Logic().cmdStart_Click();
    ASSERT_EQ(Boxes().Shown.size(), 1u);
    std::vector<std::filesystem::path> journals;
    for (const auto& entry : std::filesystem::directory_iterator(settings.Path() / "TovrikJournal")) {
        journals.push_back(entry.path());
    }
    ASSERT_EQ(journals.size(), 1u);
    EXPECT_EQ(journals[0].filename().string(), "20190410-090512.tsv");  // the run's start
    EXPECT_EQ(static_cast<int>(ReadJournal(journals[0].string()).Committed.size()), Affected());
}

enum class UnloadBy { CloseButton, WindowCommand };

struct MidRunCase {
    const char* Name;
    UnloadBy By;
    bool Moving;  // unloads in the first round after a chunk was moved, else in the first round
};

class UnloadDuringRun : public LogicRun, public testing::WithParamInterface<MidRunCase> {};

// The unload only marks the window while the run still uses the connection: the run stops at
// once, rolls back what it had not committed, and only then is the connection released and the
// program ended, once. The window sees nothing of the run after the unload.
TEST_P(UnloadDuringRun, EndsTheProgramAfterTheRunWithEveryOperationWholeOrUntouched) {
    const MidRunCase& c = GetParam();
    std::size_t callsAtUnload = 0;
    int exitsAtUnload = -1;
    int unloadRound = 0;
    // Counting may take several rounds (one at least every 50 ms): the status tells the phase.
    Window().OnEvents = [&](int round) {
        const bool moving = Logic().StatusText().find('/') != std::string::npos;
        if (unloadRound != 0 || moving != c.Moving) return;
        unloadRound = round;
        if (c.By == UnloadBy::CloseButton) {
            Logic().cmdEnd_Click();
        } else {
            Logic().Form_Unload();
        }
        exitsAtUnload = Window().Exits;
        callsAtUnload = Window().Calls.size();
    };
    bool releasedAtEnd = false;
    bool runOverAtEnd = false;
    Window().WhenEnded = [&] {
        releasedAtEnd = state_.DbConnection == nullptr;
        runOverAtEnd = !Logic().Running();
    };
    Window().StartFocused = true;
    Logic().cmdStart_Click();

    EXPECT_EQ(exitsAtUnload, 0) << "the program ended while the run still used the connection";
    EXPECT_EQ(Window().Exits, 1);
    EXPECT_TRUE(releasedAtEnd);
    EXPECT_TRUE(runOverAtEnd);
    EXPECT_EQ(state_.DbConnection, nullptr);
    ASSERT_NE(unloadRound, 0);
    EXPECT_EQ(Window().Rounds, unloadRound) << "the run went on after the unload";
    ASSERT_EQ(Window().Calls.size(), callsAtUnload + 1);
    EXPECT_EQ(Window().Calls.back(), "end");
    EXPECT_TRUE(Boxes().Shown.empty());

    const std::map<OperationState, int> outcome = Outcome();
    EXPECT_EQ(outcome.count(OperationState::HalfMoved), 0U);
    EXPECT_LT(outcome.count(OperationState::Moved) ? outcome.at(OperationState::Moved) : 0,
              Affected());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnloadDuringRun,
    testing::Values(MidRunCase{"CloseButtonWhileCounting", UnloadBy::CloseButton, false},
                    MidRunCase{"WindowCommandWhileCounting", UnloadBy::WindowCommand, false},
                    MidRunCase{"CloseButtonWhileMoving", UnloadBy::CloseButton, true},
                    MidRunCase{"WindowCommandWhileMoving", UnloadBy::WindowCommand, true}),
    [](const testing::TestParamInfo<MidRunCase>& p) { return std::string(p.param.Name); });

}  // namespace
}  // namespace tovrik
