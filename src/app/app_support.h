#pragma once

#include <memory>
#include <string>

#include "common/message_box.h"
#include "gui/qt_message_boxes.h"

class QSocketNotifier;

namespace tovrik::app {

// Ends the program in an orderly way on SIGTERM and SIGINT: every open window is closed (the
// main window then closes the database connection as on its Close button, and an open message
// box counts as answered) and every event loop is left. Install once, after the QApplication.
class TerminationSignals {
public:
    TerminationSignals();
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // True once a termination signal has been handled.
    bool Requested() const { return requested_; }

private:
    void Terminate();

    std::unique_ptr<QSocketNotifier> notifier_;
    bool requested_ = false;
};

// The window's message boxes, each text also written to standard error (the program has no
// log file, and a box may be shown where no one sees the screen). Once termination was
// requested, texts are only written, no longer shown.
class EchoedMessageBoxes final : public MessageBoxes {
public:
    explicit EchoedMessageBoxes(const TerminationSignals& termination)
        : termination_(termination) {}
    void Show(const std::string& text, const std::string& caption, MessageIcon icon) override;

private:
    const TerminationSignals& termination_;
    QtMessageBoxes boxes_;
};

}  // namespace tovrik::app
