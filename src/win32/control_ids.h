#pragma once

#include "window/main_window_form.h"

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

constexpr ControlId ControlIdOf(FormControl control) {
    switch (control) {
        case FormControl::Label1:
            return kLabel1;
        case FormControl::Label2:
            return kLabel2;
        case FormControl::Label3:
            return kLabel3;
        case FormControl::Label4:
            return kLabel4;
        case FormControl::Label5:
            return kLabel5;
        case FormControl::dtpInputDate:
            return kDtpInputDate;
        case FormControl::dtpInputEnd:
            return kDtpInputEnd;
        case FormControl::pbrCount:
            return kPbrCount;
        case FormControl::cmdStart:
            return kCmdStart;
        case FormControl::cmdEnd:
            break;
    }
    return kCmdEnd;
}

// The window class of frmMain; its caption is kFormCaption.
inline constexpr wchar_t kMainWindowClass[] = L"TovrikFrmMain";

}  // namespace tovrik::win32
