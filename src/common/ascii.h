#pragma once

#include <cstddef>
#include <string_view>

namespace tovrik {

// Names compared as Windows, ODBC and the servers compare them: ASCII letters without regard to
// case, every other byte exactly.
inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace tovrik
