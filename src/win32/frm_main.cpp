#include "win32/frm_main.h"

#include <commctrl.h>

#include <algorithm>
#include <stdexcept>

#include "common/utf.h"
#include "win32/control_ids.h"
#include "win32/resource.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace tovrik::win32 {

namespace {

constexpr int kClientWidth = 312;
constexpr int kClientHeight = 224;
constexpr DWORD kWindowStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;

// The suite's fonts: "ＭＳ Ｐゴシック" at 12 pt (labels), 14.25 pt (pickers) and the window
// default of 9 pt (buttons, Label4, Label5).
enum class FontKind { Window, Label, Picker, None };

struct ControlSpec {
    int Id;
    const wchar_t* ClassName;
    const wchar_t* Text;
    DWORD Style;
    // Pixels at 96 dpi.
    int Left;
    int Top;
    int Width;
    int Height;
    FontKind Font;
};

constexpr DWORD kLabel = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | SS_NOPREFIX;
constexpr DWORD kActive = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP;

// The form. The order is the controls' z-order: the four that take the focus first, in the
// focus order (dtpInputDate, cmdStart, cmdEnd, dtpInputEnd), so that Tab follows it; the labels
// last, beneath every other control, as the suite's form draws them (Label1's box overlaps the
// first picker and the bar's top edge).
constexpr ControlSpec kControls[] = {
    {kDtpInputDate, DATETIMEPICK_CLASSW, L"", kActive | DTS_UPDOWN, 72, 0, 97, 25,
     FontKind::Picker},
    {kCmdStart, WC_BUTTONW, L"開始", kActive | BS_PUSHBUTTON, 128, 184, 81, 33, FontKind::Window},
    {kCmdEnd, WC_BUTTONW, L"閉じる", kActive | BS_PUSHBUTTON, 224, 184, 81, 33, FontKind::Window},
    {kDtpInputEnd, DATETIMEPICK_CLASSW, L"", kActive | DTS_UPDOWN, 200, 0, 97, 25,
     FontKind::Picker},
    {kPbrCount, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 8, 32, 297, 17,
     FontKind::None},
    {kLabel1, WC_STATICW, L"読込年月", kLabel | SS_LEFTNOWORDWRAP, 8, 8, 73, 25, FontKind::Label},
    {kLabel4, WC_STATICW, L"～", kLabel | SS_LEFTNOWORDWRAP, 176, 8, 17, 17, FontKind::Window},
    {kLabel2, WC_STATICW, L"", kLabel | SS_LEFT, 8, 56, 289, 57, FontKind::Label},
    {kLabel5, WC_STATICW, L"", kLabel | SS_LEFTNOWORDWRAP, 8, 128, 177, 17, FontKind::Window},
    {kLabel3, WC_STATICW, L"接続データベース：", kLabel | SS_LEFTNOWORDWRAP, 8, 152, 289, 25,
     FontKind::Label},
};

// A user32 function of newer Windows versions, or null where it is missing (before Windows 10
// 1607), so that the program still starts there.
template <typename Function>
Function User32Function(const char* name) {
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    const FARPROC found = user32 != nullptr ? GetProcAddress(user32, name) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

UINT WindowDpi(HWND window) {
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = User32Function<GetDpiForWindowFunction>("GetDpiForWindow");
    if (getDpiForWindow != nullptr) {
        if (const UINT dpi = getDpiForWindow(window); dpi != 0) return dpi;
    }
    const HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

void AdjustForDpi(RECT& rect, UINT dpi) {
    using AdjustFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = User32Function<AdjustFunction>("AdjustWindowRectExForDpi");
    if (adjustForDpi == nullptr || !adjustForDpi(&rect, kWindowStyle, FALSE, kWindowExStyle, dpi)) {
        AdjustWindowRectEx(&rect, kWindowStyle, FALSE, kWindowExStyle);
    }
}

int Scale(int pixelsAt96, UINT dpi) {
    return MulDiv(pixelsAt96, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
}

UniqueFont GothicFont(int hundredthsOfPoint, UINT dpi) {
    LOGFONTW font{};
    font.lfHeight = -MulDiv(hundredthsOfPoint, static_cast<int>(dpi), 72 * 100);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = SHIFTJIS_CHARSET;
    font.lfOutPrecision = OUT_DEFAULT_PRECIS;
    font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    font.lfQuality = DEFAULT_QUALITY;
    font.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
    wcscpy_s(font.lfFaceName, LF_FACESIZE, L"ＭＳ Ｐゴシック");
    return UniqueFont(CreateFontIndirectW(&font));
}

// The program's icon at the size of the given system metrics; shared, so never destroyed.
HICON ProgramIcon(HINSTANCE instance, int widthMetric, int heightMetric) {
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(TOVRIK_ICON), IMAGE_ICON,
                                         GetSystemMetrics(widthMetric),
                                         GetSystemMetrics(heightMetric), LR_SHARED));
}

int LabelId(FormLabel label) {
    switch (label) {
        case FormLabel::Label2:
            return kLabel2;
        case FormLabel::Label3:
            return kLabel3;
        case FormLabel::Label5:
            break;
    }
    return kLabel5;
}

int PickerId(FormPicker picker) {
    return picker == FormPicker::dtpInputDate ? kDtpInputDate : kDtpInputEnd;
}

int ButtonId(FormButton button) { return button == FormButton::cmdStart ? kCmdStart : kCmdEnd; }

}  // namespace

frmMain::frmMain(HINSTANCE instance, StartState& state, const Clock& clock, MessageBoxes& boxes)
    : instance_(instance), logic_(*this, state, clock, boxes) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &frmMain::WindowProc;
    windowClass.hInstance = instance_;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kMainWindowClass;
    windowClass.hIcon = ProgramIcon(instance_, SM_CXICON, SM_CYICON);
    windowClass.hIconSm = ProgramIcon(instance_, SM_CXSMICON, SM_CYSMICON);
    // A second frmMain in the same process (none in the program) finds the class registered.
    if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        throw std::runtime_error("RegisterClassExW failed");
    }
    window_.reset(CreateWindowExW(kWindowExStyle, kMainWindowClass, L"Nuvral日付修正", kWindowStyle,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, nullptr, nullptr, instance_,
                                  this));
    if (!window_) throw std::runtime_error("CreateWindowExW failed");
    try {
        CreateControls();
    } catch (...) {
        // The half-made window goes without reaching this half-made object.
        SetWindowLongPtrW(handle_, GWLP_USERDATA, 0);
        throw;
    }
    LayOut(WindowDpi(handle_), nullptr);
    logic_.Form_Load();
}

