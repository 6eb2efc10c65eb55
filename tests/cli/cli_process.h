#pragma once

// Runs the real tovrik-cli binary as a child process in an environment of its own: a "public"
// folder holding the suite's settings file, an ODBC data source of its own, a runtime folder
// for the instance guard (Linux; on Windows the guard is a mutex of the session, so the cli
// tests do not run in parallel there).

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tovrik::test {

struct CliResult {
    int Status = -1;  // the exit status, or 128 + signal when the program was killed
    std::string Out;
    std::string Err;
};

// Where tovrik-cli was built.
std::string CliBinary();

// A started tovrik-cli; its output goes to files until it ends.
class CliProcess {
public:
    // process: the process id on Linux, the process handle on Windows (owned from here on).
    CliProcess(std::intptr_t process, std::string outPath, std::string errPath)
        : process_(process), outPath_(std::move(outPath)), errPath_(std::move(errPath)) {}
    ~CliProcess();
    CliProcess(CliProcess&& other) noexcept;
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;
    CliProcess& operator=(CliProcess&&) = delete;

    // What it has written to standard error so far.
    std::string ErrSoFar() const;
#ifndef _WIN32
    void Signal(int signal) const;
#endif
    // Waits for the end; kills it after two minutes.
    CliResult Wait();

private:
    std::intptr_t process_;
    std::string outPath_;
    std::string errPath_;
};

class CliSandbox {
public:
    CliSandbox();

    // Registers the data source `name` in this sandbox's odbc.ini with the given keys.
    void AddDataSource(const std::string& name, const std::map<std::string, std::string>& keys);
    // Writes the suite's settings file: the login settings and the copy marker, so that no
    // registry is read.
    void WriteLoginSettings(const std::string& dsn, const std::string& uid, const std::string& pwd);
    // ODBC files as scripts/demo.sh writes them: the SQLite driver alone, and the data source
    // "TovrikDemo" on the file suite.db in the sandbox.
    void UseDemoOdbcFiles();

    // Runs tovrik-cli with the arguments; kills it after two minutes.
    CliResult Run(const std::vector<std::string>& arguments) const;
    CliProcess Start(const std::vector<std::string>& arguments) const;

    const TempDir& Dir() const { return dir_; }
    std::string SettingsFolder() const;
    std::string RuntimeFolder() const;
    // The current folder tovrik-cli runs in: empty at first, and nothing should appear there.
    std::string WorkFolder() const;

private:
    TempDir dir_;
    std::string odbcIni_;
};

}  // namespace tovrik::test
