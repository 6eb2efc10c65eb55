#pragma once

#include <optional>

#include "correction/run_journal.h"
#include "startup/start_state.h"

namespace tovrik {

// Where the runs of this start-up keep their journals (the TovrikJournal folder of the settings
// folder) and what their headers name: the state's JournalUser and JournalMachine, and the data
// source and database of the login. Never the password. Reads nothing but the state.
// Nothing when the state names no settings folder (start-up always sets one).
std::optional<JournalSetup> JournalSetupOf(const StartState& state);

}  // namespace tovrik