frmMain::~frmMain() {
    // A window still open here (its loop ended otherwise than by the unload) goes without
    // reaching the logic, which is being destroyed.
    if (handle_ != nullptr) SetWindowLongPtrW(handle_, GWLP_USERDATA, 0);
}

void frmMain::CreateControls() {
    for (const ControlSpec& spec : kControls) {
        const HWND control = CreateWindowExW(
            0, spec.ClassName, spec.Text, spec.Style, spec.Left, spec.Top, spec.Width, spec.Height,
            handle_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(spec.Id)), instance_, nullptr);
        if (control == nullptr) throw std::runtime_error("CreateWindowExW failed for a control");
    }
    for (const int picker : {kDtpInputDate, kDtpInputEnd}) {
        SendMessageW(Control(picker), DTM_SETFORMATW, 0, reinterpret_cast<LPARAM>(L"yyyy'/'MM"));
    }
    SendMessageW(Control(kPbrCount), PBM_SETRANGE32, 0, progressMaximum_);
}

void frmMain::LayOut(UINT dpi, const RECT* placement) {
    dpi_ = dpi;
    UniqueFont windowFont = GothicFont(900, dpi);
    UniqueFont labelFont = GothicFont(1200, dpi);
    UniqueFont pickerFont = GothicFont(1425, dpi);
    for (const ControlSpec& spec : kControls) {
        const HWND control = Control(spec.Id);
        HFONT font = nullptr;
        switch (spec.Font) {
            case FontKind::Window:
                font = windowFont.get();
                break;
            case FontKind::Label:
                font = labelFont.get();
                break;
            case FontKind::Picker:
                font = pickerFont.get();
                break;
            case FontKind::None:
                break;
        }
        if (font != nullptr) {
            SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        }
        SetWindowPos(control, nullptr, Scale(spec.Left, dpi), Scale(spec.Top, dpi),
                     Scale(spec.Width, dpi), Scale(spec.Height, dpi),
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // The controls use the new fonts now: the old ones may go.
    defaultFont_ = std::move(windowFont);
    labelFont_ = std::move(labelFont);
    pickerFont_ = std::move(pickerFont);

    RECT frame{0, 0, Scale(kClientWidth, dpi), Scale(kClientHeight, dpi)};
    AdjustForDpi(frame, dpi);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    int left = 0;
    int top = 0;
    if (placement != nullptr) {
        left = placement->left;
        top = placement->top;
    } else {
        MONITORINFO monitor{};
        monitor.cbSize = sizeof(monitor);
        GetMonitorInfoW(MonitorFromWindow(handle_, MONITOR_DEFAULTTOPRIMARY), &monitor);
        const RECT& work = monitor.rcWork;
        left = work.left + std::max(0L, (work.right - work.left - width) / 2);
        top = work.top + std::max(0L, (work.bottom - work.top - height) / 2);
    }
    SetWindowPos(handle_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void frmMain::Show(int showCommand) {
    ShowWindow(handle_, showCommand);
    UpdateWindow(handle_);
    SetFocus(Control(kDtpInputDate));
    // Once the window is painted and the loop runs: the months hint.
    PostMessageW(handle_, kShownMessage, 0, 0);
}

bool frmMain::PreTranslate(MSG& message) {
    return handle_ != nullptr && IsDialogMessageW(handle_, &message) != FALSE;
}

LRESULT CALLBACK frmMain::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<frmMain*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->handle_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<frmMain*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->handle_ = nullptr;
        // Destroyed by window_ itself, or by the system: either way nothing is left to destroy.
        (void)self->window_.release();
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT frmMain::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (lParam != 0) OnCommand(LOWORD(wParam), HIWORD(wParam));
            return 0;
        case WM_CLOSE:
            OnClose();
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_ACTIVATE:
            OnActivate(LOWORD(wParam) != WA_INACTIVE);
            return 0;
        case WM_DPICHANGED:
            OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            return 0;
        case DM_GETDEFID:
            return DefaultButton();
        case kShownMessage:
            logic_.Form_Shown();
            return 0;
        default:
            return DefWindowProcW(handle_, message, wParam, lParam);
    }
}

LRESULT frmMain::DefaultButton() const {
    // Enter presses the focused button, as in the suite's forms; elsewhere it does nothing.
    const HWND focus = GetFocus();
    for (const int button : {kCmdStart, kCmdEnd}) {
        if (focus == Control(button)) return MAKELRESULT(button, DC_HASDEFID);
    }
    return 0;
}

void frmMain::OnCommand(int id, int code) {
    if (code != BN_CLICKED) return;
    if (id == kCmdStart) logic_.cmdStart_Click();
    if (id == kCmdEnd) logic_.cmdEnd_Click();
}

void frmMain::OnClose() {
    // The unload never asks and cannot be cancelled. During a run the window goes at once; the
    // program ends as soon as the run has stopped.
    logic_.Form_Unload();
    if (handle_ != nullptr) ShowWindow(handle_, SW_HIDE);
}

void frmMain::OnActivate(bool active) {
    // The control that had the focus gets it back when the window is activated again.
    if (!active) {
        focusBeforeDeactivation_ = GetFocus();
        return;
    }
    if (focusBeforeDeactivation_ != nullptr && IsChild(handle_, focusBeforeDeactivation_)) {
        SetFocus(focusBeforeDeactivation_);
    } else {
        SetFocus(Control(kDtpInputDate));
    }
}

void frmMain::OnDpiChanged(UINT dpi, const RECT& suggested) {
    if (dpi == 0 || dpi == dpi_) return;
    LayOut(dpi, &suggested);
}

void frmMain::SetLabelText(FormLabel label, const std::string& text) {
    SetWindowTextW(Control(LabelId(label)), Utf8ToWide(text).c_str());
}

void frmMain::SetProgressMaximum(int maximum) {
    // A maximum equal to the minimum would leave the bar without a range.
    progressMaximum_ = std::max(maximum, 1);
    SendMessageW(Control(kPbrCount), PBM_SETRANGE32, 0, progressMaximum_);
}

void frmMain::SetProgressValue(int value) {
    // The themed bar of Windows animates a growing value and so lags behind the run (a full bar
    // at the end would show as nearly empty); a falling value is drawn at once. So each value
    // is reached from one above it, the full bar through a range one wider.
    const HWND bar = Control(kPbrCount);
    const int shown = std::clamp(value, 0, progressMaximum_);
    if (shown < progressMaximum_) {
        SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(shown + 1), 0);
        SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(shown), 0);
        return;
    }
    SendMessageW(bar, PBM_SETRANGE32, 0, progressMaximum_ + 1);
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(progressMaximum_ + 1), 0);
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(progressMaximum_), 0);
    SendMessageW(bar, PBM_SETRANGE32, 0, progressMaximum_);
}

