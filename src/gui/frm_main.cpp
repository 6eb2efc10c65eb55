#include "gui/frm_main.h"

#include <algorithm>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include "correction/background_run.h"
#include "gui/month_edit.h"
#include "gui/qt_message_boxes.h"

// Q_INIT_RESOURCE must be used outside any namespace; the icons live in a static library.
static void InitIconResources() { Q_INIT_RESOURCE(icons); }

namespace tovrik {

namespace {

constexpr int kClientWidth = 312;
constexpr int kClientHeight = 224;
// Pixel sizes of the fonts at 96 dpi: 12 pt, 14.25 pt and the window default of 9 pt.
constexpr int kLabelFontPixels = 16;
constexpr int kPickerFontPixels = 19;

const DateTime kInitialInputEnd{2019, 4, 1, 0, 0, 0, 0};

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& rect) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    // Database names and run texts are shown as they are, never interpreted as markup.
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(rect);
    return label;
}

}  // namespace

QFont GothicFont(int pixelSize, bool narrowDigits) {
    QStringList families{QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                         QStringLiteral("IPAPGothic"),      QStringLiteral("IPAexGothic"),
                         QStringLiteral("IPAGothic"),       QStringLiteral("Noto Sans CJK JP")};
    if (narrowDigits) families.move(families.indexOf(QStringLiteral("IPAGothic")), 2);
    QFont font;
    font.setFamilies(families);
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

frmMain::frmMain(StartState& state, const Clock& clock, MessageBoxes* boxes, ExitAction exitProgram,
                 QWidget* parent)
    : QWidget(parent),
      state_(state),
      clock_(clock),
      boxes_(boxes),
      exitProgram_(std::move(exitProgram)) {
    if (boxes_ == nullptr) {
        ownBoxes_ = std::make_unique<QtMessageBoxes>(this);
        boxes_ = ownBoxes_.get();
    }
    if (!exitProgram_) exitProgram_ = [] { QCoreApplication::exit(0); };
    BuildControls();
    Form_Load();
}

frmMain::~frmMain() = default;

void frmMain::BuildControls() {
    InitIconResources();
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Nuvral日付修正"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/tovrik16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/tovrik32.png"), QSize(32, 32));
    setWindowIcon(icon);
    setFont(GothicFont(kDefaultFontPixels));
    setFixedSize(kClientWidth, kClientHeight);

    // Created in this order so that the pickers lie above Label1, whose box they overlap.
    Label1 = MakeLabel(this, "Label1", QStringLiteral("読込年月"), QRect(8, 8, 73, 25));
    Label1->setFont(GothicFont(kLabelFontPixels));

    dtpInputDate = new MonthEdit(this);
    dtpInputDate->setObjectName(QStringLiteral("dtpInputDate"));
    dtpInputDate->setFont(GothicFont(kPickerFontPixels, true));
    dtpInputDate->setGeometry(72, 0, 97, 25);

    Label4 = MakeLabel(this, "Label4", QStringLiteral("～"), QRect(176, 8, 17, 17));

    dtpInputEnd = new MonthEdit(this);
    dtpInputEnd->setObjectName(QStringLiteral("dtpInputEnd"));
    dtpInputEnd->setFont(GothicFont(kPickerFontPixels, true));
    dtpInputEnd->setGeometry(200, 0, 97, 25);
    dtpInputEnd->SetValue(kInitialInputEnd);

    pbrCount = new QProgressBar(this);
    pbrCount->setObjectName(QStringLiteral("pbrCount"));
    pbrCount->setRange(0, 100);
    pbrCount->setValue(0);
    pbrCount->setTextVisible(false);
    pbrCount->setGeometry(8, 32, 297, 17);

    Label2 = MakeLabel(this, "Label2", QString(), QRect(8, 56, 289, 57));
    Label2->setFont(GothicFont(kLabelFontPixels));
    Label2->setWordWrap(true);

    Label5 = MakeLabel(this, "Label5", QString(), QRect(8, 128, 177, 17));

    Label3 =
        MakeLabel(this, "Label3", QStringLiteral("接続データベース："), QRect(8, 152, 289, 25));
    Label3->setFont(GothicFont(kLabelFontPixels));

    cmdStart = new QPushButton(QStringLiteral("開始"), this);
    cmdStart->setObjectName(QStringLiteral("cmdStart"));
    cmdStart->setGeometry(128, 184, 81, 33);
    cmdStart->setAutoDefault(false);

    cmdEnd = new QPushButton(QStringLiteral("閉じる"), this);
    cmdEnd->setObjectName(QStringLiteral("cmdEnd"));
    cmdEnd->setGeometry(224, 184, 81, 33);
    cmdEnd->setAutoDefault(false);

    for (QWidget* passive : {static_cast<QWidget*>(Label1), static_cast<QWidget*>(Label2),
                             static_cast<QWidget*>(Label3), static_cast<QWidget*>(Label4),
                             static_cast<QWidget*>(Label5), static_cast<QWidget*>(pbrCount)}) {
        passive->setFocusPolicy(Qt::NoFocus);
    }
    for (QWidget* active : {static_cast<QWidget*>(dtpInputDate), static_cast<QWidget*>(cmdStart),
                            static_cast<QWidget*>(cmdEnd), static_cast<QWidget*>(dtpInputEnd)}) {
        active->setFocusPolicy(Qt::StrongFocus);
    }
    setTabOrder(dtpInputDate, cmdStart);
    setTabOrder(cmdStart, cmdEnd);
    setTabOrder(cmdEnd, dtpInputEnd);
    dtpInputDate->setFocus(Qt::OtherFocusReason);

    connect(cmdStart, &QPushButton::clicked, this, [this] { cmdStart_Click(); });
    connect(cmdEnd, &QPushButton::clicked, this, [this] { cmdEnd_Click(); });

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        move(available.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
    }
}

