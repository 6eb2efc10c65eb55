#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tovrik {

// Helpers shared by the registry sources, so that every platform lists and matches names alike.

// UTF-8 to UTF-16 and back. Bytes that are no valid UTF-8 and unpaired surrogates become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// A registry name with its letters folded to upper case (ASCII and full-width Latin letters),
// the form in which the registry compares names.
std::u16string FoldRegistryName(std::u16string_view name);

// Whether `a` comes before `b` in the registry's order: case-insensitive, by UTF-16 code unit.
bool RegistryNameLess(std::string_view a, std::string_view b);

// Sorts names into the registry's order.
void SortRegistryNames(std::vector<std::string>& names);

}  // namespace tovrik
