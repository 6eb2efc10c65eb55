#include "correction/background_run.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

namespace tovrik {

namespace {

using SteadyClock = std::chrono::steady_clock;

// One call of the run on its view or its boxes, to be made on the front end's thread.
struct ViewCall {
    enum class Kind { Text, Maximum, Value, Start, End, Box } What;
    std::string Text;
    int Number = 0;
    std::string Caption;
    MessageIcon Icon = MessageIcon::None;

    static ViewCall Of(Kind what, int number) { return {what, {}, number, {}, MessageIcon::None}; }
};

// What the worker and the front end's thread share.
class Relay {
public:
    // Worker side.
    void Post(ViewCall call) {
        {
            std::lock_guard lock(mutex_);
            calls_.push_back(std::move(call));
        }
        changed_.notify_all();
    }
    // Worker side: waits until the front end has processed its events once; false when it is
    // closing (then at once).
    bool EventRound() {
        std::unique_lock lock(mutex_);
        if (closing_) return false;
        roundWanted_ = true;
        changed_.notify_all();
        answered_.wait(lock, [&] { return !roundWanted_ || closing_; });
        return !closing_;
    }
    void Finish(RunResult result) {
        {
            std::lock_guard lock(mutex_);
            result_ = std::move(result);
        }
        changed_.notify_all();
    }

    // Front end side: waits for calls, a wanted event round, the run's end, or `until`.
    struct Work {
        std::deque<ViewCall> Calls;
        bool RoundWanted = false;
        bool Finished = false;
    };
    Work Wait(SteadyClock::time_point until) {
        std::unique_lock lock(mutex_);
        changed_.wait_until(lock, until,
                            [&] { return !calls_.empty() || roundWanted_ || result_; });
        Work work;
        work.Calls.swap(calls_);
        work.RoundWanted = roundWanted_;
        work.Finished = result_.has_value();
        return work;
    }
    void RoundDone() {
        {
            std::lock_guard lock(mutex_);
            roundWanted_ = false;
        }
        answered_.notify_all();
    }
    void Close() {
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
        }
        answered_.notify_all();
    }
    RunResult Result() {
        std::lock_guard lock(mutex_);
        return result_.value_or(RunResult{RunOutcome::Abandoned, 0, 0, "", {}});
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;   // for the front end
    std::condition_variable answered_;  // for the worker
    std::deque<ViewCall> calls_;
    bool roundWanted_ = false;
    bool closing_ = false;
    std::optional<RunResult> result_;
};

// The run's view and boxes on the worker: every call goes through the relay.
class WorkerView final : public CorrectionView, public MessageBoxes {
public:
    explicit WorkerView(Relay& relay) : relay_(relay) {}
    void SetStatusText(const std::string& text) override {
        status_ = text;
        relay_.Post({ViewCall::Kind::Text, text, 0, {}, MessageIcon::None});
    }
    std::string StatusText() const override { return status_; }
    void SetProgressMaximum(int maximum) override {
        relay_.Post(ViewCall::Of(ViewCall::Kind::Maximum, maximum));
    }
    void SetProgressValue(int value) override {
        relay_.Post(ViewCall::Of(ViewCall::Kind::Value, value));
    }
    void SetStartEnabled(bool enabled) override {
        relay_.Post(ViewCall::Of(ViewCall::Kind::Start, enabled ? 1 : 0));
    }
    void SetEndEnabled(bool enabled) override {
        relay_.Post(ViewCall::Of(ViewCall::Kind::End, enabled ? 1 : 0));
    }
    bool ProcessEvents() override { return relay_.EventRound(); }
    void Show(const std::string& text, const std::string& caption, MessageIcon icon) override {
        relay_.Post({ViewCall::Kind::Box, text, 0, caption, icon});
    }

private:
    Relay& relay_;
    std::string status_;
};

void Apply(const ViewCall& call, CorrectionView& view, MessageBoxes& boxes) {
    switch (call.What) {
        case ViewCall::Kind::Text:
            view.SetStatusText(call.Text);
            break;
        case ViewCall::Kind::Maximum:
            view.SetProgressMaximum(call.Number);
            break;
        case ViewCall::Kind::Value:
            view.SetProgressValue(call.Number);
            break;
        case ViewCall::Kind::Start:
            view.SetStartEnabled(call.Number != 0);
            break;
        case ViewCall::Kind::End:
            view.SetEndEnabled(call.Number != 0);
            break;
        case ViewCall::Kind::Box:
            boxes.Show(call.Text, call.Caption, call.Icon);
            break;
    }
}

}  // namespace

RunResult RunCorrectionInBackground(db::Connection& connection, CorrectionView& view,
                                    MessageBoxes& boxes, const Clock& clock,
                                    const DateTime& inputDate, const DateTime& inputEnd,
                                    const RunPacing& pacing, const JournalSetup* journal) {
    Relay relay;
    std::thread worker([&] {
        WorkerView workerView(relay);
        RunResult result;
        try {
            result = RunCorrection(connection, workerView, workerView, clock, inputDate, inputEnd,
                                   pacing, journal);
        } catch (const std::exception& error) {
            // RunCorrection reports its own failures; this is the last resort (out of memory).
            result = RunResult{RunOutcome::Failed, 0, 0, error.what(), {}};
            relay.Post(ViewCall::Of(ViewCall::Kind::Start, 1));
            relay.Post(ViewCall::Of(ViewCall::Kind::End, 1));
        }
        relay.Finish(std::move(result));
    });

    bool closing = false;
    auto lastRound = SteadyClock::now();
    for (;;) {
        // Once closing, only the run's end matters; it comes within about a second.
        Relay::Work work = relay.Wait(closing ? SteadyClock::now() + std::chrono::seconds(1)
                                              : lastRound + kEventInterval);
        if (!closing) {
            for (const ViewCall& call : work.Calls) Apply(call, view, boxes);
        }
        if (work.Finished) break;
        const bool due = SteadyClock::now() - lastRound >= kEventInterval;
        if (!closing && (work.RoundWanted || due)) {
            const bool open = view.ProcessEvents();
            lastRound = SteadyClock::now();
            if (!open) {
                closing = true;
                relay.Close();
                connection.Cancel();
            }
        }
        if (work.RoundWanted) relay.RoundDone();
    }
    worker.join();
    connection.ResetCancel();
    return relay.Result();
}

}  // namespace tovrik
