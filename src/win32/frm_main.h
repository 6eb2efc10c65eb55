#pragma once

#include <windows.h>

#include <array>
#include <cstddef>

#include "common/message_box.h"
#include "platform/platform.h"
#include "startup/start_state.h"
#include "win32/control_ids.h"
#include "win32/win32_support.h"
#include "window/main_window_logic.h"

namespace tovrik::win32 {

// The program's only window on Windows, of the common controls: its controls, layout, fonts
// and icon, scaled for the monitor's DPI. What it does (the initial values, Start, Close, the
// unload, the run's progress) is MainWindowLogic, to which it forwards its button clicks and its
// close command. The class and control names are those the suite's operators and documentation
// use.
// Posted by Show: the window is on the screen.
inline constexpr UINT kShownMessage = WM_APP + 1;

class frmMain final : private MainWindowControls {
public:
    // Creates the window hidden and fills the initial values (Form_Load). `state` supplies
    // DbLogin.Database, ServerFileMode and DbConnection, which the window closes and releases
    // when it unloads. All references must outlive the window. Throws std::runtime_error when
    // the window cannot be created.
    frmMain(HINSTANCE instance, StartState& state, const Clock& clock, MessageBoxes& boxes);
    ~frmMain() override;
    frmMain(const frmMain&) = delete;
    frmMain& operator=(const frmMain&) = delete;

    // Shows the window with the focus on the first picker; the months hint follows once the
    // message loop runs.
    void Show(int showCommand);
    HWND Handle() const { return handle_; }
    // Lets the controls' keyboard handling (Tab, the arrow keys, Space) see `message` first;
    // true when it was handled there and must not be dispatched.
    bool PreTranslate(MSG& message);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnCommand(int id, int code);
    void OnClose();
    void OnActivate(bool active);
    void OnDpiChanged(UINT dpi, const RECT& suggested);
    // The answer to DM_GETDEFID, which the keyboard handling asks on Enter.
    LRESULT DefaultButton() const;

    void CreateControls();
    // Fonts, control positions and the window's size for `dpi`; at the top left corner of
    // `placement` when given, otherwise centred on the work area of the window's monitor.
    void LayOut(UINT dpi, const RECT* placement);
    HWND Control(int id) const { return GetDlgItem(handle_, id); }
    HWND Control(FormControl control) const { return Control(ControlIdOf(control)); }

    // MainWindowControls
    void SetLabelText(FormLabel label, const std::string& text) override;
    void SetProgressMaximum(int maximum) override;
    void SetProgressValue(int value) override;
    void SetButtonEnabled(FormButton button, bool enabled) override;
    DateTime PickerValue(FormPicker picker) const override;
    void SetPickerValue(FormPicker picker, const DateTime& value) override;
    bool StartHasFocus() const override;
    void FocusStart() override;
    void ProcessPendingEvents() override;
    void CloseWindow() override;
    void EndProgram() override;

    HINSTANCE instance_;
    UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
    int progressMaximum_ = kInitialProgressMaximum;
    HWND focusBeforeDeactivation_ = nullptr;
    // The form's fonts at dpi_, by FormFont (None has none).
    using Fonts = std::array<UniqueFont, static_cast<std::size_t>(FormFont::None)>;
    Fonts fonts_;
    // Declared after the fonts: the controls that use them are destroyed first. `handle_` is
    // the same window, known from its first message on and null once it is destroyed.
    UniqueWindow window_;
    HWND handle_ = nullptr;
    MainWindowLogic logic_;
};

// Runs the program's message loop until the window has unloaded; returns the exit status.
int RunMessageLoop(frmMain& window);

}  // namespace tovrik::win32
