#pragma once

// The correction run on a worker thread, with its front end kept responsive on the calling
// thread whatever the distance to the server and the statement in flight.

#include <chrono>

#include "correction/correction_run.h"

namespace tovrik {

// The longest the calling thread goes without letting the front end process its events.
inline constexpr std::chrono::milliseconds kEventInterval{50};

// RunCorrection on a worker thread. On the calling thread, the view's and the boxes' calls are
// made in the order the run makes them, and the view's ProcessEvents is called at every point
// where the run lets events through (the run waits for it there, as without a thread) and at
// least every kEventInterval in between. When ProcessEvents returns false (the front end is
// closing), the statement in flight is cancelled (SQLCancel), the run rolls back what it has
// not committed and ends Abandoned, and no further call reaches the view. The front end must
// not touch the connection until this returns; it is left open.
RunResult RunCorrectionInBackground(db::Connection& connection, CorrectionView& view,
                                    MessageBoxes& boxes, const Clock& clock,
                                    const DateTime& inputDate, const DateTime& inputEnd,
                                    const RunPacing& pacing = {},
                                    const JournalSetup* journal = nullptr);

}  // namespace tovrik
