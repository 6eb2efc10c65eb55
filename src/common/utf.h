#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tovrik {

// UTF-8 to UTF-16 and back. Bytes that are no valid UTF-8 and unpaired surrogates become U+FFFD,
// so malformed text is visible rather than dropped.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

#ifdef _WIN32
// wchar_t is UTF-16 on Windows: the texts of the W functions.
inline std::wstring Utf8ToWide(std::string_view text) {
    const std::u16string units = Utf8ToUtf16(text);
    return std::wstring(units.begin(), units.end());
}
inline std::string WideToUtf8(std::wstring_view text) {
    return Utf16ToUtf8(std::u16string(text.begin(), text.end()));
}
#endif

// Tovrik's paths are UTF-8 texts; these turn one into a path and back. (On Windows a path made
// from a plain std::string would be read in the ANSI code page.) On Windows, text that is no
// valid UTF-8 throws std::filesystem::filesystem_error.
std::filesystem::path PathFromUtf8(std::string_view text);
std::string Utf8FromPath(const std::filesystem::path& path);

// Appends one code point (at most U+10FFFF) as UTF-8.
void AppendUtf8(std::string& out, char32_t codePoint);

// The text with every line end of the window texts ("\r\n", or "\r" alone) turned into "\n",
// for a terminal or a log.
std::string WithLineFeeds(const std::string& text);

}  // namespace tovrik
