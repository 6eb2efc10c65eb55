#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <string_view>

#include "app/app_support.h"
#include "common/build_info.h"
#include "gui/frm_main.h"
#include "startup/startup_sequence.h"
#include "startup/system_services.h"

// Tovrik: start-up, then the main window until it is closed. Takes no command-line arguments and
// ignores any, except "--version" anywhere among them: it prints the version before any start-up
// step (no display, no settings, no instance guard) and ends.
int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--version") {
            std::fputs(tovrik::VersionText("tovrik").c_str(), stdout);
            return 0;
        }
    }

    QApplication application(argc, argv);
    // Lets the desktop match the window with its menu entry, and so with its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("tovrik"));
    tovrik::app::TerminationSignals termination;
    tovrik::app::EchoedMessageBoxes boxes(termination);
    tovrik::SystemStartupServices system(boxes, [] { QCoreApplication::processEvents(); });
    tovrik::StartState state;

    const tovrik::StartupOutcome outcome = tovrik::Main(state, system.Services());
    if (outcome == tovrik::StartupOutcome::PreviousInstance) return 0;
    if (outcome != tovrik::StartupOutcome::Ready) return 1;

    tovrik::frmMain window(state, system.SystemTime(), &boxes);
    window.show();
    // Once the window is painted and the loop runs: the months hint.
    QTimer::singleShot(0, &window, [&window] { window.Logic().Form_Shown(); });
    return QApplication::exec();
}
