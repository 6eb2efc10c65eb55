#include "correction/background_run.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace tovrik {

namespace {

using SteadyClock = std::chrono::steady_clock;

// One call of the job on its events, to be made on the front end's thread.
struct EventCall {
    enum class Kind { Counting, Selected, Committed } What;
    int Done = 0;
    int Total = 0;
};

// What the worker and the front end's thread share.
class Relay {
public:
    // Worker side.
    void Post(EventCall call) {
        {
            std::lock_guard lock(mutex_);
            calls_.push_back(call);
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
    void Finish(std::exception_ptr failure) {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
            failure_ = std::move(failure);
        }
        changed_.notify_all();
    }

    // Front end side: waits for calls, a wanted event round, the job's end, or `until`.
    struct Work {
        std::deque<EventCall> Calls;
        bool RoundWanted = false;
        bool Finished = false;
    };
    Work Wait(SteadyClock::time_point until) {
        std::unique_lock lock(mutex_);
        changed_.wait_until(lock, until,
                            [&] { return !calls_.empty() || roundWanted_ || finished_; });
        Work work;
        work.Calls.swap(calls_);
        work.RoundWanted = roundWanted_;
        work.Finished = finished_;
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
    std::exception_ptr Failure() {
        std::lock_guard lock(mutex_);
        return failure_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;   // for the front end
    std::condition_variable answered_;  // for the worker
    std::deque<EventCall> calls_;
    bool roundWanted_ = false;
    bool closing_ = false;
    bool finished_ = false;
    std::exception_ptr failure_;
};

// The job's events on the worker: every call goes through the relay.
class WorkerEvents final : public RunEvents {
public:
    explicit WorkerEvents(Relay& relay) : relay_(relay) {}
    void Counting() override { relay_.Post({EventCall::Kind::Counting, 0, 0}); }
    void Selected(int total) override { relay_.Post({EventCall::Kind::Selected, 0, total}); }
    void Committed(int done, int total) override {
        relay_.Post({EventCall::Kind::Committed, done, total});
    }
    bool GoOn() override { return relay_.EventRound(); }

private:
    Relay& relay_;
};

void Apply(const EventCall& call, RunEvents& events) {
    switch (call.What) {
        case EventCall::Kind::Counting:
            events.Counting();
            break;
        case EventCall::Kind::Selected:
            events.Selected(call.Total);
            break;
        case EventCall::Kind::Committed:
            events.Committed(call.Done, call.Total);
            break;
    }
}

}  // namespace

void RunInBackground(db::Connection& connection, RunEvents& events,
                     const std::function<void(RunEvents&)>& job) {
    Relay relay;
    std::thread worker([&] {
        WorkerEvents workerEvents(relay);
        std::exception_ptr failure;
        try {
            job(workerEvents);
        } catch (...) {
            failure = std::current_exception();
        }
        relay.Finish(std::move(failure));
    });

    bool closing = false;
    auto lastRound = SteadyClock::now();
    for (;;) {
        // Once closing, only the job's end matters; it comes within about a second.
        Relay::Work work = relay.Wait(closing ? SteadyClock::now() + std::chrono::seconds(1)
                                              : lastRound + kEventInterval);
        if (!closing) {
            for (const EventCall& call : work.Calls) Apply(call, events);
        }
        if (work.Finished) break;
        const bool due = SteadyClock::now() - lastRound >= kEventInterval;
        if (!closing && (work.RoundWanted || due)) {
            const bool goOn = events.GoOn();
            lastRound = SteadyClock::now();
            if (!goOn) {
                closing = true;
                relay.Close();
                connection.Cancel();
            }
        }
        if (work.RoundWanted) relay.RoundDone();
    }
    worker.join();
    connection.ResetCancel();
    if (const std::exception_ptr failure = relay.Failure()) std::rethrow_exception(failure);
}

}  // namespace tovrik
