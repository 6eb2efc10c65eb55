#include "win32/win32_support.h"

#include "common/utf.h"

namespace tovrik::win32 {

// wchar_t is UTF-16 on Windows: the core's conversions serve both ways.
std::wstring Wide(std::string_view utf8) {
    const std::u16string wide = Utf8ToUtf16(utf8);
    return std::wstring(wide.begin(), wide.end());
}

std::string Utf8(std::wstring_view wide) {
    return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

}  // namespace tovrik::win32
