#include "cli/cli_process.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "common/utf.h"

namespace tovrik::test {

namespace {

std::string RequiredEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) throw std::runtime_error(std::string(name) + " is not set");
    return value;
}

}  // namespace

#ifdef _WIN32
std::string CliBinary() { return RequiredEnv("TOVRIK_BINARY_DIR") + "/bin/tovrik-cli.exe"; }
#else
std::string CliBinary() { return RequiredEnv("TOVRIK_BINARY_DIR") + "/bin/tovrik-cli"; }
#endif

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
#ifdef _WIN32
    // Under Wine the child's unixODBC reads the Linux environment the test process started with,
    // not the one CreateProcess hands over: the data source goes into this process's own file.
    RegisterUserDsn(name, {keys.begin(), keys.end()});
#endif
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

namespace {

// The sandbox's environment: this process's, with the overrides replacing variables of the
// same name (compared without regard to case on Windows, as the platform does).
std::vector<std::string> ChildEnvironment(const std::map<std::string, std::string>& overrides) {
    const auto key = [](std::string name) {
#ifdef _WIN32
        for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
#endif
        return name;
    };
    std::map<std::string, bool> replaced;
    for (const auto& entry : overrides) replaced[key(entry.first)] = true;
    std::vector<std::string> environment;
#ifdef _WIN32
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
        const std::u16string units(entry, entry + std::wcslen(entry));
        const std::string text = Utf16ToUtf8(units);
        // Entries such as "=C:=C:\\" name the current folder of a drive: keep them.
        const std::string name = text.substr(0, text.find('=', 1));
        if (replaced.count(key(name)) == 0) environment.push_back(text);
    }
    FreeEnvironmentStringsW(block);
#else
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (replaced.count(key(text.substr(0, text.find('=')))) == 0) environment.push_back(text);
    }
#endif
    for (const auto& [name, value] : overrides) environment.push_back(name + "=" + value);
    return environment;
}

}  // namespace

#ifdef _WIN32

namespace {

// One argument of a command line, quoted as the C runtime splits it again.
std::wstring QuoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

HANDLE InheritableFile(const std::string& path, bool write) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreateFileW(Utf8ToWide(path).c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

CliProcess CliSandbox::Start(const std::vector<std::string>& arguments) const {
    // The ODBC files, the locale and the Wine prefix stay those of the test run (see
    // AddDataSource).
    const std::map<std::string, std::string> overrides = {
        {"public", (dir_.Path() / "public").string()},
        {"USERNAME", "cliuser"},
    };
    std::wstring block;
    for (const std::string& entry : ChildEnvironment(overrides)) block += Utf8ToWide(entry) + L'\0';
    block += L'\0';

    std::wstring commandLine = QuoteArgument(Utf8ToWide(CliBinary()));
    for (const std::string& argument : arguments)
        commandLine += L" " + QuoteArgument(Utf8ToWide(argument));

    const std::string outPath = (dir_.Path() / "stdout.txt").string();
    const std::string errPath = (dir_.Path() / "stderr.txt").string();
    const std::string inPath = (dir_.Path() / "stdin.txt").string();
    WriteFile(inPath, "");
    HANDLE out = InheritableFile(outPath, true);
    HANDLE err = InheritableFile(errPath, true);
    HANDLE in = InheritableFile(inPath, false);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                        CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, block.data(),
                                        nullptr, &startup, &process);
    for (HANDLE handle : {out, err, in}) {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    if (!started) {
        throw std::runtime_error("CreateProcess failed: " + std::to_string(GetLastError()));
    }
    CloseHandle(process.hThread);
    return CliProcess(reinterpret_cast<std::intptr_t>(process.hProcess), outPath, errPath);
}

CliProcess::~CliProcess() {
    if (process_ != 0) CloseHandle(reinterpret_cast<HANDLE>(process_));
}

CliResult CliProcess::Wait() {
    const HANDLE process = reinterpret_cast<HANDLE>(process_);
    if (WaitForSingleObject(process, 2 * 60 * 1000) != WAIT_OBJECT_0) {
        TerminateProcess(process, 137);
        WaitForSingleObject(process, INFINITE);
    }
    DWORD status = 0;
    GetExitCodeProcess(process, &status);
    // Read as text, as the C runtime reads what it wrote in text mode ("\n" as CRLF).
    const auto text = [](std::string bytes) {
        std::string lines;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (bytes[i] != '\r' || i + 1 >= bytes.size() || bytes[i + 1] != '\n')
                lines += bytes[i];
        }
        return lines;
    };
    CliResult result;
    result.Status = static_cast<int>(status);
    result.Out = text(ReadFile(outPath_));
    result.Err = text(ReadFile(errPath_));
    return result;
}

#else

CliProcess CliSandbox::Start(const std::vector<std::string>& arguments) const {
    const std::string binary = CliBinary();
    std::vector<std::string> args = {binary};
    args.insert(args.end(), arguments.begin(), arguments.end());

    std::vector<std::string> environment = ChildEnvironment({
        {"public", (dir_.Path() / "public").string()},
        {"XDG_RUNTIME_DIR", RuntimeFolder()},
        {"ODBCSYSINI", (dir_.Path() / "odbc").string()},
        {"ODBCINI", (dir_.Path() / "odbc" / "user-odbc.ini").string()},
        {"WINEPREFIX", (dir_.Path() / "wine").string()},
        {"USERNAME", "cliuser"},
        {"LANG", "C.UTF-8"},
    });

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

CliProcess::~CliProcess() = default;

void CliProcess::Signal(int signal) const { kill(static_cast<pid_t>(process_), signal); }

CliResult CliProcess::Wait() {
    const auto pid = static_cast<pid_t>(process_);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
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

#endif

CliProcess::CliProcess(CliProcess&& other) noexcept
    : process_(other.process_),
      outPath_(std::move(other.outPath_)),
      errPath_(std::move(other.errPath_)) {
    other.process_ = 0;
}

std::string CliProcess::ErrSoFar() const { return ReadFile(errPath_); }

}  // namespace tovrik::test