void frmMain::Form_Load() {
    dtpInputDate->SetValue(clock_.Now());
    pbrCount->setValue(0);
    Label3->setText(QStringLiteral("接続データベース：") +
                    QString::fromStdString(state_.DbLogin.Database));
    Label5->setText(state_.ServerFileMode ? QStringLiteral("ホスティング使用") : QString());
}

void frmMain::cmdStart_Click() {
    // The run lets events through before it disables the buttons; a second click then must not
    // start a second run on the same connection inside the first.
    if (running_ || unloaded_) return;
    if (!state_.DbConnection) return;
    running_ = true;
    // Disabling the focused button hands the focus on to a picker; give it back afterwards so
    // that Enter or Space starts the next run, as before this one.
    const bool startHadFocus = cmdStart->hasFocus();
    RunCorrectionInBackground(*state_.DbConnection, *this, *boxes_, clock_, dtpInputDate->Value(),
                              dtpInputEnd->Value());
    running_ = false;
    if (unloaded_) {
        // The window unloaded during the run, which has now stopped and rolled back what it had
        // not committed: the unload's own work is done now.
        CloseConnection();
        exitProgram_();
        return;
    }
    if (startHadFocus) cmdStart->setFocus(Qt::OtherFocusReason);
}

void frmMain::cmdEnd_Click() { close(); }

void frmMain::closeEvent(QCloseEvent* event) {
    event->accept();  // the unload never asks and cannot be cancelled
    Form_Unload();
}

void frmMain::Form_Unload() {
    if (unloaded_) return;
    unloaded_ = true;
    // A run in progress still uses the connection on its own thread: it is told to stop when
    // this event round ends, and cmdStart_Click closes the connection and ends the program.
    if (running_) return;
    CloseConnection();
    exitProgram_();
}

void frmMain::CloseConnection() {
    if (state_.DbConnection) state_.DbConnection->Close();
    state_.DbConnection.reset();
}

void frmMain::SetStatusText(const std::string& text) {
    if (unloaded_) return;
    statusText_ = text;
    Label2->setText(ToDisplayText(text));
}

std::string frmMain::StatusText() const { return statusText_; }

void frmMain::SetProgressMaximum(int maximum) {
    if (unloaded_) return;
    // A maximum equal to the minimum would turn the bar into a busy indicator.
    pbrCount->setMaximum(std::max(maximum, 1));
}

void frmMain::SetProgressValue(int value) {
    if (unloaded_) return;
    pbrCount->setValue(value);
}

void frmMain::SetStartEnabled(bool enabled) {
    if (unloaded_) return;
    cmdStart->setEnabled(enabled);
}

void frmMain::SetEndEnabled(bool enabled) {
    if (unloaded_) return;
    cmdEnd->setEnabled(enabled);
}

bool frmMain::ProcessEvents() {
    if (unloaded_) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return !unloaded_;
}

}  // namespace tovrik
