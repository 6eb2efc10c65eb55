#pragma once

#include "startup/start_state.h"

namespace tovrik {

// Fills state.DbLogin from the server values (server-file mode) or the suite's "Login"
// settings. A port that does not convert ends it quietly, later fields keeping their values.
void LoadDbLoginSettings(StartState& state);

// What the loaded login lacks for a connection to be tried at all, as one line naming the
// setting and the file and section it belongs in; empty when a data source name (data-source
// form) or a host (server-file form) is there.
std::string MissingLoginSetting(const StartState& state, const std::string& programFolder);

// Where the connection goes and which settings say so, for a log line; no user or password.
std::string DescribeLoginSource(const StartState& state, const std::string& programFolder);

// What the way to the data source adds to a log line, after the connection was made
// (connected) or not: the 32-bit registration used or tried, the advice when the driver's
// bitness is in the way; empty when the data source was used by its name alone.
std::string DescribeConnectionRoute(const StartState& state, const ConnectionRoute& route,
                                    bool connected);

}  // namespace tovrik
