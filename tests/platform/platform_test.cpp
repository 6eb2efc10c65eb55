#include "platform/platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <pwd.h>
#include <signal.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "common/utf.h"
#include "support/test_support.h"

namespace tovrik {
namespace {

using test::TempDir;

// Only XDG_RUNTIME_DIR, the folder of the Linux guard's lock file (Windows ignores it).
class RuntimeFolder final : public Environment {
public:
    explicit RuntimeFolder(std::string folder) : folder_(std::move(folder)) {}
    std::optional<std::string> Get(const std::string& name) const override {
        if (name == "XDG_RUNTIME_DIR") return folder_;
        return std::nullopt;
    }

private:
    std::string folder_;
};

TEST(ProcessEnvironment, ReadsSetAndMissingVariables) {
    test::SetEnv("TOVRIK_TEST_VALUE", "C:\\Users\\Public");
    const ProcessEnvironment environment;
    EXPECT_EQ(environment.Get("TOVRIK_TEST_VALUE"), "C:\\Users\\Public");
    EXPECT_EQ(environment.Get("TOVRIK_TEST_NEVER_SET"), std::nullopt);
#ifdef _WIN32
    // Names match without regard to case, as the platform's own look-up does.
    EXPECT_EQ(environment.Get("tovrik_test_value"), "C:\\Users\\Public");
    // A value with characters of no ANSI code page (a user name) arrives whole.
    ASSERT_EQ(_wputenv_s(L"TOVRIK_TEST_USER", L"\uae40\ubbfc\uc218 \u592a\u90ce"), 0);
    EXPECT_EQ(environment.Get("TOVRIK_TEST_USER"), "김민수 太郎");
#else
    EXPECT_EQ(environment.Get("tovrik_test_value"), std::nullopt);
#endif
}

TEST(ProgramFolder, IsTheFolderOfThisTestProgram) {
    const std::filesystem::path folder = std::filesystem::u8path(ProgramFolder());
    EXPECT_TRUE(folder.is_absolute()) << folder;
#ifdef _WIN32
    EXPECT_TRUE(std::filesystem::exists(folder / "platform_tests.exe")) << folder;
#else
    EXPECT_TRUE(std::filesystem::exists(folder / "platform_tests")) << folder;
#endif
    EXPECT_NE(ProgramFolder().back(), kPathSeparator);
}

// What a journal names when no variable names the user: this machine, and the account this
// process runs as, found from the process itself (here checked the other way round: from the
// name back to the process's account).
TEST(ProcessIdentity, NamesThisMachineAndTheAccountThisProcessRunsAs) {
    const std::string account = ProcessUserName();
    ASSERT_FALSE(account.empty());
#ifdef _WIN32
    EXPECT_EQ(MachineName(), ProcessEnvironment().Get("COMPUTERNAME"));
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    alignas(TOKEN_USER) unsigned char user[256];
    DWORD size = 0;
    const BOOL read = GetTokenInformation(token, TokenUser, user, sizeof user, &size);
    CloseHandle(token);
    ASSERT_TRUE(read);
    wchar_t name[256];
    wchar_t domain[256];
    DWORD nameSize = 256;
    DWORD domainSize = 256;
    SID_NAME_USE use{};
    ASSERT_TRUE(LookupAccountSidW(nullptr, reinterpret_cast<TOKEN_USER*>(user)->User.Sid, name,
                                  &nameSize, domain, &domainSize, &use));
    EXPECT_EQ(account, WideToUtf8(name));
#else
    utsname system{};
    ASSERT_EQ(uname(&system), 0);
    EXPECT_EQ(MachineName(), system.nodename);
    const passwd* entry = getpwnam(account.c_str());
    ASSERT_NE(entry, nullptr) << account;
    EXPECT_EQ(entry->pw_uid, geteuid());
#endif
}

#ifdef _WIN32
// Starts `program` (this test program or a copy) running the one test `test`; returns its
// process handle, or null with a test failure.
HANDLE StartTestProgram(const std::wstring& program, const std::wstring& test) {
    std::wstring commandLine = L"\"" + program + L"\" --gtest_filter=" + test;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &child)) {
        ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
        return nullptr;
    }
    CloseHandle(child.hThread);
    return child.hProcess;
}

