#pragma once

#include <string>
#include <string_view>

namespace tovrik {

// The project's version, "1.0.0".
const char* ProgramVersion();
// The day of the build, "YYYY-MM-DD" in UTC; SOURCE_DATE_EPOCH, when set, gives the day instead,
// so that a rebuild of the same sources gives the same programs.
const char* BuildDate();

// What "--version" prints: "<program> <version>" on the first line, the build date on the second.
std::string VersionText(std::string_view program);

}  // namespace tovrik
