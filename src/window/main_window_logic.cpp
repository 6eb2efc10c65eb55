#include "window/main_window_logic.h"

#include "correction/background_run.h"
#include "startup/journal_setup.h"

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

void MainWindowLogic::cmdStart_Click() {
    // The run lets events through before it disables the buttons; a second click then must not
    // start a second run on the same connection inside the first.
    if (running_ || unloaded_) return;
    if (!state_.DbConnection) return;
    running_ = true;
    // Disabling the focused button hands the focus on to a picker; give it back afterwards so
    // that Enter or Space starts the next run, as before this one.
    const bool startHadFocus = controls_.StartHasFocus();
    // Every run keeps its journal; the window shows nothing of it (a journal that cannot be
    // written fails the run with the run's own error box).
    const std::optional<JournalSetup> journal = JournalSetupOf(state_);
    RunCorrectionInBackground(*state_.DbConnection, *this, boxes_, clock_,
                              controls_.PickerValue(FormPicker::dtpInputDate),
                              controls_.PickerValue(FormPicker::dtpInputEnd), {},
                              journal ? &*journal : nullptr);
    running_ = false;
    if (unloaded_) {
        // The window unloaded during the run, which has now stopped and rolled back what it had
        // not committed: the unload's own work is done now.
        CloseConnection();
        controls_.EndProgram();
        return;
    }
    if (startHadFocus) controls_.FocusStart();
}

void MainWindowLogic::cmdEnd_Click() { controls_.CloseWindow(); }

void MainWindowLogic::Form_Unload() {
    if (unloaded_) return;
    unloaded_ = true;
    // A run in progress still uses the connection on its own thread: it is told to stop when
    // this event round ends, and cmdStart_Click closes the connection and ends the program.
    if (running_) return;
    CloseConnection();
    controls_.EndProgram();
}

void MainWindowLogic::CloseConnection() {
    if (state_.DbConnection) state_.DbConnection->Close();
    state_.DbConnection.reset();
}

void MainWindowLogic::SetStatusText(const std::string& text) {
    if (unloaded_) return;
    statusText_ = text;
    controls_.SetLabelText(FormLabel::Label2, text);
}

std::string MainWindowLogic::StatusText() const { return statusText_; }

void MainWindowLogic::SetProgressMaximum(int maximum) {
    if (unloaded_) return;
    controls_.SetProgressMaximum(maximum);
}

void MainWindowLogic::SetProgressValue(int value) {
    if (unloaded_) return;
    controls_.SetProgressValue(value);
}

void MainWindowLogic::SetStartEnabled(bool enabled) {
    if (unloaded_) return;
    controls_.SetButtonEnabled(FormButton::cmdStart, enabled);
}

void MainWindowLogic::SetEndEnabled(bool enabled) {
    if (unloaded_) return;
    controls_.SetButtonEnabled(FormButton::cmdEnd, enabled);
}

bool MainWindowLogic::ProcessEvents() {
    if (unloaded_) return false;
    controls_.ProcessPendingEvents();
    return !unloaded_;
}

}  // namespace tovrik
