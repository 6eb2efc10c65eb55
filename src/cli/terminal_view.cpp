#include "cli/terminal_view.h"

#include <cstdio>

#include "window/run_texts.h"

namespace tovrik::cli {

namespace {

using std::chrono::milliseconds;

constexpr int kBarWidth = 30;
constexpr milliseconds kInteractiveInterval{100};
constexpr milliseconds kPlainInterval{1000};

}  // namespace

std::string FormatDuration(milliseconds duration) {
    const long long total = duration.count() > 0 ? duration.count() / 1000 : 0;
    const long long hours = total / 3600;
    const long long minutes = total / 60 % 60;
    const long long seconds = total % 60;
    char text[48];
    if (hours > 0) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", hours, minutes, seconds);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", minutes, seconds);
    }
    return text;
}

std::string FormatProgressLine(const std::string& label, int done, int total, milliseconds elapsed,
                               milliseconds sinceFirstOperation, bool withBar) {
    std::string line;
    if (withBar && total > 0) {
        const int clamped = done < 0 ? 0 : (done > total ? total : done);
        const int filled = static_cast<int>(static_cast<long long>(clamped) * kBarWidth / total);
        line += "[" + std::string(static_cast<std::size_t>(filled), '#') +
                std::string(static_cast<std::size_t>(kBarWidth - filled), '-') + "] ";
    }
    line += label + "  経過 " + FormatDuration(elapsed) + "  残り ";
    if (done <= 0 || total <= 0) {
        line += "--:--";
    } else {
        const int left = total > done ? total - done : 0;
        line += FormatDuration(milliseconds(sinceFirstOperation.count() * left / done));
    }
    return line;
}

std::size_t DisplayWidth(const std::string& text) {
    std::size_t width = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            ++width;
        } else if ((byte & 0xC0) != 0x80) {
            width += 2;  // the lead byte of a non-ASCII character
        }
    }
    return width;
}

TerminalView::TerminalView(std::ostream& out, bool interactive,
                           std::function<SteadyClock::time_point()> now)
    : out_(out), interactive_(interactive), now_(std::move(now)) {
    started_ = now_();
    operationsStarted_ = started_;
}

void TerminalView::Counting() { label_ = run_texts::kCounting; }

void TerminalView::Selected(int total) {
    if (maximum_ == 0 && total > 0) operationsStarted_ = now_();
    maximum_ = total;
}

void TerminalView::Committed(int done, int total) {
    Selected(total);
    value_ = done;
    label_ = run_texts::Progress(done, total);
}

bool TerminalView::GoOn() {
    Draw(false);
    return !(Interrupted && Interrupted());
}

void TerminalView::FinishLine() {
    if (!interactive_) return;
    if (drawnOnce_) Draw(true);
    if (linePending_) {
        out_ << '\n';
        out_.flush();
        linePending_ = false;
    }
}

std::string TerminalView::CurrentLine() const {
    if (maximum_ <= 0) return label_;
    const auto now = now_();
    return FormatProgressLine(
        label_, value_, maximum_, std::chrono::duration_cast<milliseconds>(now - started_),
        std::chrono::duration_cast<milliseconds>(now - operationsStarted_), interactive_);
}

void TerminalView::Draw(bool force) {
    if (label_.empty()) return;
    const auto now = now_();
    const auto interval = interactive_ ? kInteractiveInterval : kPlainInterval;
    if (drawnOnce_ && !force && now - lastDraw_ < interval) return;
    const std::string line = CurrentLine();
    if (drawnOnce_ && line == lastLine_) return;
    if (interactive_) {
        const std::size_t width = DisplayWidth(line);
        out_ << '\r' << line;
        if (width < lastWidth_) out_ << std::string(lastWidth_ - width, ' ');
        lastWidth_ = width;
        linePending_ = true;
    } else {
        out_ << line << '\n';
    }
    out_.flush();
    drawnOnce_ = true;
    lastDraw_ = now;
    lastLine_ = line;
}

}  // namespace tovrik::cli