// Runs a copy of this test program in folders whose names the ANSI code page spells with a
// backslash byte (表 in Shift_JIS) or cannot spell at all (Korean): the copy's own test above
// must find its folder.
TEST(ProgramFolder, IsFoundWhateverTheFolderIsNamed) {
    wchar_t self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    for (const char* name : {"表示", "프로그램"}) {
        SCOPED_TRACE(name);
        TempDir dir;
        const std::filesystem::path folder = dir.Path() / std::filesystem::u8path(name);
        std::filesystem::create_directory(folder);
        const std::filesystem::path copy = folder / "platform_tests.exe";
        std::filesystem::copy_file(self, copy);
        const HANDLE child =
            StartTestProgram(copy.wstring(), L"ProgramFolder.IsTheFolderOfThisTestProgram");
        ASSERT_NE(child, nullptr);
        WaitForSingleObject(child, 60000);
        DWORD status = 1;
        GetExitCodeProcess(child, &status);
        CloseHandle(child);
        EXPECT_EQ(status, 0u);
    }
}
#endif

TEST(InstanceGuard, SecondCopyIsToldAndTheGuardIsFreeAfterTheFirstEnds) {
    TempDir runtime;
    const RuntimeFolder environment(runtime.Str());
    auto first = MakeSystemInstanceGuard(environment);
    ASSERT_FALSE(first->AnotherInstanceRunning());
    EXPECT_FALSE(first->AnotherInstanceRunning()) << "the holder asked again";

    auto second = MakeSystemInstanceGuard(environment);
    EXPECT_TRUE(second->AnotherInstanceRunning());

    first.reset();
    auto third = MakeSystemInstanceGuard(environment);
    EXPECT_FALSE(third->AnotherInstanceRunning());
}

// A copy that is killed while it holds the guard: the child process takes it, says so by
// creating a file, and waits to be killed.
constexpr char kHolderVariable[] = "TOVRIK_TEST_GUARD_HOLDER";

TEST(InstanceGuard, CopyKilledWhileHoldingItDoesNotBlock) {
    if (const char* ready = std::getenv(kHolderVariable); ready != nullptr && *ready != '\0') {
        // This process is the holder started below.
        auto guard = MakeSystemInstanceGuard(RuntimeFolder(std::getenv("TOVRIK_TEST_RUNTIME")));
        if (guard->AnotherInstanceRunning()) std::exit(3);
        test::WriteFile(ready, "held");
        std::this_thread::sleep_for(std::chrono::minutes(2));
        std::exit(4);
    }
    TempDir runtime;
    const std::filesystem::path ready = runtime.Path() / "ready";
    test::SetEnv("TOVRIK_TEST_RUNTIME", runtime.Str());
    test::SetEnv(kHolderVariable, ready.string());
#ifdef _WIN32
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const HANDLE child =
        StartTestProgram(self, L"InstanceGuard.CopyKilledWhileHoldingItDoesNotBlock");
    ASSERT_NE(child, nullptr);
    const auto kill = [&] {
        TerminateProcess(child, 9);
        WaitForSingleObject(child, INFINITE);
        CloseHandle(child);
    };
#else
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        execl("/proc/self/exe", "platform_tests",
              "--gtest_filter=InstanceGuard.CopyKilledWhileHoldingItDoesNotBlock", nullptr);
        _exit(5);
    }
    const auto kill = [&] {
        ::kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    };
#endif
    test::SetEnv(kHolderVariable, "");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!std::filesystem::exists(ready) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const bool held = std::filesystem::exists(ready);
    const bool blockedWhileHeld =
        MakeSystemInstanceGuard(RuntimeFolder(runtime.Str()))->AnotherInstanceRunning();
    kill();
    ASSERT_TRUE(held) << "the child never took the guard";
    EXPECT_TRUE(blockedWhileHeld);
    EXPECT_FALSE(MakeSystemInstanceGuard(RuntimeFolder(runtime.Str()))->AnotherInstanceRunning());
}

}  // namespace
}  // namespace tovrik
