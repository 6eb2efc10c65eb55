#include "settings/profile_file.h"

#include <windows.h>

#include <vector>

namespace tovrik {

namespace {

// The profile functions speak the ANSI code page; the core speaks UTF-8.
std::string Convert(const std::string& text, UINT from, UINT to) {
    if (text.empty()) return text;
    const int wideSize =
        MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (wideSize <= 0) return std::string();
    std::wstring wide(static_cast<std::size_t>(wideSize), L'\0');
    MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), wide.data(), wideSize);
    const int size =
        WideCharToMultiByte(to, 0, wide.data(), wideSize, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(to, 0, wide.data(), wideSize, result.data(), size, nullptr, nullptr);
    return result;
}

std::string ToAnsi(const std::string& utf8) { return Convert(utf8, CP_UTF8, CP_ACP); }
std::string FromAnsi(const std::string& ansi) { return Convert(ansi, CP_ACP, CP_UTF8); }

}  // namespace

ProfileText GetPrivateProfileText(const std::string& section, const std::string& key,
                                  const std::string& defaultValue, std::size_t bufferSize,
                                  const std::string& file) {
    if (bufferSize == 0) return {};
    std::vector<char> buffer(bufferSize, '\0');
    // The not-found marker (the single byte 0xFF) is passed through unconverted: it is already
    // the ANSI character with code 255.
    const std::string ansiDefault = defaultValue == "\xFF" ? defaultValue : ToAnsi(defaultValue);
    const DWORD copied = GetPrivateProfileStringA(
        ToAnsi(section).c_str(), ToAnsi(key).c_str(), ansiDefault.c_str(), buffer.data(),
        static_cast<DWORD>(bufferSize), ToAnsi(file).c_str());
    const std::string text(buffer.data());
    return {text == "\xFF" ? text : FromAnsi(text), copied};
}

bool WritePrivateProfileText(const std::string& section, const std::string& key,
                             const std::string& value, const std::string& file) {
    return WritePrivateProfileStringA(ToAnsi(section).c_str(), ToAnsi(key).c_str(),
                                      ToAnsi(value).c_str(), ToAnsi(file).c_str()) != FALSE;
}

}  // namespace tovrik
