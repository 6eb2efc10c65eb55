#pragma once

#include "startup/start_state.h"

namespace tovrik {

// Fills state.DbLogin from the server values (server-file mode) or the suite's "Login"
// settings. A port that does not convert ends it quietly, later fields keeping their values.
void LoadDbLoginSettings(StartState& state);

}  // namespace tovrik
