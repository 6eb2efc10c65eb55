#include <windows.h>

#include <climits>
#include <vector>

#include "common/utf.h"
#include "platform/platform.h"

namespace tovrik {

namespace {

// Text of codePage as UTF-16; nothing when it is not valid text of that code page.
std::optional<std::wstring> Widen(UINT codePage, DWORD flags, const std::string& text) {
    if (text.empty()) return std::wstring();
    if (text.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
    const int size = static_cast<int>(text.size());
    const int wideSize = MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
    if (wideSize <= 0) return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(wideSize), L'\0');
    if (MultiByteToWideChar(codePage, flags, text.data(), size, wide.data(), wideSize) !=
        wideSize) {
        return std::nullopt;
    }
    return wide;
}

// UTF-16 text in codePage; nothing when a character had to be substituted.
std::optional<std::string> Narrow(UINT codePage, const std::wstring& wide) {
    if (wide.empty()) return std::string();
    if (wide.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
    const int wideSize = static_cast<int>(wide.size());
    // The substitution report and best-fit flag exist for real code pages only, not for UTF-8.
    const bool toUtf8 = codePage == CP_UTF8;
    const DWORD flags = toUtf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL substituted = FALSE;
    BOOL* report = toUtf8 ? nullptr : &substituted;
    const int size =
        WideCharToMultiByte(codePage, flags, wide.data(), wideSize, nullptr, 0, nullptr, report);
    if (size <= 0 || substituted) return std::nullopt;
    std::string text(static_cast<std::size_t>(size), '\0');
    if (WideCharToMultiByte(codePage, flags, wide.data(), wideSize, text.data(), size, nullptr,
                            report) != size ||
        substituted) {
        return std::nullopt;
    }
    return text;
}

}  // namespace

// Never fails: bytes that are not text of the code page become U+FFFD.
std::string AnsiToUtf8(const std::string& ansi) {
    if (GetACP() == CP_UTF8) return ansi;
    const std::optional<std::wstring> wide = Widen(CP_ACP, 0, ansi);
    if (!wide) return std::string();
    return Narrow(CP_UTF8, *wide).value_or(std::string());
}

std::optional<std::string> Utf8ToAnsi(const std::string& utf8) {
    const std::optional<std::wstring> wide = Widen(CP_UTF8, MB_ERR_INVALID_CHARS, utf8);
    if (!wide) return std::nullopt;
    if (GetACP() == CP_UTF8) return utf8;
    return Narrow(CP_ACP, *wide);
}

DateTime SystemClock::Now() const {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    DateTime value;
    value.Year = local.wYear;
    value.Month = local.wMonth;
    value.Day = local.wDay;
    value.Hour = local.wHour;
    value.Minute = local.wMinute;
    value.Second = local.wSecond;
    value.Fraction = static_cast<std::uint32_t>(local.wMilliseconds) * 1'000'000u;
    return value;
}

// GetEnvironmentVariableW matches names without regard to case, as the platform does. The wide
// function, because a value (a user name, a folder) may hold characters that the ANSI code page
// lacks; the "A" one would hand them over as '?'.
std::optional<std::string> ProcessEnvironment::Get(const std::string& name) const {
    const std::u16string name16 = Utf8ToUtf16(name);
    const std::wstring wideName(name16.begin(), name16.end());
    SetLastError(ERROR_SUCCESS);
    const DWORD needed = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (needed == 0) {
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::string();
    }
    std::vector<wchar_t> buffer(needed);
    const DWORD length = GetEnvironmentVariableW(wideName.c_str(), buffer.data(), needed);
    if (length == 0 || length >= needed) return std::string();
    return Utf16ToUtf8(std::u16string(buffer.data(), buffer.data() + length));
}

namespace {

// A named mutex in the user's session. The system releases it when the process ends in any way,
// so a crashed copy never blocks a later start.
class MutexInstanceGuard final : public InstanceGuard {
public:
    ~MutexInstanceGuard() override {
        if (mutex_ != nullptr) CloseHandle(mutex_);
    }
    MutexInstanceGuard() = default;
    MutexInstanceGuard(const MutexInstanceGuard&) = delete;
    MutexInstanceGuard& operator=(const MutexInstanceGuard&) = delete;

    bool AnotherInstanceRunning() override {
        if (mutex_ != nullptr) return false;
        HANDLE mutex = CreateMutexA(nullptr, FALSE, "Local\\Tovrik");
        // A mutex that cannot be created cannot tell us of another copy: run.
        if (mutex == nullptr) return false;
        if (GetLastError() == ERROR_ALREADY_EXISTS) {
            CloseHandle(mutex);
            return true;
        }
        mutex_ = mutex;
        return false;
    }

private:
    HANDLE mutex_ = nullptr;
};

}  // namespace

std::unique_ptr<InstanceGuard> MakeSystemInstanceGuard(const Environment&) {
    return std::make_unique<MutexInstanceGuard>();
}

std::string ProgramFolder() {
    // The wide function: a folder name that the ANSI code page cannot spell would come back from
    // the "A" one with '?' in its place, naming a folder that does not exist.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return ".";
        if (length < buffer.size()) {
            const std::string path =
                Utf16ToUtf8(std::u16string(buffer.data(), buffer.data() + length));
            const auto separator = path.find_last_of("\\/");
            return separator == std::string::npos ? std::string(".") : path.substr(0, separator);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string MachineName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &length)) return "";
    return Utf16ToUtf8(std::u16string(name, name + length));
}

std::string ProcessUserName() {
    wchar_t name[257] = {};
    DWORD length = 257;
    if (!GetUserNameW(name, &length) || length == 0) return "";
    return Utf16ToUtf8(std::u16string(name, name + length - 1));  // length counts the NUL
}

}  // namespace tovrik