void frmMain::SetButtonEnabled(FormButton button, bool enabled) {
    const HWND control = Control(ButtonId(button));
    // A disabled control keeps the focus on Windows, and the keyboard would then reach nothing:
    // the focus moves on to the next control first, as the dialog manager would move it.
    if (!enabled && GetFocus() == control) {
        const HWND next = GetNextDlgTabItem(handle_, control, FALSE);
        if (next != nullptr && next != control) SetFocus(next);
    }
    EnableWindow(control, enabled ? TRUE : FALSE);
}

DateTime frmMain::PickerValue(FormPicker picker) const {
    SYSTEMTIME time{};
    if (SendMessageW(Control(PickerId(picker)), DTM_GETSYSTEMTIME, 0,
                     reinterpret_cast<LPARAM>(&time)) != GDT_VALID) {
        return kInitialInputEnd;
    }
    return DateTime{time.wYear,
                    time.wMonth,
                    time.wDay,
                    time.wHour,
                    time.wMinute,
                    time.wSecond,
                    static_cast<std::uint32_t>(time.wMilliseconds) * 1'000'000u};
}

void frmMain::SetPickerValue(FormPicker picker, const DateTime& value) {
    SYSTEMTIME time{};
    time.wYear = static_cast<WORD>(value.Year);
    time.wMonth = static_cast<WORD>(value.Month);
    time.wDay = static_cast<WORD>(value.Day);
    // 1970-01-01 was a Thursday (4).
    const std::int64_t days = DaysFromCivil(value.Year, value.Month, value.Day);
    time.wDayOfWeek = static_cast<WORD>(((days % 7) + 11) % 7);
    time.wHour = static_cast<WORD>(value.Hour);
    time.wMinute = static_cast<WORD>(value.Minute);
    time.wSecond = static_cast<WORD>(value.Second);
    time.wMilliseconds = static_cast<WORD>(value.Fraction / 1'000'000u);
    SendMessageW(Control(PickerId(picker)), DTM_SETSYSTEMTIME, GDT_VALID,
                 reinterpret_cast<LPARAM>(&time));
}

bool frmMain::StartHasFocus() const { return GetFocus() == Control(kCmdStart); }

void frmMain::FocusStart() { SetFocus(Control(kCmdStart)); }

void frmMain::ProcessPendingEvents() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // For the program's own loop, which ends on it.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (!PreTranslate(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

void frmMain::CloseWindow() { SendMessageW(handle_, WM_CLOSE, 0, 0); }

void frmMain::EndProgram() { window_.reset(); }

int RunMessageLoop(frmMain& window) {
    MSG message{};
    for (;;) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) return static_cast<int>(message.wParam);
        if (got == -1) return 1;
        if (!window.PreTranslate(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

}  // namespace tovrik::win32
