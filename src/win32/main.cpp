// Tovrik on Windows: start-up, then the main window of the common controls until it is closed.
// Takes no command-line arguments.

#include <windows.h>

#include <commctrl.h>

#include <exception>

#include "startup/startup_sequence.h"
#include "startup/system_services.h"
#include "win32/frm_main.h"
#include "win32/win32_message_boxes.h"

namespace {

// Start-up has no window yet: whatever is waiting (a box's last repaint) is handled once.
void ProcessPendingMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) return;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    INITCOMMONCONTROLSEX controls{sizeof(controls),
                                  ICC_DATE_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    tovrik::win32::Win32MessageBoxes boxes;
    tovrik::SystemStartupServices system(boxes, ProcessPendingMessages);
    tovrik::StartState state;

    const tovrik::StartupOutcome outcome = tovrik::Main(state, system.Services());
    if (outcome == tovrik::StartupOutcome::PreviousInstance) return 0;
    if (outcome != tovrik::StartupOutcome::Ready) return 1;

    try {
        tovrik::win32::frmMain window(instance, state, system.SystemTime(), boxes);
        boxes.SetOwner(window.Handle());
        window.Show(showCommand);
        return tovrik::win32::RunMessageLoop(window);
    } catch (const std::exception& error) {
        // Only when Windows refuses the window or its controls.
        boxes.SetOwner(nullptr);
        boxes.Show(error.what(), "Tovrik", tovrik::MessageIcon::Critical);
        return 1;
    }
}
