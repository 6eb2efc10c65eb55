#pragma once

#include <string>

#include "startup/start_state.h"

namespace tovrik {

// Server-file mode and the three server values from "NUVRALsv.ini" in programFolder. Lets the
// overflow of a malformed group escape as std::overflow_error.
void LoadProgramSettings(StartState& state, const std::string& programFolder);

// The full path of the server settings file "NUVRALsv.ini" in programFolder.
std::string ServerFilePath(const std::string& programFolder);

// The plain text of one scrambled value: three-digit groups, the n-th group holding the code of
// the n-th character plus n. Throws std::overflow_error on a group outside 16 bits.
std::string DecodeServerSetting(const std::string& stored);

}  // namespace tovrik
