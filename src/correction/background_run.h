#pragma once

// A job on the database (a correction, an undo, a scan) on a worker thread, with its front end
// kept responsive on the calling thread whatever the distance to the server and the statement in
// flight.

#include <chrono>
#include <functional>

#include "correction/run_events.h"
#include "database/odbc.h"

namespace tovrik {

// The longest the calling thread goes without letting the front end process its events.
inline constexpr std::chrono::milliseconds kEventInterval{50};

// Runs `job` on a worker thread and returns when it has ended. On the calling thread, `events`
// gets the job's calls in the order the job makes them, and its GoOn is called wherever the job
// asks (the job waits for the answer there, as without a thread) and at least every
// kEventInterval in between. Once GoOn returns false (the front end is closing, or the user
// stopped), the statement in flight is cancelled (SQLCancel), the job's own GoOn answers false
// from then on, and no further call reaches `events`. Nothing `job` throws is lost: it is thrown
// again here. The front end must not touch the connection until this returns; it is left open.
void RunInBackground(db::Connection& connection, RunEvents& events,
                     const std::function<void(RunEvents&)>& job);

}  // namespace tovrik
