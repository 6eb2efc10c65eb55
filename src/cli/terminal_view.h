#pragma once

#include <chrono>
#include <functional>
#include <ostream>
#include <string>

#include "correction/run_events.h"

namespace tovrik::cli {

using SteadyClock = std::chrono::steady_clock;

// "M:SS" below an hour, "H:MM:SS" from an hour on; negative durations count as zero.
std::string FormatDuration(std::chrono::milliseconds duration);

// One progress line: an optional bar of `done` out of `total`, the label (the run's "i/N"), the
// elapsed time and, once an operation has finished, the estimated time left.
std::string FormatProgressLine(const std::string& label, int done, int total,
                               std::chrono::milliseconds elapsed,
                               std::chrono::milliseconds sinceFirstOperation, bool withBar);

// Columns a text takes on a terminal: one per ASCII character, two per other character.
std::size_t DisplayWidth(const std::string& text);

// The correction run's progress on a terminal: "件数確認中", then "i/N" with a bar, drawn
// whenever the run lets its front end handle events: redrawn in place (carriage return) at most
// ten times a second on an interactive terminal, else as plain lines at most one per second. The
// caller prints the report.
class TerminalView final : public RunEvents {
public:
    TerminalView(std::ostream& out, bool interactive,
                 std::function<SteadyClock::time_point()> now = SteadyClock::now);

    void Counting() override;
    void Selected(int total) override;
    void Committed(int done, int total) override;
    // Draws; true unless `interrupted` (set by the caller's signal handler) says the user
    // stopped.
    bool GoOn() override;

    // Ends an in-place line, drawing its latest state first, so that whatever is written next
    // starts on a line of its own. Harmless when nothing is pending.
    void FinishLine();

    // Consulted by GoOn; the caller points it at a flag its signal handler sets.
    std::function<bool()> Interrupted;

private:
    void Draw(bool force);
    std::string CurrentLine() const;

    std::ostream& out_;
    bool interactive_;
    std::function<SteadyClock::time_point()> now_;
    std::string label_;  // "件数確認中" or "i/N"
    int maximum_ = 0;
    int value_ = 0;
    SteadyClock::time_point started_;
    SteadyClock::time_point operationsStarted_;
    bool drawnOnce_ = false;
    SteadyClock::time_point lastDraw_;
    std::string lastLine_;
    std::size_t lastWidth_ = 0;
    bool linePending_ = false;  // an in-place line without its line feed
};

}  // namespace tovrik::cli
