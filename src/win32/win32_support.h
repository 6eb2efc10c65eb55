#pragma once

// Small pieces of Win32 plumbing for the window: owned handles and text at the UTF-8 edge.

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

namespace tovrik::win32 {

// UTF-8 (the core's texts) to the UTF-16 of the W functions, and back.
std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

struct WindowDeleter {
    void operator()(HWND window) const { DestroyWindow(window); }
};
struct GdiObjectDeleter {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};

using UniqueWindow = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDeleter>;
using UniqueFont = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiObjectDeleter>;

}  // namespace tovrik::win32
