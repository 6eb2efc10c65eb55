#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/utf.h"

namespace tovrik {

// Helpers shared by the registry sources, so that every platform lists and matches names alike.

// A registry name with its letters folded to upper case (ASCII and full-width Latin letters),
// the form in which the registry compares names.
std::u16string FoldRegistryName(std::u16string_view name);

// Whether `a` comes before `b` in the registry's order: case-insensitive, by UTF-16 code unit.
bool RegistryNameLess(std::string_view a, std::string_view b);

// Sorts names into the registry's order.
void SortRegistryNames(std::vector<std::string>& names);

}  // namespace tovrik
