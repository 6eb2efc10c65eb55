#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <vector>

#include "platform/platform.h"

namespace tovrik {

DateTime SystemClock::Now() const {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const auto sinceSecond =
        now - std::chrono::system_clock::from_time_t(seconds);
    DateTime value;
    value.Year = local.tm_year + 1900;
    value.Month = local.tm_mon + 1;
    value.Day = local.tm_mday;
    value.Hour = local.tm_hour;
    value.Minute = local.tm_min;
    value.Second = local.tm_sec;
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(sinceSecond).count();
    value.Fraction = nanos > 0 && nanos < 1'000'000'000 ? static_cast<std::uint32_t>(nanos) : 0u;
    return value;
}

std::optional<std::string> ProcessEnvironment::Get(const std::string& name) const {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

namespace {

class LockFileInstanceGuard final : public InstanceGuard {
public:
    explicit LockFileInstanceGuard(std::string path) : path_(std::move(path)) {}
    ~LockFileInstanceGuard() override {
        if (fd_ >= 0) close(fd_);
    }
    LockFileInstanceGuard(const LockFileInstanceGuard&) = delete;
    LockFileInstanceGuard& operator=(const LockFileInstanceGuard&) = delete;

    bool AnotherInstanceRunning() override {
        if (fd_ >= 0) return false;
        const int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        // A lock file that cannot be opened cannot tell us of another copy: run.
        if (fd < 0) return false;
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const bool held = errno == EWOULDBLOCK;
            close(fd);
            return held;
        }
        fd_ = fd;
        return false;
    }

private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace

std::unique_ptr<InstanceGuard> MakeSystemInstanceGuard(const Environment& environment) {
    const auto runtime = environment.Get("XDG_RUNTIME_DIR");
    std::string path;
    if (runtime && !runtime->empty()) {
        path = *runtime + "/tovrik.lock";
    } else {
        path = "/tmp/tovrik-" + std::to_string(getuid()) + ".lock";
    }
    return std::make_unique<LockFileInstanceGuard>(path);
}

std::string ProgramFolder() {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return ".";
    return exe.parent_path().string();
}

std::string MachineName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "";
    return name;
}

std::string ProcessUserName() {
    const long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
        return "";
    }
    return found->pw_name;
}

}  // namespace tovrik
