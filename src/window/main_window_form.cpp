#include "window/main_window_form.h"

#include <algorithm>
#include <stdexcept>

namespace tovrik {

std::size_t FormRowOf(FormControl control) {
    for (std::size_t row = 0; row < kFormControls.size(); ++row) {
        if (kFormControls[row].Control == control) return row;
    }
    throw std::logic_error("a control missing from the form");
}

const FormControlSpec& FormControlOf(FormControl control) {
    return kFormControls[FormRowOf(control)];
}

const FormRect& FormLayout::BoundsOf(FormControl control) const {
    return Bounds[FormRowOf(control)];
}

std::vector<FormControl> FormFocusOrder() {
    std::vector<const FormControlSpec*> takers;
    for (const FormControlSpec& spec : kFormControls) {
        if (spec.FocusPlace != kNoFocus) takers.push_back(&spec);
    }
    std::sort(takers.begin(), takers.end(), [](const FormControlSpec* a, const FormControlSpec* b) {
        return a->FocusPlace < b->FocusPlace;
    });
    std::vector<FormControl> order;
    for (const FormControlSpec* spec : takers) order.push_back(spec->Control);
    return order;
}

FormLayout LayOutForm(int dpi) {
    FormLayout layout{
        dpi, {ScaleToDpi(kFormClientSize.Width, dpi), ScaleToDpi(kFormClientSize.Height, dpi)}, {}};
    for (std::size_t row = 0; row < kFormControls.size(); ++row) {
        layout.Bounds[row] = ScaleToDpi(kFormControls[row].Bounds, dpi);
    }
    return layout;
}

int ProgressBarMaximum(int operations) { return std::max(operations, 1); }

}  // namespace tovrik
