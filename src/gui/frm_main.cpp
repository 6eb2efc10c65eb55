#include "gui/frm_main.h"

#include <vector>

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

// One of the form's fonts in Qt's device-independent pixels, which are those of 96 dpi: Qt
// scales them, with everything else, by the screen's scale factor.
QFont FormQFont(FormFont font) {
    return GothicFont(FontPixels(font, kFormDpi), font == FormFont::Picker);
}

QRect ToQRect(const FormRect& rect) { return {rect.Left, rect.Top, rect.Width, rect.Height}; }

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
    setWindowTitle(QString::fromUtf8(kFormCaption));
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/tovrik16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/tovrik32.png"), QSize(32, 32));
    setWindowIcon(icon);
    setFont(FormQFont(FormFont::WindowDefault));
    setFixedSize(kFormClientSize.Width, kFormClientSize.Height);

    // Qt stacks each widget above those created before it: the form's stacking order, topmost
    // first, is created from its end.
    for (std::size_t row = kFormControls.size(); row-- > 0;) {
        controls_[row] = CreateControl(kFormControls[row]);
    }
    const std::vector<FormControl> focusOrder = FormFocusOrder();
    for (std::size_t place = 1; place < focusOrder.size(); ++place) {
        setTabOrder(Control<QWidget>(focusOrder[place - 1]), Control<QWidget>(focusOrder[place]));
    }
    Control<QWidget>(focusOrder.front())->setFocus(Qt::OtherFocusReason);

    auto* start = Control<QPushButton>(FormControl::cmdStart);
    auto* end = Control<QPushButton>(FormControl::cmdEnd);
    connect(start, &QPushButton::clicked, this, [this] { logic_.cmdStart_Click(); });
    connect(end, &QPushButton::clicked, this, [this] { logic_.cmdEnd_Click(); });

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        move(available.center() - QPoint(kFormClientSize.Width / 2, kFormClientSize.Height / 2));
    }
}

QWidget* frmMain::CreateControl(const FormControlSpec& spec) {
    const QString text = QString::fromUtf8(spec.Text);
    QWidget* control = nullptr;
    switch (spec.Kind) {
        case ControlKind::Label:
        case ControlKind::MultiLineLabel: {
            auto* label = new QLabel(text, this);
            // Database names and run texts are shown as they are, never interpreted as markup.
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setWordWrap(spec.Kind == ControlKind::MultiLineLabel);
            control = label;
            break;
        }
        case ControlKind::MonthPicker:
            control = new MonthEdit(this);
            break;
        case ControlKind::ProgressBar: {
            auto* bar = new QProgressBar(this);
            bar->setRange(0, kInitialProgressMaximum);
            bar->setValue(0);
            bar->setTextVisible(false);
            control = bar;
            break;
        }
        case ControlKind::CommandButton: {
            auto* button = new QPushButton(text, this);
            button->setAutoDefault(false);
            control = button;
            break;
        }
    }
    control->setObjectName(QString::fromLatin1(spec.Name));
    control->setGeometry(ToQRect(spec.Bounds));
    // The window default font and None: the window's own font, inherited.
    if (spec.Font == FormFont::Label || spec.Font == FormFont::Picker) {
        control->setFont(FormQFont(spec.Font));
    }
    control->setFocusPolicy(spec.FocusPlace == kNoFocus ? Qt::NoFocus : Qt::StrongFocus);
    return control;
}

void frmMain::closeEvent(QCloseEvent* event) {
    event->accept();  // the unload never asks and cannot be cancelled
    logic_.Form_Unload();
}

void frmMain::SetLabelText(FormLabel label, const std::string& text) {
    Control<QLabel>(ControlOf(label))->setText(ToDisplayText(text));
}

void frmMain::SetProgressMaximum(int maximum) {
    Control<QProgressBar>(FormControl::pbrCount)->setMaximum(ProgressBarMaximum(maximum));
}

void frmMain::SetProgressValue(int value) {
    Control<QProgressBar>(FormControl::pbrCount)->setValue(value);
}

void frmMain::SetButtonEnabled(FormButton button, bool enabled) {
    Control<QPushButton>(ControlOf(button))->setEnabled(enabled);
}

DateTime frmMain::PickerValue(FormPicker picker) const {
    return Control<MonthEdit>(ControlOf(picker))->Value();
}

void frmMain::SetPickerValue(FormPicker picker, const DateTime& value) {
    Control<MonthEdit>(ControlOf(picker))->SetValue(value);
}

bool frmMain::StartHasFocus() const {
    return Control<QPushButton>(FormControl::cmdStart)->hasFocus();
}

void frmMain::FocusStart() {
    Control<QPushButton>(FormControl::cmdStart)->setFocus(Qt::OtherFocusReason);
}

void frmMain::ProcessPendingEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void frmMain::CloseWindow() { close(); }

void frmMain::EndProgram() { exitProgram_(); }

}  // namespace tovrik
