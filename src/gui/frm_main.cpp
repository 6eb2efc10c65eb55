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
      ownBoxes_(boxes == nullptr ? std::make_unique<QtMessageBoxes>(this) : nullptr),
      exitProgram_(std::move(exitProgram)),
      logic_(*this, state, clock, boxes == nullptr ? *ownBoxes_ : *boxes) {
    if (!exitProgram_) exitProgram_ = [] { QCoreApplication::exit(0); };
    BuildControls();
    logic_.Form_Load();
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

    connect(cmdStart, &QPushButton::clicked, this, [this] { logic_.cmdStart_Click(); });
    connect(cmdEnd, &QPushButton::clicked, this, [this] { logic_.cmdEnd_Click(); });

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        move(available.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
    }
}

void frmMain::closeEvent(QCloseEvent* event) {
    event->accept();  // the unload never asks and cannot be cancelled
    logic_.Form_Unload();
}

void frmMain::SetLabelText(FormLabel label, const std::string& text) {
    QLabel* target = label == FormLabel::Label2   ? Label2
                     : label == FormLabel::Label3 ? Label3
                                                  : Label5;
    target->setText(ToDisplayText(text));
}

void frmMain::SetProgressMaximum(int maximum) {
    // A maximum equal to the minimum would turn the bar into a busy indicator.
    pbrCount->setMaximum(std::max(maximum, 1));
}

void frmMain::SetProgressValue(int value) { pbrCount->setValue(value); }

void frmMain::SetButtonEnabled(FormButton button, bool enabled) {
    (button == FormButton::cmdStart ? cmdStart : cmdEnd)->setEnabled(enabled);
}

MonthEdit* frmMain::Picker(FormPicker picker) const {
    return picker == FormPicker::dtpInputDate ? dtpInputDate : dtpInputEnd;
}

DateTime frmMain::PickerValue(FormPicker picker) const { return Picker(picker)->Value(); }

void frmMain::SetPickerValue(FormPicker picker, const DateTime& value) {
    Picker(picker)->SetValue(value);
}

bool frmMain::StartHasFocus() const { return cmdStart->hasFocus(); }

void frmMain::FocusStart() { cmdStart->setFocus(Qt::OtherFocusReason); }

void frmMain::ProcessPendingEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void frmMain::CloseWindow() { close(); }

void frmMain::EndProgram() { exitProgram_(); }

}  // namespace tovrik
