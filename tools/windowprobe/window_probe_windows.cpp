// tovrik-window-probe: what the running Windows frmMain shows, seen from another process as
// accessibility tools see it, for the window's end-to-end test (the X server sees one window
// and none of its controls).
//
//   tovrik-window-probe state   one line per control: name, enabled (0/1), its box on the
//                               screen (left top width height) and its text (line breaks as
//                               " | "; the bar: value/maximum), tab-separated; the same for
//                               the window itself (name frmMain, its client area, its caption)
//                               and for each picker's up-down arrows (dtpInputDate.arrows); for
//                               each control showing a text, the room that text takes in the
//                               control's font of the form at the screen's dpi (Label2.text: at
//                               the control's top left corner, the widest line by all lines);
//                               then the line "focus <name>"
//   tovrik-window-probe close   the window's own close command, as its title bar's X gives it
//
// Exit status 0, or 3 when no frmMain is open.

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <string>

#include "common/utf.h"
#include "win32/control_ids.h"

namespace {

using namespace tovrik::win32;

constexpr UINT kAnswerTimeoutMs = 5000;

void Write(const std::string& text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
              &written, nullptr);
}

LRESULT Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kAnswerTimeoutMs,
                            &answer) == 0) {
        return -1;
    }
    return static_cast<LRESULT>(answer);
}

std::string TextOf(HWND control) {
    const LRESULT length = Ask(control, WM_GETTEXTLENGTH, 0, 0);
    if (length <= 0) return "";
    std::u16string text(static_cast<std::size_t>(length) + 1, u'\0');
    const LRESULT copied =
        Ask(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    std::string result;
    for (const char c : tovrik::Utf16ToUtf8(text)) {
        if (c == '\r') continue;
        result += c == '\n' ? std::string(" | ") : std::string(1, c);
    }
    return result;
}

void WriteBox(const std::string& name, HWND control, const RECT& box, const std::string& text) {
    Write(name + "\t" + (IsWindowEnabled(control) ? "1" : "0") + "\t" + std::to_string(box.left) +
          "\t" + std::to_string(box.top) + "\t" + std::to_string(box.right - box.left) + "\t" +
          std::to_string(box.bottom - box.top) + "\t" + text + "\n");
}

// The room `text` takes in the form's `font` at `dpi`: its widest line by all its lines.
SIZE TextRoom(const std::string& text, tovrik::FormFont font, int dpi) {
    LOGFONTW logFont{};
    logFont.lfHeight = -tovrik::FontPixels(font, dpi);
    logFont.lfWeight = FW_NORMAL;
    logFont.lfCharSet = SHIFTJIS_CHARSET;
    wcscpy_s(logFont.lfFaceName, LF_FACESIZE, tovrik::Utf8ToWide(tovrik::kFormFontFamily).c_str());
    const HFONT hfont = CreateFontIndirectW(&logFont);
    const HDC dc = GetDC(nullptr);
    const HGDIOBJ old = SelectObject(dc, hfont);
    SIZE room{};
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(" | ", start);
        const std::wstring line =
            tovrik::Utf8ToWide(text.substr(start, end == std::string::npos ? end : end - start));
        SIZE size{};
        GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &size);
        room.cx = std::max(room.cx, size.cx);
        room.cy += size.cy;
        if (end == std::string::npos) break;
        start = end + 3;
    }
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    DeleteObject(hfont);
    return room;
}

int State(HWND window) {
    const HWND focus = [window] {
        GUITHREADINFO info{};
        info.cbSize = sizeof(info);
        const DWORD thread = GetWindowThreadProcessId(window, nullptr);
        return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
    }();
    RECT client{};
    GetClientRect(window, &client);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
    WriteBox("frmMain", window, client, TextOf(window));
    // A system-aware program sees the system's dpi, which Wine gives every window.
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    std::string focusName = "-";
    for (const tovrik::FormControlSpec& spec : tovrik::kFormControls) {
        const HWND control = GetDlgItem(window, ControlIdOf(spec.Control));
        if (control == nullptr) continue;
        RECT box{};
        GetWindowRect(control, &box);
        std::string text = spec.Kind == tovrik::ControlKind::ProgressBar
                               ? std::to_string(Ask(control, PBM_GETPOS, 0, 0)) + "/" +
                                     std::to_string(Ask(control, PBM_GETRANGE, FALSE, 0))
                               : TextOf(control);
        WriteBox(spec.Name, control, box, text);
        if (!text.empty() && spec.Font != tovrik::FormFont::None) {
            const SIZE room = TextRoom(text, spec.Font, dpi);
            WriteBox(std::string(spec.Name) + ".text", control,
                     RECT{box.left, box.top, box.left + room.cx, box.top + room.cy}, "");
        }
        if (spec.Kind == tovrik::ControlKind::MonthPicker) {
            if (const HWND arrows = FindWindowExW(control, nullptr, UPDOWN_CLASSW, nullptr)) {
                GetWindowRect(arrows, &box);
                WriteBox(std::string(spec.Name) + ".arrows", arrows, box, "");
            }
        }
        if (control == focus) focusName = spec.Name;
    }
    Write("focus " + focusName + "\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command != "state" && command != "close") {
        Write("usage: tovrik-window-probe state|close\n");
        return 64;
    }
    // Boxes in the screen's own pixels, whatever the display scale: Windows may give a program
    // unaware of the dpi those of other programs scaled to 96 dpi.
    SetProcessDPIAware();
    const HWND window = FindWindowW(kMainWindowClass, nullptr);
    if (window == nullptr || !IsWindowVisible(window)) return 3;
    if (command == "close") {
        PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
    }
    return State(window);
}
