// Shows the main window on a fresh demo SQLite suite database and saves pictures of it before,
// during and after a correction run over 2019/04, and of the error box of a failing run.
//
//   gui_window_shots OUT_DIR [--hosting]
//
// Run it under xvfb-run to see the window as an X client (then `import -window root` works too),
// or with QT_QPA_PLATFORM=offscreen. Needs ODBCSYSINI naming a directory whose odbcinst.ini
// registers the SQLite driver as "SQLite3" (the test build's odbc folder does).

#include <cstdio>
#include <filesystem>
#include <string>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "gui/frm_main.h"
#include "gui/gui_test_support.h"
#include "gui/month_edit.h"
#include "sampledata/sample_data.h"

namespace {

void Save(QWidget& widget, const std::filesystem::path& file) {
    QApplication::processEvents();
    if (!widget.grab().save(QString::fromStdString(file.string()))) {
        std::fprintf(stderr, "cannot write %s\n", file.string().c_str());
    }
}

// Takes the "during" picture at the first progress point that is not the last.
class ShotWindow final : public tovrik::frmMain {
public:
    using frmMain::frmMain;
    std::filesystem::path during;
    void ProcessPendingEvents() override {
        const std::string status = Logic().StatusText();
        const auto slash = status.find('/');
        if (!during.empty() && slash != std::string::npos &&
            status.substr(0, slash) != status.substr(slash + 1)) {
            Save(*this, during);
            during.clear();
        }
        frmMain::ProcessPendingEvents();
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: gui_window_shots OUT_DIR [--hosting]\n");
        return 64;
    }
    QApplication app(argc, argv);
    const std::filesystem::path out = argv[1];
    const bool hosting = argc > 2 && std::string(argv[2]) == "--hosting";
    std::filesystem::create_directories(out);
    const std::filesystem::path dbFile = out / "demo-suite.db";
    std::filesystem::remove(dbFile);
    const std::string connectionString = "Driver=SQLite3;Database=" + dbFile.string() + ";";

    tovrik::StartState state;
    state.DbLogin.Database = "NuvralDemo";
    state.ServerFileMode = hosting;
    state.DbConnection = std::make_unique<tovrik::db::Connection>();
    state.DbConnection->Open(connectionString);
    tovrik::sampledata::CreateSuiteSchema(*state.DbConnection);
    tovrik::sampledata::SampleSpec spec;
    spec.Affected = 300;  // several chunks, so that there is a progress point to show
    spec.Unaffected = 8;
    tovrik::sampledata::FillSampleData(*state.DbConnection, spec);

    tovrik::test::FixedClock clock({2019, 4, 10, 9, 5, 12, 0});
    ShotWindow window(state, clock, nullptr, [] {});
    window.show();
    Save(window, out / "1-before.png");

    auto* inputEnd = window.findChild<tovrik::MonthEdit*>(QStringLiteral("dtpInputEnd"));
    inputEnd->SetValue({2019, 4, 1, 0, 0, 0, 0});
    window.during = out / "2-during.png";
    window.findChild<QPushButton*>(QStringLiteral("cmdStart"))->click();
    Save(window, out / "3-after.png");

    // A failing run: its error box, then the window it leaves.
    state.DbConnection->Execute("DROP TABLE OpData");
    tovrik::sampledata::FillSampleData(*state.DbConnection, [] {
        tovrik::sampledata::SampleSpec more;
        more.Affected = 1;
        more.Unaffected = 0;
        more.OpDataPerOperation = 0;
        more.FirstId = 1000;
        return more;
    }());
    QTimer boxWatch;
    QObject::connect(&boxWatch, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            Save(*box, out / "4-error-box.png");
            box->accept();
        }
    });
    boxWatch.start(20);
    window.findChild<QPushButton*>(QStringLiteral("cmdStart"))->click();
    boxWatch.stop();
    Save(window, out / "5-after-error.png");

    window.close();
    std::filesystem::remove(dbFile);
    std::printf("pictures in %s\n", out.string().c_str());
    return 0;
}
