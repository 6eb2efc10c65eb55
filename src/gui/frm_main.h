#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>

#include <QWidget>

#include "common/message_box.h"
#include "platform/platform.h"
#include "startup/start_state.h"
#include "window/main_window_form.h"
#include "window/main_window_logic.h"

class QCloseEvent;

namespace tovrik {

class MonthEdit;

// The program's only window, drawn with Qt Widgets: its controls, layout, fonts and icon. What
// it does (the initial values, Start, Close, the unload, the run's progress) is MainWindowLogic,
// to which it forwards its button clicks and its close event. The class and control names are
// those the suite's operators and documentation use.
class frmMain : public QWidget, protected MainWindowControls {
    Q_OBJECT

public:
    // Ends the program once the window has unloaded. The default leaves Qt's event loop
    // (QCoreApplication::exit(0)); tests pass their own to observe it.
    using ExitAction = std::function<void()>;

    // `state` supplies DbLogin.Database, ServerFileMode and DbConnection; the window closes and
    // releases DbConnection when it unloads. `boxes` null: the window's own QMessageBox adapter.
    // All references must outlive the window. Fills the initial values (Form_Load).
    frmMain(StartState& state, const Clock& clock, MessageBoxes* boxes = nullptr,
            ExitAction exitProgram = {}, QWidget* parent = nullptr);
    ~frmMain() override;

    // True once the window has unloaded; nothing of it runs afterwards.
    bool Unloaded() const { return logic_.Unloaded(); }
    // The message boxes the window and its runs use.
    MessageBoxes& Boxes() { return logic_.Boxes(); }
    // The window's behaviour, which is also the run's view of it.
    MainWindowLogic& Logic() { return logic_; }

protected:
    void closeEvent(QCloseEvent* event) override;

    // MainWindowControls
    void SetLabelText(FormLabel label, const std::string& text) override;
    void SetProgressMaximum(int maximum) override;
    void SetProgressValue(int value) override;
    void SetButtonEnabled(FormButton button, bool enabled) override;
    DateTime PickerValue(FormPicker picker) const override;
    void SetPickerValue(FormPicker picker, const DateTime& value) override;
    bool StartHasFocus() const override;
    void FocusStart() override;
    void ProcessPendingEvents() override;
    void CloseWindow() override;
    void EndProgram() override;

private:
    void BuildControls();
    QWidget* CreateControl(const FormControlSpec& spec);
    // The control of the form, of the class its kind is created with.
    template <typename Widget>
    Widget* Control(FormControl control) const {
        return static_cast<Widget*>(controls_[FormRowOf(control)]);
    }

    std::unique_ptr<MessageBoxes> ownBoxes_;
    ExitAction exitProgram_;
    // In the order of kFormControls; each named as the suite names it (objectName).
    std::array<QWidget*, kFormControls.size()> controls_{};

    // Declared last: it reaches the controls above from the constructor's Form_Load on.
    MainWindowLogic logic_;
};

// The window's Japanese gothic font at a pixel size: the form's Windows family kFormFontFamily
// first, then the IPA gothic fonts that Linux has. `narrowDigits` prefers IPAGothic, whose
// half-width digits are as wide as the Windows font's; IPAPGothic's wider digits would not fit
// "yyyy/MM" into the pickers.
QFont GothicFont(int pixelSize, bool narrowDigits = false);
// The window default font's pixel size (9 pt): buttons, Label4, Label5 and message boxes.
inline constexpr int kDefaultFontPixels = FontPixels(FormFont::WindowDefault, kFormDpi);

}  // namespace tovrik
