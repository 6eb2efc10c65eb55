#pragma once

// The control identifiers of the Windows frmMain, by the suite's control names. Outside tools
// (accessibility software, the window's end-to-end test) find the controls by them.
namespace tovrik::win32 {

enum ControlId : int {
    kLabel1 = 101,
    kLabel2 = 102,
    kLabel3 = 103,
    kLabel4 = 104,
    kLabel5 = 105,
    kDtpInputDate = 111,
    kDtpInputEnd = 112,
    kPbrCount = 121,
    kCmdStart = 131,
    kCmdEnd = 132,
};

// The window class of frmMain; its caption is "Nuvral日付修正".
inline constexpr wchar_t kMainWindowClass[] = L"TovrikFrmMain";

}  // namespace tovrik::win32
