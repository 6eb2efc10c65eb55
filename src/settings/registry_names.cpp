#include "settings/registry_names.h"

#include <algorithm>

#include "common/utf.h"

namespace tovrik {

std::u16string FoldRegistryName(std::u16string_view name) {
    std::u16string folded(name);
    for (char16_t& unit : folded) {
        if ((unit >= u'a' && unit <= u'z') || (unit >= 0xFF41 && unit <= 0xFF5A)) unit -= 0x20;
    }
    return folded;
}

bool RegistryNameLess(std::string_view a, std::string_view b) {
    return FoldRegistryName(Utf8ToUtf16(a)) < FoldRegistryName(Utf8ToUtf16(b));
}

void SortRegistryNames(std::vector<std::string>& names) {
    std::stable_sort(names.begin(), names.end(), RegistryNameLess);
}

}  // namespace tovrik
