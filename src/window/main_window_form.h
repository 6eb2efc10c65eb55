#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "window/main_window_controls.h"

namespace tovrik {

// frmMain's form, whatever toolkit draws it: every control with its rectangle, text, font and place
// in the focus order, the caption and the client area. The Qt and the Windows window create
// their controls from it; sizes are pixels at 96 dpi, which a window scales with LayOutForm.

// Every control of frmMain, by the names the suite uses.
enum class FormControl {
    Label1,
    Label2,
    Label3,
    Label4,
    Label5,
    dtpInputDate,
    dtpInputEnd,
    pbrCount,
    cmdStart,
    cmdEnd,
};

enum class ControlKind {
    Label,           // one line, cut at its right edge
    MultiLineLabel,  // breaks its text into lines at word boundaries
    MonthPicker,     // "yyyy/MM" with up-down arrows
    ProgressBar,
    CommandButton,
};

// The form's fonts: all kFormFontFamily, regular weight, Japanese (Shift-JIS) character set.
// None: the control shows no text of its own.
enum class FormFont { WindowDefault, Label, Picker, None };

struct FormRect {
    int Left;
    int Top;
    int Width;
    int Height;

    constexpr int Right() const { return Left + Width; }
    constexpr int Bottom() const { return Top + Height; }
    friend constexpr bool operator==(const FormRect&, const FormRect&) = default;
};

struct FormSize {
    int Width;
    int Height;

    friend constexpr bool operator==(const FormSize&, const FormSize&) = default;
};

inline constexpr int kNoFocus = -1;

struct FormControlSpec {
    FormControl Control;
    const char* Name;
    ControlKind Kind;
    const char* Text;  // UTF-8, shown when the window opens
    FormRect Bounds;   // in the client area, pixels at 96 dpi
    FormFont Font;
    int FocusPlace;  // 0, 1, ... in the focus order; kNoFocus: never takes the focus
};

// The dpi at which the form's pixel sizes are given.
inline constexpr int kFormDpi = 96;
inline constexpr char kFormCaption[] = "Nuvral日付修正";
inline constexpr FormSize kFormClientSize{312, 224};
inline constexpr char kFormFontFamily[] = "ＭＳ Ｐゴシック";
// pbrCount's range when the window opens is 0 .. this.
inline constexpr int kInitialProgressMaximum = 100;

// The controls in stacking order, the topmost first: those that take the focus, in the focus
// order (the Windows dialog manager's Tab follows the stacking order), then the bar, then the
// labels beneath every other control (Label1's box overlaps the first picker and the bar's top
// edge, which must stay visible).
// clang-format off
inline constexpr std::array<FormControlSpec, 10> kFormControls{{
    // control, name, kind, text,
    //  {left, top, width, height}, font, focus place
    {FormControl::dtpInputDate, "dtpInputDate", ControlKind::MonthPicker, "",
     {72, 0, 97, 25}, FormFont::Picker, 0},
    {FormControl::cmdStart, "cmdStart", ControlKind::CommandButton, "開始",
     {128, 184, 81, 33}, FormFont::WindowDefault, 1},
    {FormControl::cmdEnd, "cmdEnd", ControlKind::CommandButton, "閉じる",
     {224, 184, 81, 33}, FormFont::WindowDefault, 2},
    {FormControl::dtpInputEnd, "dtpInputEnd", ControlKind::MonthPicker, "",
     {200, 0, 97, 25}, FormFont::Picker, 3},
    {FormControl::pbrCount, "pbrCount", ControlKind::ProgressBar, "",
     {8, 32, 297, 17}, FormFont::None, kNoFocus},
    {FormControl::Label1, "Label1", ControlKind::Label, "読込年月",
     {8, 8, 73, 25}, FormFont::Label, kNoFocus},
    {FormControl::Label4, "Label4", ControlKind::Label, "～",
     {176, 8, 17, 17}, FormFont::WindowDefault, kNoFocus},
    {FormControl::Label2, "Label2", ControlKind::MultiLineLabel, "",
     {8, 56, 289, 57}, FormFont::Label, kNoFocus},
    {FormControl::Label5, "Label5", ControlKind::Label, "",
     {8, 128, 177, 17}, FormFont::WindowDefault, kNoFocus},
    {FormControl::Label3, "Label3", ControlKind::Label, "接続データベース：",
     {8, 152, 289, 25}, FormFont::Label, kNoFocus},
}};
// clang-format on

// The row of `control` in kFormControls, and that row.
std::size_t FormRowOf(FormControl control);
const FormControlSpec& FormControlOf(FormControl control);

// The controls that take the focus, in the focus order; the first has it when the window opens.
std::vector<FormControl> FormFocusOrder();

// The controls MainWindowLogic reaches, among the form's.
constexpr FormControl ControlOf(FormLabel label) {
    switch (label) {
        case FormLabel::Label2:
            return FormControl::Label2;
        case FormLabel::Label3:
            return FormControl::Label3;
        case FormLabel::Label5:
            break;
    }
    return FormControl::Label5;
}
constexpr FormControl ControlOf(FormButton button) {
    return button == FormButton::cmdStart ? FormControl::cmdStart : FormControl::cmdEnd;
}
constexpr FormControl ControlOf(FormPicker picker) {
    return picker == FormPicker::dtpInputDate ? FormControl::dtpInputDate
                                              : FormControl::dtpInputEnd;
}

// The font's size in hundredths of a point: 9 pt for the window default, 12 pt for the labels,
// 14.25 pt for the pickers; 0 for None.
constexpr int FontHundredthsOfPoint(FormFont font) {
    switch (font) {
        case FormFont::WindowDefault:
            return 900;
        case FormFont::Label:
            return 1200;
        case FormFont::Picker:
            return 1425;
        case FormFont::None:
            break;
    }
    return 0;
}

// value * numerator / denominator, rounded to the nearest integer, halves away from zero (as
// Windows' MulDiv rounds). `denominator` must be positive.
constexpr int MulDivRounded(int value, int numerator, int denominator) {
    const std::int64_t product = static_cast<std::int64_t>(value) * numerator;
    const std::int64_t half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : -((-product + half) / denominator));
}

