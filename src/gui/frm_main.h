#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QWidget>

#include "common/message_box.h"
#include "correction/correction_view.h"
#include "platform/platform.h"
#include "startup/start_state.h"

class QCloseEvent;
class QLabel;
class QProgressBar;
class QPushButton;

namespace tovrik {

class MonthEdit;

// The program's only window: picks the month range, runs the correction with the Start button
// (cmdStart), shows its progress and report, and ends the program when it unloads (Close button
// cmdEnd or the window's own close command). The class and control names are those the suite's
// operators and documentation use.
class frmMain : public QWidget, public CorrectionView {
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
    bool Unloaded() const { return unloaded_; }
    // The message boxes the window and its runs use.
    MessageBoxes& Boxes() { return *boxes_; }

    // CorrectionView. Texts may hold "\r\n" line breaks; StatusText returns them as set.
    void SetStatusText(const std::string& text) override;
    std::string StatusText() const override;
    void SetProgressMaximum(int maximum) override;
    void SetProgressValue(int value) override;
    void SetStartEnabled(bool enabled) override;
    void SetEndEnabled(bool enabled) override;
    bool ProcessEvents() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void Form_Load();
    void cmdStart_Click();
    void cmdEnd_Click();
    void Form_Unload();
    void CloseConnection();

    StartState& state_;
    const Clock& clock_;
    std::unique_ptr<MessageBoxes> ownBoxes_;
    MessageBoxes* boxes_;
    ExitAction exitProgram_;

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    MonthEdit* dtpInputDate = nullptr;
    MonthEdit* dtpInputEnd = nullptr;
    QProgressBar* pbrCount = nullptr;
    QPushButton* cmdStart = nullptr;
    QPushButton* cmdEnd = nullptr;

    std::string statusText_;
    bool running_ = false;
    bool unloaded_ = false;
};

// The window's Japanese gothic font at a pixel size (at 96 dpi: 12 pt = 16 px, 14.25 pt = 19 px,
// 9 pt = 12 px): the suite's Windows family "ＭＳ Ｐゴシック" first, then the IPA gothic fonts
// that Linux has. `narrowDigits` prefers IPAGothic, whose half-width digits are as wide as the
// Windows font's; IPAPGothic's wider digits would not fit "yyyy/MM" into the pickers.
QFont GothicFont(int pixelSize, bool narrowDigits = false);
// The window default font's pixel size (9 pt): buttons, Label4, Label5 and message boxes.
inline constexpr int kDefaultFontPixels = 12;

}  // namespace tovrik
