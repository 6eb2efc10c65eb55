#pragma once

#include <memory>
#include <optional>
#include <string>

#include "common/date_time.h"

namespace tovrik {

// The wall clock, as local date and time of day. Tests set "now".
class Clock {
public:
    virtual ~Clock() = default;
    virtual DateTime Now() const = 0;
};

// Environment variables. Names compare without regard to case on Windows, exactly on Linux.
class Environment {
public:
    virtual ~Environment() = default;
    // The value, or nothing when the variable is not set.
    virtual std::optional<std::string> Get(const std::string& name) const = 0;
};

// The guard against a second copy of the program (window or command line) on this machine.
class InstanceGuard {
public:
    virtual ~InstanceGuard() = default;
    // True when another copy runs. Otherwise this copy now holds the guard until the guard is
    // destroyed or the process ends (also by a crash or a kill), so a dead copy never blocks.
    virtual bool AnotherInstanceRunning() = 0;
};

// The real services of this machine.
class SystemClock final : public Clock {
public:
    DateTime Now() const override;
};

class ProcessEnvironment final : public Environment {
public:
    std::optional<std::string> Get(const std::string& name) const override;
};

// Linux: an advisory lock (flock) on "tovrik.lock" in $XDG_RUNTIME_DIR, or in /tmp as
// "tovrik-<uid>.lock" when that is not set. Windows: a named mutex in the session.
std::unique_ptr<InstanceGuard> MakeSystemInstanceGuard(const Environment& environment);

// The folder that holds the running executable (found from the process, not the working
// directory), without a trailing separator.
std::string ProgramFolder();

// This machine's name on the network (host name, Windows computer name), or empty.
std::string MachineName();
// The name of the user this process runs as (the account's login name), or empty.
std::string ProcessUserName();

// The separator between folder names on this platform: "\" on Windows, "/" elsewhere.
inline constexpr char kPathSeparator =
#ifdef _WIN32
    '\\';
#else
    '/';
#endif

#ifdef _WIN32
// Text of the ANSI code page (what the Win32 "A" functions take and return) as UTF-8.
std::string AnsiToUtf8(const std::string& ansi);

// UTF-8 text in the ANSI code page; nothing when it is not valid UTF-8 or holds a character the
// code page lacks (which an "A" function would otherwise receive as a substituted '?').
std::optional<std::string> Utf8ToAnsi(const std::string& utf8);
#endif

}  // namespace tovrik
