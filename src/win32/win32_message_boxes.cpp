#include "win32/win32_message_boxes.h"

#include "common/utf.h"

namespace tovrik::win32 {

namespace {

void WriteToStandardError(const std::string& line) {
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    // Best effort: a program started without standard error simply has none to write to.
    WriteFile(error, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace

void Win32MessageBoxes::Show(const std::string& text, const std::string& caption,
                             MessageIcon icon) {
    WriteToStandardError("tovrik: " + WithLineFeeds(caption + ": " + text) + "\n");
    UINT type = MB_OK;
    switch (icon) {
        case MessageIcon::None:
            break;
        case MessageIcon::Critical:
            type |= MB_ICONERROR;
            break;
        case MessageIcon::Exclamation:
            type |= MB_ICONWARNING;
            break;
    }
    // Before the window exists a box has no owner: bring it to the front of the desktop.
    if (owner_ == nullptr || !IsWindow(owner_)) type |= MB_SETFOREGROUND | MB_TASKMODAL;
    const HWND owner = IsWindow(owner_) ? owner_ : nullptr;
    MessageBoxW(owner, Utf8ToWide(text).c_str(), Utf8ToWide(caption).c_str(), type);
}

}  // namespace tovrik::win32
