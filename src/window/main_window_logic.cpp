#include "window/main_window_logic.h"

#include "correction/background_run.h"
#include "correction/month_scan.h"
#include "startup/journal_setup.h"
#include "window/run_texts.h"

namespace tovrik {

MainWindowLogic::MainWindowLogic(MainWindowControls& controls, StartState& state,
                                 const Clock& clock, MessageBoxes& boxes)
    : controls_(controls), state_(state), clock_(clock), boxes_(boxes) {}

void MainWindowLogic::Form_Load() {
    // dtpInputEnd's design-time value, set here so that every toolkit starts from the same one.
    controls_.SetPickerValue(FormPicker::dtpInputEnd, kInitialInputEnd);
    controls_.SetPickerValue(FormPicker::dtpInputDate, clock_.Now());
    controls_.SetProgressValue(0);
    controls_.SetLabelText(FormLabel::Label3, "接続データベース：" + state_.DbLogin.Database);
    controls_.SetLabelText(FormLabel::Label5, state_.ServerFileMode ? "ホスティング使用" : "");
}

namespace {

// The scan's events: the window handles its events, and the scan stops once the window has
// unloaded or 開始 was clicked.
class HintEvents final : public RunEvents {
public:
    HintEvents(MainWindowControls& controls, const bool& unloaded, const bool& startWanted)
        : controls_(controls), unloaded_(unloaded), startWanted_(startWanted) {}
    bool GoOn() override {
        if (!Stopped()) controls_.ProcessPendingEvents();
        return !Stopped();
    }

private:
    bool Stopped() const { return unloaded_ || startWanted_; }
    MainWindowControls& controls_;
    const bool& unloaded_;
    const bool& startWanted_;
};

}  // namespace

void MainWindowLogic::Form_Shown() {
    if (shown_ || unloaded_ || running_ || !state_.DbConnection) return;
    shown_ = true;
    scanning_ = true;
    std::optional<std::vector<MonthScan>> months;
    HintEvents events(controls_, unloaded_, startWanted_);
    try {
        RunInBackground(*state_.DbConnection, events, [&](RunEvents&) {
            months = ScanAffectedMonths(*state_.DbConnection);
        });
    } catch (const std::exception&) {
        months.reset();  // cancelled, or failed: no hint
    }
    scanning_ = false;
    if (unloaded_) return FinishUnload();
    if (startWanted_) {
        startWanted_ = false;
        cmdStart_Click();  // the run's texts replace the hint
        return;
    }
    if (months) SetStatusText(run_texts::MonthsHint(*months));
}

void MainWindowLogic::cmdStart_Click() {
    // The scan for the hint holds the connection: it is cancelled first.
    if (scanning_) {
        startWanted_ = true;
        return;
    }
    // The run lets events through while it works; a second click then must not start a second
    // run on the same connection inside the first.
    if (running_ || unloaded_) return;
    if (!state_.DbConnection) return;
    running_ = true;
    // Disabling the focused button hands the focus on to a picker; give it back afterwards so
    // that Enter or Space starts the next run, as before this one.
    const bool startHadFocus = controls_.StartHasFocus();
    const DateTime inputDate = controls_.PickerValue(FormPicker::dtpInputDate);
    const DateTime inputEnd = controls_.PickerValue(FormPicker::dtpInputEnd);
    // Every run keeps its journal; the window shows nothing of it (a journal that cannot be
    // written fails the run with the run's own error box).
    const std::optional<JournalSetup> journal = JournalSetupOf(state_);
    SetStatusText("");
    controls_.SetProgressValue(0);
    // The buttons go off before events are first processed, so that no second run can start
    // (and the window cannot close) inside this one.
    SetButtonsEnabled(false);
    RunResult result;
    try {
        RunInBackground(*state_.DbConnection, *this, [&](RunEvents& events) {
            result = RunCorrection(*state_.DbConnection, events, clock_, inputDate, inputEnd, {},
                                   journal ? &*journal : nullptr);
        });
    } catch (const std::exception& error) {
        // The run reports its own failures; this is the last resort (out of memory).
        result.Outcome = RunOutcome::Failed;
        result.Error = {RunError::Kind::Database, error.what()};
    }
    running_ = false;
    // The window unloaded during the run, which has now stopped with every chunk committed or
    // rolled back.
    if (unloaded_) return FinishUnload();
    ShowOutcome(result);
    if (startHadFocus) controls_.FocusStart();
}

void MainWindowLogic::ShowOutcome(const RunResult& result) {
    switch (result.Outcome) {
        case RunOutcome::NoData:
            SetStatusText(run_texts::kNoData);
            break;
        case RunOutcome::Corrected:
            SetStatusText(run_texts::Finished(result.Operations));
            SetStatusText(run_texts::Report(result));
            break;
        case RunOutcome::Failed:
            boxes_.Show(run_texts::ErrorBox(result.Error.Text), run_texts::kCaption,
                        MessageIcon::Exclamation);
            SetStatusText("");
            break;
        case RunOutcome::Abandoned:
            break;
    }
    SetButtonsEnabled(true);
}

void MainWindowLogic::cmdEnd_Click() { controls_.CloseWindow(); }

void MainWindowLogic::Form_Unload() {
    if (unloaded_) return;
    unloaded_ = true;
    // A run or the scan still uses the connection on its own thread: it is told to stop when
    // this event round ends, and then the connection is closed and the program ended.
    if (running_ || scanning_) return;
    FinishUnload();
}

void MainWindowLogic::FinishUnload() {
    CloseConnection();
    controls_.EndProgram();
}

void MainWindowLogic::CloseConnection() {
    if (state_.DbConnection) state_.DbConnection->Close();
    state_.DbConnection.reset();
}

void MainWindowLogic::SetStatusText(const std::string& text) {
    statusText_ = text;
    controls_.SetLabelText(FormLabel::Label2, text);
}

void MainWindowLogic::SetButtonsEnabled(bool enabled) {
    controls_.SetButtonEnabled(FormButton::cmdStart, enabled);
    controls_.SetButtonEnabled(FormButton::cmdEnd, enabled);
}

void MainWindowLogic::Counting() {
    if (unloaded_) return;
    SetStatusText(run_texts::kCounting);
}

void MainWindowLogic::Selected(int total) {
    if (unloaded_) return;
    progressMaximum_ = total;
    controls_.SetProgressMaximum(total);
}

void MainWindowLogic::Committed(int done, int total) {
    if (unloaded_) return;
    if (total > progressMaximum_) Selected(total);
    SetStatusText(run_texts::Progress(done, total));
    controls_.SetProgressValue(done);
}

bool MainWindowLogic::GoOn() {
    if (unloaded_) return false;
    controls_.ProcessPendingEvents();
    return !unloaded_;
}

}  // namespace tovrik