// A length of pixels at 96 dpi at `dpi`.
constexpr int ScaleToDpi(int pixelsAt96, int dpi) {
    return MulDivRounded(pixelsAt96, dpi, kFormDpi);
}

// A rectangle of pixels at 96 dpi at `dpi`. Its edges are scaled, not its size, so that
// controls that meet or line up at 96 dpi still do.
constexpr FormRect ScaleToDpi(const FormRect& rect, int dpi) {
    const int left = ScaleToDpi(rect.Left, dpi);
    const int top = ScaleToDpi(rect.Top, dpi);
    return {left, top, ScaleToDpi(rect.Right(), dpi) - left, ScaleToDpi(rect.Bottom(), dpi) - top};
}

// The font's character height (the em, without internal leading) in pixels at `dpi`; 0 for None.
constexpr int FontPixels(FormFont font, int dpi) {
    return MulDivRounded(FontHundredthsOfPoint(font), dpi, 72 * 100);
}

// The form at one dpi: what a window applies when it is created and when it moves to a monitor
// of another dpi.
struct FormLayout {
    int Dpi;
    FormSize Client;
    // In the order of kFormControls.
    std::array<FormRect, kFormControls.size()> Bounds;

    // The bounds of `control`.
    const FormRect& BoundsOf(FormControl control) const;
    // The pixel height of `font`, as FontPixels.
    int FontPixelsOf(FormFont font) const { return FontPixels(font, Dpi); }
};

// The form laid out for `dpi` (positive).
FormLayout LayOutForm(int dpi);

// pbrCount's maximum for a run of `operations`: at least 1, since a range of 0 .. 0 shows no
// progress at all (Qt turns it into a busy indicator).
int ProgressBarMaximum(int operations);

}  // namespace tovrik
