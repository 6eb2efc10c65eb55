#include <windows.h>

#include <vector>

#include "platform/platform.h"

namespace tovrik {

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

// GetEnvironmentVariableA matches names without regard to case, as the platform does.
std::optional<std::string> ProcessEnvironment::Get(const std::string& name) const {
    SetLastError(ERROR_SUCCESS);
    const DWORD needed = GetEnvironmentVariableA(name.c_str(), nullptr, 0);
    if (needed == 0) {
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::string();
    }
    std::vector<char> buffer(needed);
    const DWORD length = GetEnvironmentVariableA(name.c_str(), buffer.data(), needed);
    if (length == 0 || length >= needed) return std::string();
    return std::string(buffer.data(), length);
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
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return ".";
        if (length < buffer.size()) {
            std::string path(buffer.data(), length);
            const auto separator = path.find_last_of("\\/");
            return separator == std::string::npos ? std::string(".") : path.substr(0, separator);
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace tovrik
