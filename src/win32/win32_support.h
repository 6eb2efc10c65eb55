#pragma once

// Small pieces of Win32 plumbing for the window: owned handles.

#include <windows.h>

#include <memory>
#include <type_traits>

namespace tovrik::win32 {

struct WindowDeleter {
    void operator()(HWND window) const { DestroyWindow(window); }
};
struct GdiObjectDeleter {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};

using UniqueWindow = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDeleter>;
using UniqueFont = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiObjectDeleter>;

}  // namespace tovrik::win32
