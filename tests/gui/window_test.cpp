#include "gui/frm_main.h"

#include <memory>

#include <gtest/gtest.h>
#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "gui/gui_test_support.h"
#include "gui/month_edit.h"
#include "gui/qt_message_boxes.h"
#include "support/test_support.h"

namespace tovrik {
namespace {

using test::FixedClock;
using test::RecordingMessageBoxes;

const DateTime kNow{2019, 4, 10, 19, 5, 12, 0};

template <typename T>
T* Child(const QWidget& window, const char* name) {
    T* child = window.findChild<T*>(QString::fromLatin1(name));
    if (child == nullptr) ADD_FAILURE() << "no control " << name;
    return child;
}

// A window over `state` whose unload is recorded instead of ending the test program.
struct WindowUnderTest {
    explicit WindowUnderTest(StartState& state)
        : window(state, clock, &boxes, [this] { ++exits; }) {}
    FixedClock clock{kNow};
    RecordingMessageBoxes boxes;
    int exits = 0;
    frmMain window;
};

struct LoadCase {
    const char* Name;
    std::string Database;
    bool ServerFileMode;
    QString Label3;
    QString Label5;
};

class FormLoad : public testing::TestWithParam<LoadCase> {};

TEST_P(FormLoad, ShowsTheDatabaseAndHostingAndTheInitialMonths) {
    const LoadCase& c = GetParam();
    StartState state;
    state.DbLogin.Database = c.Database;
    state.ServerFileMode = c.ServerFileMode;
    WindowUnderTest w(state);

    EXPECT_EQ(w.window.windowTitle(), QStringLiteral("Nuvral日付修正"));
    EXPECT_EQ(Child<QLabel>(w.window, "Label3")->text(), c.Label3);
    EXPECT_EQ(Child<QLabel>(w.window, "Label5")->text(), c.Label5);
    EXPECT_EQ(Child<QLabel>(w.window, "Label2")->text(), QString());
    EXPECT_EQ(Child<QProgressBar>(w.window, "pbrCount")->value(), 0);
    EXPECT_EQ(Child<MonthEdit>(w.window, "dtpInputDate")->Value(), kNow);
    EXPECT_EQ(Child<MonthEdit>(w.window, "dtpInputDate")->text(), QStringLiteral("2019/04"));
    EXPECT_EQ(Child<MonthEdit>(w.window, "dtpInputEnd")->Value(),
              (DateTime{2019, 4, 1, 0, 0, 0, 0}));
    EXPECT_TRUE(Child<QPushButton>(w.window, "cmdStart")->isEnabled());
    EXPECT_TRUE(Child<QPushButton>(w.window, "cmdEnd")->isEnabled());
    EXPECT_EQ(w.window.minimumSize(), QSize(312, 224));
    EXPECT_EQ(w.window.maximumSize(), QSize(312, 224));
    EXPECT_EQ(w.exits, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormLoad,
    testing::Values(LoadCase{"NamedDatabase", "NuvralData", false,
                             QStringLiteral("接続データベース：NuvralData"), QString()},
                    LoadCase{"EmptyName", "", false, QStringLiteral("接続データベース："),
                             QString()},
                    LoadCase{"Hosting", "運行DB", true, QStringLiteral("接続データベース：運行DB"),
                             QStringLiteral("ホスティング使用")},
                    LoadCase{"MarkupIsText", "<b>x</b>", false,
                             QStringLiteral("接続データベース：<b>x</b>"), QString()}),
    [](const testing::TestParamInfo<LoadCase>& p) { return std::string(p.param.Name); });

// What each label may show, at its widest.
struct FitCase {
    const char* Name;
    const char* Label;
    std::string Text;  // for Label2; else ignored
};

class LabelFits : public testing::TestWithParam<FitCase> {};

// The text must fit the label's box with the font the label really uses, every character must
// come from a font that has it, and no control stacked above the label may cover the text.
TEST_P(LabelFits, TextFitsItsBoxInAJapaneseGothicFont) {
    const FitCase& c = GetParam();
    StartState state;
    state.DbLogin.Database = "NuvralData";
    state.ServerFileMode = true;
    WindowUnderTest w(state);
    if (std::string(c.Label) == "Label2") {
        Child<QLabel>(w.window, "Label2")->setText(ToDisplayText(c.Text));
    }
    w.window.show();
    QApplication::processEvents();

    const QLabel* label = Child<QLabel>(w.window, c.Label);
    ASSERT_NE(label, nullptr);
    ASSERT_FALSE(label->text().isEmpty());
    const QFontInfo used(label->font());
    EXPECT_TRUE(used.family().startsWith(QStringLiteral("IPA")) &&
                used.family().contains(QStringLiteral("Gothic")))
        << used.family().toStdString();
    const QFontMetrics metrics(label->font());
    for (const QChar ch : label->text()) {
        if (ch != QLatin1Char('\n')) {
            EXPECT_TRUE(metrics.inFont(ch))
                << "no glyph for U+" << std::hex << static_cast<int>(ch.unicode());
        }
    }

    const QRect area = label->contentsRect();
    const int flags = static_cast<int>(label->alignment()) |
                      (label->wordWrap() ? static_cast<int>(Qt::TextWordWrap) : 0);
    const QRect needed = metrics.boundingRect(area, flags, label->text());
    EXPECT_TRUE(area.contains(needed))
        << c.Label << " needs " << needed.width() << "x" << needed.height() << " at " << needed.x()
        << "," << needed.y() << " in " << area.width() << "x" << area.height();

    const QRect onWindow = needed.translated(label->pos());
    bool above = false;
    for (const QObject* object : w.window.children()) {
        const auto* sibling = qobject_cast<const QWidget*>(object);
        if (sibling == label) {
            above = true;
        } else if (above && sibling != nullptr && sibling->isVisible()) {
            EXPECT_FALSE(sibling->geometry().intersects(onWindow))
                << sibling->objectName().toStdString() << " covers " << c.Label;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LabelFits,
    testing::Values(FitCase{"Caption", "Label1", ""}, FitCase{"Separator", "Label4", ""},
                    FitCase{"Hosting", "Label5", ""}, FitCase{"Database", "Label3", ""},
                    FitCase{"Counting", "Label2", "件数確認中"},
                    FitCase{"NoData", "Label2", "修正が必要なデータはありません"},
                    FitCase{"Progress", "Label2", "99999/99999"},
                    FitCase{"Report", "Label2",
                            "99999件の修正が終了しました\r\n開始：2019/12/28 23:58:58\r\n"
                            "終了：2019/12/28 23:59:59"},
                    FitCase{"MonthsHint", "Label2",
                            "修正が必要な運行: 999999件\r\n読込年月 2019/04〜2019/12 (9か月)\r\n"
                            "読込年月が読めない運行: 99999件"},
                    FitCase{"NothingToCorrect", "Label2", "2008/01/01 より前の運行はありません"}),
    [](const testing::TestParamInfo<FitCase>& p) { return std::string(p.param.Name); });

TEST(Window, PickerTextFitsItsEditField) {
    StartState state;
    WindowUnderTest w(state);
    w.window.show();
    QApplication::processEvents();
    for (const char* name : {"dtpInputDate", "dtpInputEnd"}) {
        auto* picker = Child<MonthEdit>(w.window, name);
        ASSERT_NE(picker, nullptr);
        picker->SetValue({2088, 8, 1, 0, 0, 0, 0});  // the widest digits
        const auto* field = picker->findChild<QLineEdit*>();
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(QFontInfo(picker->font()).pixelSize(), 19);
        const QFontMetrics metrics(field->font());
        const QMargins margins = field->textMargins();
        const int room = field->contentsRect().width() - margins.left() - margins.right() - 4;
        EXPECT_LE(metrics.horizontalAdvance(field->text()), room) << name;
        EXPECT_LE(metrics.tightBoundingRect(field->text()).height(), field->contentsRect().height())
            << name;
    }
}

TEST(Window, FocusStartsOnTheFirstPickerAndTabsInTheFixedOrder) {
    StartState state;
    WindowUnderTest w(state);
    w.window.show();
    QApplication::setActiveWindow(&w.window);
    QApplication::processEvents();

    const auto owner = [](QWidget* focused) -> QString {
        for (QWidget* widget = focused; widget != nullptr; widget = widget->parentWidget()) {
            if (!widget->objectName().isEmpty() && widget->objectName() != "qt_spinbox_lineedit")
                return widget->objectName();
        }
        return {};
    };
    EXPECT_EQ(owner(QApplication::focusWidget()), QStringLiteral("dtpInputDate"));
    QStringList order;
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order << owner(QApplication::focusWidget());
    }
    EXPECT_EQ(order, (QStringList{"cmdStart", "cmdEnd", "dtpInputEnd", "dtpInputDate"}));
}

enum class CloseBy { CloseButton, WindowCommand };
enum class ConnectionIs { Missing, NeverOpened, Open };

class Unload : public testing::TestWithParam<std::tuple<CloseBy, ConnectionIs>> {};

std::string UnloadName(const testing::TestParamInfo<std::tuple<CloseBy, ConnectionIs>>& p) {
    const CloseBy closeBy = std::get<0>(p.param);
    const ConnectionIs connectionIs = std::get<1>(p.param);
    std::string name = closeBy == CloseBy::CloseButton ? "CloseButton" : "WindowCommand";
    name += connectionIs == ConnectionIs::Missing       ? "NoConnection"
            : connectionIs == ConnectionIs::NeverOpened ? "ClosedConnection"
                                                        : "OpenConnection";
    return name;
}

TEST_P(Unload, ClosesAndReleasesTheConnectionAndEndsTheProgramOnce) {
    const auto [closeBy, connectionIs] = GetParam();
    test::TempDir dir;
    StartState state;
    if (connectionIs != ConnectionIs::Missing) {
        state.DbConnection = std::make_unique<db::Connection>();
    }
    if (connectionIs == ConnectionIs::Open) {
        state.DbConnection->Open("Driver=SQLite3;Database=" + dir.Str() + "/unload.db;");
        state.DbConnection->Execute("CREATE TABLE t (x INTEGER)");
        state.DbConnection->BeginTransaction();
        state.DbConnection->Execute("INSERT INTO t VALUES (1)");
    }
    WindowUnderTest w(state);
    w.window.show();
    QApplication::processEvents();

    if (closeBy == CloseBy::CloseButton) {
        Child<QPushButton>(w.window, "cmdEnd")->click();
    } else {
        w.window.close();
    }
    QApplication::processEvents();

    EXPECT_EQ(w.exits, 1);
    EXPECT_TRUE(w.window.Unloaded());
    EXPECT_FALSE(w.window.isVisible());
    EXPECT_EQ(state.DbConnection, nullptr);
    EXPECT_TRUE(w.boxes.Shown.empty());
    w.window.close();
    EXPECT_EQ(w.exits, 1);

    if (connectionIs == ConnectionIs::Open) {
        db::Connection check;
        check.Open("Driver=SQLite3;Database=" + dir.Str() + "/unload.db;");
        auto count = check.Prepare("SELECT COUNT(*) AS n FROM t");
        count.Execute();
        ASSERT_TRUE(count.Fetch());
        EXPECT_EQ(count.GetInt("n"), 0) << "the uncommitted insert was rolled back";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Unload,
    testing::Combine(testing::Values(CloseBy::CloseButton, CloseBy::WindowCommand),
                     testing::Values(ConnectionIs::Missing, ConnectionIs::NeverOpened,
                                     ConnectionIs::Open)),
    UnloadName);

struct BoxCase {
    const char* Name;
    MessageIcon Icon;
    QMessageBox::Icon Expected;
};

class MessageBoxAdapter : public testing::TestWithParam<BoxCase> {};

TEST_P(MessageBoxAdapter, ShowsOneModalOkBoxWithTheTextAsPlainLines) {
    QWidget parent;
    QtMessageBoxes boxes(&parent);
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen = true;
        EXPECT_EQ(box->windowTitle(), QStringLiteral("Nuvral日付修正"));
        EXPECT_EQ(box->text(), QStringLiteral("処理中にエラーが発生しました。\n<no such table>"));
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        EXPECT_EQ(box->icon(), GetParam().Expected);
        EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
        box->button(QMessageBox::Ok)->click();
    });
    boxes.Show("処理中にエラーが発生しました。\r\n<no such table>", "Nuvral日付修正",
               GetParam().Icon);
    EXPECT_TRUE(seen);
}

INSTANTIATE_TEST_SUITE_P(
    Icons, MessageBoxAdapter,
    testing::Values(BoxCase{"None", MessageIcon::None, QMessageBox::NoIcon},
                    BoxCase{"Critical", MessageIcon::Critical, QMessageBox::Critical},
                    BoxCase{"Exclamation", MessageIcon::Exclamation, QMessageBox::Warning}),
    [](const testing::TestParamInfo<BoxCase>& p) { return std::string(p.param.Name); });

}  // namespace
}  // namespace tovrik
