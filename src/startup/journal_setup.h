#pragma once

#include <optional>

#include "correction/run_journal.h"
#include "startup/start_state.h"

namespace tovrik {

// Where the runs of this start-up keep their journals (the TovrikJournal folder of the settings
// folder) and what their headers name: the Windows user (USERNAME; USER, LOGNAME or the
// process's account where that is not set), this machine, and the data source and database of
// the login. Never the password.
// Nothing when the state names no settings folder (start-up always sets one).
std::optional<JournalSetup> JournalSetupOf(const StartState& state);

}  // namespace tovrik
