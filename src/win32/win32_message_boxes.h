#pragma once

#include <windows.h>

#include "common/message_box.h"

namespace tovrik::win32 {

// Message boxes through MessageBoxW with a single OK button, modal to the owner window once
// there is one. Each text is also written to standard error as "tovrik: caption: text" when
// the program has one (a redirected start), as the Linux window does: there is no log file.
class Win32MessageBoxes final : public MessageBoxes {
public:
    void Show(const std::string& text, const std::string& caption, MessageIcon icon) override;
    // The window the boxes belong to from now on; null before the window exists.
    void SetOwner(HWND owner) { owner_ = owner; }

private:
    HWND owner_ = nullptr;
};

}  // namespace tovrik::win32
