#pragma once

#include "common/message_box.h"
#include "correction/correction_run.h"
#include "correction/run_events.h"
#include "platform/platform.h"
#include "startup/start_state.h"
#include "window/main_window_controls.h"

namespace tovrik {

// dtpInputEnd's value when the window opens, until the operator changes it.
inline constexpr DateTime kInitialInputEnd{2019, 4, 1, 0, 0, 0, 0};

// What frmMain does, whatever toolkit draws it: the initial values, the Start and Close buttons,
// the unload (also in the middle of a run) and the run's view of the window. A toolkit's frmMain
// creates its controls, implements MainWindowControls and forwards its events to the handlers
// here, named as the suite's window names them.
class MainWindowLogic final : public RunEvents {
public:
    // `state` supplies DbLogin.Database, ServerFileMode and DbConnection, which the unload closes
    // and releases. All references must outlive this object. Does not call Form_Load.
    MainWindowLogic(MainWindowControls& controls, StartState& state, const Clock& clock,
                    MessageBoxes& boxes);

    // The window is loaded: the first picker shows now, the bar 0, Label3 the database and
    // Label5 whether hosting is in use.
    void Form_Load();
    // The window is on the screen: Label2 names the months that hold operations to correct, from
    // a scan on the worker thread while the window stays responsive. 開始 meanwhile cancels the
    // scan and starts the run; a close cancels it and unloads. A scan that fails leaves Label2
    // empty (the run reports the same fault if it meets it). Once, and only with a connection.
    void Form_Shown();
    // Runs the correction over the pickers' months to its end: Label2 says what it does, the
    // bar follows the committed operations, the buttons are off meanwhile, and a failure shows
    // the error box. Does nothing during a run, after the unload, or without a connection.
    void cmdStart_Click();
    // Closes the window, which unloads it.
    void cmdEnd_Click();
    // The window unloads, once: closes and releases DbConnection and ends the program. During a
    // run it only marks the unload; the run then stops and cmdStart_Click finishes the unload.
    void Form_Unload();

    // True once the window has unloaded; nothing of it runs afterwards.
    bool Unloaded() const { return unloaded_; }
    bool Running() const { return running_; }
    bool Scanning() const { return scanning_; }
    MessageBoxes& Boxes() { return boxes_; }
    // Label2's text as last set; line breaks are "\r\n".
    const std::string& StatusText() const { return statusText_; }

    // RunEvents, as the run reports them: each does nothing once the window has unloaded.
    void Counting() override;
    void Selected(int total) override;
    void Committed(int done, int total) override;
    // Lets the window handle its pending events; false once the window has unloaded, also by
    // an event handled in this round.
    bool GoOn() override;

private:
    void CloseConnection();
    // After the unload came during a job: the unload's own work.
    void FinishUnload();
    // The run's end on Label2, the buttons and the error box.
    void ShowOutcome(const RunResult& result);
    void SetStatusText(const std::string& text);
    void SetButtonsEnabled(bool enabled);

    MainWindowControls& controls_;
    StartState& state_;
    const Clock& clock_;
    MessageBoxes& boxes_;
    std::string statusText_;
    int progressMaximum_ = 0;
    bool running_ = false;
    bool scanning_ = false;
    bool shown_ = false;
    bool startWanted_ = false;  // 開始 was clicked during the scan
    bool unloaded_ = false;
};

}  // namespace tovrik
