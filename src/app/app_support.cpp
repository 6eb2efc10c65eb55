#include "app/app_support.h"

#include <QApplication>
#include <QSocketNotifier>

#include <cstdio>

#ifndef _WIN32
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace tovrik::app {

#ifndef _WIN32
namespace {

int signalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = write(signalPipe[1], &byte, 1);
}

}  // namespace

TerminationSignals::TerminationSignals() {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
        char byte = 0;
        [[maybe_unused]] const auto got = read(signalPipe[0], &byte, 1);
        Terminate();
    });
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
    if (!notifier_) return;
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    notifier_.reset();
    close(signalPipe[0]);
    close(signalPipe[1]);
}
#else
TerminationSignals::TerminationSignals() = default;
TerminationSignals::~TerminationSignals() = default;
#endif

void TerminationSignals::Terminate() {
    requested_ = true;
    QApplication::closeAllWindows();
    QCoreApplication::exit(0);
}

void EchoedMessageBoxes::Show(const std::string& text, const std::string& caption,
                              MessageIcon icon) {
    const QByteArray line = ToDisplayText(caption + ": " + text).toUtf8();
    std::fprintf(stderr, "tovrik: %s\n", line.constData());
    std::fflush(stderr);
    if (!termination_.Requested()) boxes_.Show(text, caption, icon);
}

}  // namespace tovrik::app
