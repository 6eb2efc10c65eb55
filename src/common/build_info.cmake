# Writes the source that holds the version and the build date (cmake -P, on every build). The file
# is rewritten only when its text changes, so an unchanged day recompiles nothing.
#   cmake -DOUTPUT=<file> -DVERSION=<version> -P build_info.cmake
# string(TIMESTAMP) takes the time from SOURCE_DATE_EPOCH when that is set.
string(TIMESTAMP date "%Y-%m-%d" UTC)
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT [[
// Written by src/common/build_info.cmake at build time.
#include "common/build_info.h"

namespace tovrik {

const char* ProgramVersion() { return "@VERSION@"; }
const char* BuildDate() { return "@date@"; }

}  // namespace tovrik
]] @ONLY)
