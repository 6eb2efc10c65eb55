#include "cli/cli_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tovrik::test {

namespace {

std::string RequiredEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) throw std::runtime_error(std::string(name) + " is not set");
    return value;
}

}  // namespace

std::string CliBinary() { return RequiredEnv("TOVRIK_BINARY_DIR") + "/bin/tovrik-cli"; }

CliSandbox::CliSandbox() {
    std::filesystem::create_directories(dir_.Path() / "public" / "Documents");
    std::filesystem::create_directories(dir_.Path() / "odbc");
    std::filesystem::create_directories(dir_.Path() / "runtime");
    std::filesystem::create_directories(WorkFolder());
    std::filesystem::copy_file(RequiredEnv("ODBCSYSINI") + "/odbcinst.ini",
                               dir_.Path() / "odbc" / "odbcinst.ini");
    WriteFile(dir_.Path() / "odbc" / "odbc.ini", "");
}

void CliSandbox::AddDataSource(const std::string& name,
                               const std::map<std::string, std::string>& keys) {
    odbcIni_ += "[" + name + "]\n";
    for (const auto& [key, value] : keys) odbcIni_ += key + "=" + value + "\n";
    odbcIni_ += "\n";
    WriteFile(dir_.Path() / "odbc" / "odbc.ini", odbcIni_);
}

std::string CliSandbox::SettingsFolder() const {
    return (dir_.Path() / "public" / "Documents" / "TachographIni").string();
}

std::string CliSandbox::RuntimeFolder() const { return (dir_.Path() / "runtime").string(); }

std::string CliSandbox::WorkFolder() const { return (dir_.Path() / "work").string(); }

void CliSandbox::UseDemoOdbcFiles() {
    const std::string tests = ReadFile(RequiredEnv("ODBCSYSINI") + "/odbcinst.ini");
    const std::size_t section = tests.find("[SQLite3]");
    const std::size_t driver = tests.find("Driver=", section);
    const std::string driverLine = tests.substr(driver, tests.find('\n', driver) - driver);
    WriteFile(dir_.Path() / "odbc" / "odbcinst.ini",
              "[SQLite3]\nDescription=SQLite 3 ODBC driver\n" + driverLine + "\nDontDLClose=1\n");
    AddDataSource("TovrikDemo", {{"Description", "Tovrik demo suite database"},
                                 {"Driver", "SQLite3"},
                                 {"Database", (dir_.Path() / "suite.db").string()}});
}

void CliSandbox::WriteLoginSettings(const std::string& dsn, const std::string& uid,
                                    const std::string& pwd) {
    std::filesystem::create_directories(SettingsFolder());
    WriteFile(std::filesystem::path(SettingsFolder()) / "TachoGraph.int",
              "[AllUser\\\\]\r\nCopyFlg=1\r\n"
              "[AllUser\\ZuzurodeZoz\\Login]\r\nDSN=" +
                  dsn + "\r\nUID=" + uid + "\r\nPWD=" + pwd + "\r\n");
}

CliResult CliSandbox::Run(const std::vector<std::string>& arguments) const {
    return Start(arguments).Wait();
}

CliProcess CliSandbox::Start(const std::vector<std::string>& arguments) const {
    const std::string binary = CliBinary();
    std::vector<std::string> args = {binary};
    args.insert(args.end(), arguments.begin(), arguments.end());

    const std::map<std::string, std::string> overrides = {
        {"public", (dir_.Path() / "public").string()},
        {"XDG_RUNTIME_DIR", RuntimeFolder()},
        {"ODBCSYSINI", (dir_.Path() / "odbc").string()},
        {"ODBCINI", (dir_.Path() / "odbc" / "user-odbc.ini").string()},
        {"WINEPREFIX", (dir_.Path() / "wine").string()},
        {"USERNAME", "cliuser"},
        {"LANG", "C.UTF-8"},
    };
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (overrides.count(text.substr(0, text.find('='))) == 0) environment.push_back(text);
    }
    for (const auto& [name, value] : overrides) environment.push_back(name + "=" + value);

    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);

    const std::string outPath = (dir_.Path() / "stdout.txt").string();
    const std::string errPath = (dir_.Path() / "stderr.txt").string();
    const std::string workFolder = WorkFolder();
    const pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int in = open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0 || chdir(workFolder.c_str()) != 0) _exit(125);
        dup2(in, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        execve(binary.c_str(), argv.data(), envp.data());
        _exit(126);
    }

    return CliProcess(child, outPath, errPath);
}

std::string CliProcess::ErrSoFar() const { return ReadFile(errPath_); }

void CliProcess::Signal(int signal) const { kill(pid_, signal); }

CliResult CliProcess::Wait() {
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    CliResult result;
    result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.Out = ReadFile(outPath_);
    result.Err = ReadFile(errPath_);
    return result;
}

}  // namespace tovrik::test
