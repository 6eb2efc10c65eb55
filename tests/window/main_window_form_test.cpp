#include "window/main_window_form.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace tovrik {
namespace {

struct NamedControl {
    FormControl Control;
    std::string Name;
};

const NamedControl kEveryControl[] = {
    {FormControl::Label1, "Label1"},           {FormControl::Label2, "Label2"},
    {FormControl::Label3, "Label3"},           {FormControl::Label4, "Label4"},
    {FormControl::Label5, "Label5"},           {FormControl::dtpInputDate, "dtpInputDate"},
    {FormControl::dtpInputEnd, "dtpInputEnd"}, {FormControl::pbrCount, "pbrCount"},
    {FormControl::cmdStart, "cmdStart"},       {FormControl::cmdEnd, "cmdEnd"},
};

TEST(FormTable, HoldsEveryControlOnceUnderItsOwnName) {
    ASSERT_EQ(kFormControls.size(), std::size(kEveryControl));
    for (const NamedControl& named : kEveryControl) {
        int rows = 0;
        for (const FormControlSpec& spec : kFormControls) rows += spec.Control == named.Control;
        EXPECT_EQ(rows, 1) << named.Name;
        EXPECT_EQ(FormControlOf(named.Control).Name, named.Name);
    }
}

// The pickers and the buttons take the focus, nothing else; Tab goes dtpInputDate, cmdStart,
// cmdEnd, dtpInputEnd. On Windows Tab follows the stacking order, so the rows must begin with
// them in that order.
TEST(FormTable, FocusOrderIsCompleteAndLeadsTheStackingOrder) {
    const std::vector<FormControl> order = FormFocusOrder();
    EXPECT_EQ(order, (std::vector<FormControl>{FormControl::dtpInputDate, FormControl::cmdStart,
                                               FormControl::cmdEnd, FormControl::dtpInputEnd}));
    std::set<int> places;
    for (const FormControlSpec& spec : kFormControls) {
        const bool takesFocus =
            spec.Kind == ControlKind::MonthPicker || spec.Kind == ControlKind::CommandButton;
        EXPECT_EQ(spec.FocusPlace != kNoFocus, takesFocus) << spec.Name;
        if (spec.FocusPlace != kNoFocus) {
            EXPECT_TRUE(places.insert(spec.FocusPlace).second) << spec.Name;
        }
    }
    for (std::size_t place = 0; place < order.size(); ++place) {
        EXPECT_EQ(kFormControls[place].Control, order[place]) << "row " << place;
    }
}

struct DpiCase {
    int Dpi;
    FormSize Client;
    FormRect FirstPicker;
    int WindowFontPixels;
    int LabelFontPixels;
    int PickerFontPixels;
};

class FormAtDpi : public testing::TestWithParam<DpiCase> {};

bool Overlap(const FormRect& a, const FormRect& b) {
    return a.Left < b.Right() && b.Left < a.Right() && a.Top < b.Bottom() && b.Top < a.Bottom();
}

// What a window applies when it opens and when it moves to a monitor of another dpi: the client
// area, every control and the fonts scale together, and the form keeps its shape (everything
// inside the client area, no two controls overlapping that do not at 96 dpi).
TEST_P(FormAtDpi, ScalesClientAreaControlsAndFontsTogether) {
    const DpiCase& c = GetParam();
    const FormLayout layout = LayOutForm(c.Dpi);

    EXPECT_EQ(layout.Client, c.Client);
    EXPECT_EQ(layout.BoundsOf(FormControl::dtpInputDate), c.FirstPicker);
    EXPECT_EQ(layout.FontPixelsOf(FormFont::WindowDefault), c.WindowFontPixels);
    EXPECT_EQ(layout.FontPixelsOf(FormFont::Label), c.LabelFontPixels);
    EXPECT_EQ(layout.FontPixelsOf(FormFont::Picker), c.PickerFontPixels);
    EXPECT_EQ(layout.FontPixelsOf(FormFont::None), 0);

    for (std::size_t row = 0; row < kFormControls.size(); ++row) {
        const FormRect& bounds = layout.Bounds[row];
        const char* name = kFormControls[row].Name;
        EXPECT_GE(bounds.Left, 0) << name;
        EXPECT_GE(bounds.Top, 0) << name;
        EXPECT_LE(bounds.Right(), layout.Client.Width) << name;
        EXPECT_LE(bounds.Bottom(), layout.Client.Height) << name;
        for (std::size_t other = row + 1; other < kFormControls.size(); ++other) {
            if (!Overlap(kFormControls[row].Bounds, kFormControls[other].Bounds)) {
                EXPECT_FALSE(Overlap(bounds, layout.Bounds[other]))
                    << name << " and " << kFormControls[other].Name;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Dpis, FormAtDpi,
                         testing::Values(DpiCase{96, {312, 224}, {72, 0, 97, 25}, 12, 16, 19},
                                         DpiCase{120, {390, 280}, {90, 0, 121, 31}, 15, 20, 24},
                                         DpiCase{144, {468, 336}, {108, 0, 146, 38}, 18, 24, 29},
                                         DpiCase{168, {546, 392}, {126, 0, 170, 44}, 21, 28, 33},
                                         DpiCase{192, {624, 448}, {144, 0, 194, 50}, 24, 32, 38}),
                         [](const testing::TestParamInfo<DpiCase>& p) {
                             return "Dpi" + std::to_string(p.param.Dpi);
                         });

}  // namespace
}  // namespace tovrik
