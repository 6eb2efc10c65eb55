#include <QApplication>

#include "app/app_support.h"
#include "gui/frm_main.h"
#include "startup/startup_sequence.h"
#include "startup/system_services.h"

// Tovrik: start-up, then the main window until it is closed. Takes no command-line arguments.
int main(int argc, char** argv) {
    QApplication application(argc, argv);
    tovrik::app::TerminationSignals termination;
    tovrik::app::EchoedMessageBoxes boxes(termination);
    tovrik::SystemStartupServices system(boxes, [] { QCoreApplication::processEvents(); });
    tovrik::StartState state;

    const tovrik::StartupOutcome outcome = tovrik::Main(state, system.Services());
    if (outcome == tovrik::StartupOutcome::PreviousInstance) return 0;
    if (outcome != tovrik::StartupOutcome::Ready) return 1;

    tovrik::frmMain window(state, system.SystemTime(), &boxes);
    window.show();
    return QApplication::exec();
}
