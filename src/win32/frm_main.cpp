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

constexpr DWORD kWindowStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;

struct ControlClass {
    const wchar_t* Name;
    DWORD Style;
};

// The common control of each kind of the form's controls. Those that take the focus are tab
// stops as well.
ControlClass ClassOf(ControlKind kind) {
    constexpr DWORD kChild = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    switch (kind) {
        case ControlKind::Label:
            return {WC_STATICW, kChild | SS_NOPREFIX | SS_LEFTNOWORDWRAP};
        case ControlKind::MultiLineLabel:
            return {WC_STATICW, kChild | SS_NOPREFIX | SS_LEFT};
        case ControlKind::MonthPicker:
            return {DATETIMEPICK_CLASSW, kChild | DTS_UPDOWN};
        case ControlKind::ProgressBar:
            return {PROGRESS_CLASSW, kChild};
        case ControlKind::CommandButton:
            break;
    }
    return {WC_BUTTONW, kChild | BS_PUSHBUTTON};
}

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

// The form's font family at a character height of `pixels`.
UniqueFont FormHFont(int pixels) {
    LOGFONTW logFont{};
    logFont.lfHeight = -pixels;
    logFont.lfWeight = FW_NORMAL;
    logFont.lfCharSet = SHIFTJIS_CHARSET;
    logFont.lfOutPrecision = OUT_DEFAULT_PRECIS;
    logFont.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    logFont.lfQuality = DEFAULT_QUALITY;
    logFont.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
    wcscpy_s(logFont.lfFaceName, LF_FACESIZE, Utf8ToWide(kFormFontFamily).c_str());
    return UniqueFont(CreateFontIndirectW(&logFont));
}

// The program's icon at the size of the given system metrics; shared, so never destroyed.
HICON ProgramIcon(HINSTANCE instance, int widthMetric, int heightMetric) {
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(TOVRIK_ICON), IMAGE_ICON,
                                         GetSystemMetrics(widthMetric),
                                         GetSystemMetrics(heightMetric), LR_SHARED));
}

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
    window_.reset(CreateWindowExW(kWindowExStyle, kMainWindowClass,
                                  Utf8ToWide(kFormCaption).c_str(), kWindowStyle, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 0, 0, nullptr, nullptr, instance_, this));
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
    // Each control goes beneath those created before it: the form's stacking order, topmost
    // first, is its order of creation.
    for (const FormControlSpec& spec : kFormControls) {
        const ControlClass controlClass = ClassOf(spec.Kind);
        const DWORD style = controlClass.Style | (spec.FocusPlace != kNoFocus ? WS_TABSTOP : 0);
        const HWND control = CreateWindowExW(
            0, controlClass.Name, Utf8ToWide(spec.Text).c_str(), style, spec.Bounds.Left,
            spec.Bounds.Top, spec.Bounds.Width, spec.Bounds.Height, handle_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlIdOf(spec.Control))), instance_,
            nullptr);
        if (control == nullptr) throw std::runtime_error("CreateWindowExW failed for a control");
        if (spec.Kind == ControlKind::MonthPicker) {
            SendMessageW(control, DTM_SETFORMATW, 0, reinterpret_cast<LPARAM>(L"yyyy'/'MM"));
        }
    }
    SendMessageW(Control(FormControl::pbrCount), PBM_SETRANGE32, 0, progressMaximum_);
}

void frmMain::LayOut(UINT dpi, const RECT* placement) {
    dpi_ = dpi;
    const FormLayout layout = LayOutForm(static_cast<int>(dpi));
    Fonts fonts;
    for (const FormFont font : {FormFont::WindowDefault, FormFont::Label, FormFont::Picker}) {
        fonts[static_cast<std::size_t>(font)] = FormHFont(layout.FontPixelsOf(font));
    }
    for (std::size_t row = 0; row < kFormControls.size(); ++row) {
        const FormControlSpec& spec = kFormControls[row];
        const HWND control = Control(spec.Control);
        if (spec.Font != FormFont::None) {
            SendMessageW(control, WM_SETFONT,
                         reinterpret_cast<WPARAM>(fonts[static_cast<std::size_t>(spec.Font)].get()),
                         TRUE);
        }
        const FormRect& bounds = layout.Bounds[row];
        SetWindowPos(control, nullptr, bounds.Left, bounds.Top, bounds.Width, bounds.Height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // The controls use the new fonts now: the old ones may go.
    fonts_ = std::move(fonts);

    RECT frame{0, 0, layout.Client.Width, layout.Client.Height};
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
    SetFocus(Control(FormFocusOrder().front()));
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
        SetFocus(Control(FormFocusOrder().front()));
    }
}

void frmMain::OnDpiChanged(UINT dpi, const RECT& suggested) {
    if (dpi == 0 || dpi == dpi_) return;
    LayOut(dpi, &suggested);
}

void frmMain::SetLabelText(FormLabel label, const std::string& text) {
    SetWindowTextW(Control(ControlOf(label)), Utf8ToWide(text).c_str());
}

void frmMain::SetProgressMaximum(int maximum) {
    progressMaximum_ = ProgressBarMaximum(maximum);
    SendMessageW(Control(FormControl::pbrCount), PBM_SETRANGE32, 0, progressMaximum_);
}

void frmMain::SetProgressValue(int value) {
    // The themed bar of Windows animates a growing value and so lags behind the run (a full bar
    // at the end would show as nearly empty); a falling value is drawn at once. So each value
    // is reached from one above it, the full bar through a range one wider.
    const HWND bar = Control(FormControl::pbrCount);
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
    const HWND control = Control(ControlOf(button));
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
    if (SendMessageW(Control(ControlOf(picker)), DTM_GETSYSTEMTIME, 0,
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
    SendMessageW(Control(ControlOf(picker)), DTM_SETSYSTEMTIME, GDT_VALID,
                 reinterpret_cast<LPARAM>(&time));
}

bool frmMain::StartHasFocus() const { return GetFocus() == Control(FormControl::cmdStart); }

void frmMain::FocusStart() { SetFocus(Control(FormControl::cmdStart)); }

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
