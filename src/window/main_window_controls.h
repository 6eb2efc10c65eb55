#pragma once

#include <string>

#include "common/date_time.h"

namespace tovrik {

// The controls of frmMain that its behaviour reads or changes, by the names the suite uses.
enum class FormLabel { Label2, Label3, Label5 };
enum class FormButton { cmdStart, cmdEnd };
enum class FormPicker { dtpInputDate, dtpInputEnd };

// What a toolkit's frmMain does when MainWindowLogic asks: it owns the controls and the event
// loop, and decides nothing itself. Every call comes on the window's own thread.
class MainWindowControls {
public:
    virtual ~MainWindowControls() = default;

    // UTF-8 text shown as plain text; line breaks are "\r\n".
    virtual void SetLabelText(FormLabel label, const std::string& text) = 0;
    // pbrCount's range is 0 .. maximum; the maximum may be 0.
    virtual void SetProgressMaximum(int maximum) = 0;
    virtual void SetProgressValue(int value) = 0;
    virtual void SetButtonEnabled(FormButton button, bool enabled) = 0;
    virtual DateTime PickerValue(FormPicker picker) const = 0;
    virtual void SetPickerValue(FormPicker picker, const DateTime& value) = 0;
    virtual bool StartHasFocus() const = 0;
    virtual void FocusStart() = 0;
    // Handles the events waiting now (clicks, the close command, painting) and returns; the
    // handlers it reaches may call back into MainWindowLogic.
    virtual void ProcessPendingEvents() = 0;
    // Closes the window as its own close command does; that close reaches Form_Unload.
    virtual void CloseWindow() = 0;
    // Ends the program once the window has unloaded: the event loop ends and nothing of the
    // window runs afterwards.
    virtual void EndProgram() = 0;
};

}  // namespace tovrik
