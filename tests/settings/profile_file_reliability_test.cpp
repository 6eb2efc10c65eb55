#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "settings/profile_file.h"
#include "support/test_support.h"

namespace tovrik {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr uid_t kNobody = 65534;

// Runs body in a child process and gives its exit code (-1 when it did not exit normally).
int RunInChild(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// A settings file of about 400 KB with one key, "Toggle", whose value is filled in.
std::string BigSettings(const std::string& toggle) {
    std::string content = "; shared settings\r\n";
    for (int section = 0; section < 40; ++section) {
        content += "[AllUser\\App\\Section" + std::to_string(section) + "]\r\n";
        for (int key = 0; key < 100; ++key) {
            content +=
                "Key" + std::to_string(key) + "=" + std::string(80, char('a' + key % 26)) + "\r\n";
        }
        if (section == 20) content += "Toggle=" + toggle + "\r\n";
        content += "\r\n";
    }
    return content;
}

TEST(ProfileFileReliability, KilledWriterLeavesOldOrNewContent) {
    TempDir dir;
    const std::string file = (dir.Path() / "TachoGraph.int").string();
    const std::string before = BigSettings("before");
    const std::string after = BigSettings("after");
    WriteFile(file, before);

    std::mt19937 random(20240501);
    std::uniform_int_distribution<int> delayMicroseconds(0, 30000);
    for (int round = 0; round < 150; ++round) {
        // Odd rounds kill at a random moment, mostly in the middle of a write; even rounds once
        // the writer has finished a known number of writes (after, before, after, ...) and waits,
        // so both contents are seen however slow the machine is.
        const int stopAfter = round % 2 == 0 ? 1 + round % 4 : 0;
        int written[2];
        ASSERT_EQ(pipe(written), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(written[0]);
            for (int writes = 1;; ++writes) {
                WritePrivateProfileText("AllUser\\App\\Section20", "Toggle",
                                        writes % 2 == 1 ? "after" : "before", file);
                if (writes == stopAfter && write(written[1], "w", 1) == 1) pause();
            }
        }
        close(written[1]);
        char byte = 0;
        if (stopAfter > 0) {
            ASSERT_EQ(read(written[0], &byte, 1), 1);
        } else {
            usleep(static_cast<useconds_t>(delayMicroseconds(random)));
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        close(written[0]);

        const std::string content = ReadFile(file);
        ASSERT_TRUE(content == before || content == after)
            << "round " << round << ", " << content.size() << " bytes";
        if (stopAfter > 0) {
            EXPECT_EQ(content, stopAfter % 2 == 1 ? after : before) << round;
        }
    }
    // A new writer is not blocked by a lock that a killed one held.
    EXPECT_TRUE(WritePrivateProfileText("AllUser\\App\\Section20", "Toggle", "after", file));
    EXPECT_EQ(ReadFile(file), after);
}

// Section and name of a writer's key: half go into a section all writers share, half into the
// writer's own.
std::pair<std::string, std::string> WriterKey(int writer, int key) {
    return {key % 2 == 0 ? "AllUser\\App\\Shared" : "AllUser\\App\\W" + std::to_string(writer),
            "W" + std::to_string(writer) + "K" + std::to_string(key)};
}

TEST(ProfileFileReliability, ParallelWritersLoseNoKey) {
    TempDir dir;
    const std::string file = (dir.Path() / "TachoGraph.int").string();
    constexpr int kWriters = 3;
    constexpr int kKeys = 120;
    int start[2];
    ASSERT_EQ(pipe(start), 0);

    std::vector<pid_t> writers;
    for (int writer = 0; writer < kWriters; ++writer) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(start[1]);
            char go;
            (void)!read(start[0], &go, 1);  // returns when the parent closes its end
            int failures = 0;
            for (int key = 0; key < kKeys; ++key) {
                const auto [section, name] = WriterKey(writer, key);
                if (!WritePrivateProfileText(section, name, "v" + std::to_string(key), file)) {
                    ++failures;
                }
            }
            _exit(failures == 0 ? 0 : 1);
        }
        writers.push_back(pid);
    }
    close(start[0]);
    close(start[1]);
    for (const pid_t pid : writers) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    int missing = 0;
    for (int writer = 0; writer < kWriters; ++writer) {
        for (int key = 0; key < kKeys; ++key) {
            const auto [section, name] = WriterKey(writer, key);
            if (GetPrivateProfileText(section, name, "", 64, file).Text !=
                "v" + std::to_string(key)) {
                ++missing;
            }
        }
    }
    EXPECT_EQ(missing, 0);
}

// RLIMIT_FSIZE makes the file system refuse to grow any file past the limit, as a full disk does.
TEST(ProfileFileReliability, FullDiskFailsQuietlyAndKeepsOldContent) {
    TempDir dir;
    const std::string file = (dir.Path() / "TachoGraph.int").string();
    const std::string before = BigSettings("before");
    WriteFile(file, before);

    const int result = RunInChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{before.size() / 2, before.size() / 2};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
        return WritePrivateProfileText("AllUser\\App\\Section20", "Toggle", "after", file) ? 1 : 0;
    });

    EXPECT_EQ(result, 0) << "1: the write reported success, 2: no limit";
    EXPECT_EQ(ReadFile(file), before);
    // The half-written temporary file is gone.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(ProfileFileReliability, FileWithoutWriteBitsIsReadOnlyEvenForRoot) {
    TempDir dir;
    const std::string file = (dir.Path() / "TachoGraph.int").string();
    WriteFile(file, "[S]\r\nk=old\r\n");
    ASSERT_EQ(chmod(file.c_str(), 0444), 0);

    EXPECT_FALSE(WritePrivateProfileText("S", "k", "new", file));
    EXPECT_EQ(GetPrivateProfileText("S", "k", "", 64, file).Text, "old");
}

struct OtherUserCase {
    const char* Name;
    mode_t FolderMode;
    mode_t FileMode;
};

// Names the row in test output (the default prints raw bytes).
void PrintTo(const OtherUserCase& row, std::ostream* out) { *out << row.Name; }

class ProfileFileOtherUserTest : public testing::TestWithParam<OtherUserCase> {};

// A user who may not write the file, or may not create files in its folder (needed for the
// atomic replace), gets false and the file stays as it was.
TEST_P(ProfileFileOtherUserTest, WriteWithoutPermissionFailsQuietly) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    const OtherUserCase& c = GetParam();
    TempDir dir;
    const std::filesystem::path folder = dir.Path() / "settings";
    std::filesystem::create_directory(folder);
    const std::string file = (folder / "TachoGraph.int").string();
    WriteFile(file, "[S]\r\nk=old\r\n");
    ASSERT_EQ(chmod(dir.Str().c_str(), 0755), 0);
    ASSERT_EQ(chmod(folder.c_str(), c.FolderMode), 0);
    ASSERT_EQ(chmod(file.c_str(), c.FileMode), 0);

    const int result = RunInChild([&] {
        if (setgid(kNobody) != 0 || setuid(kNobody) != 0) return 2;
        return WritePrivateProfileText("S", "k", "new", file) ? 1 : 0;
    });

    EXPECT_EQ(result, 0) << "1: the write reported success, 2: could not switch user";
    EXPECT_EQ(ReadFile(file), "[S]\r\nk=old\r\n");
}

INSTANTIATE_TEST_SUITE_P(Permissions, ProfileFileOtherUserTest,
                         testing::Values(OtherUserCase{"FileNotWritable", 0777, 0644},
                                         OtherUserCase{"FolderNotWritable", 0755, 0666}),
                         test::RowName());

class ProfileFileModeTest : public testing::TestWithParam<mode_t> {};

TEST_P(ProfileFileModeTest, RewriteKeepsPermissionBitsAndOwner) {
    TempDir dir;
    const std::string file = (dir.Path() / "TachoGraph.int").string();
    WriteFile(file, "[S]\r\nk=old\r\n");
    ASSERT_EQ(chmod(file.c_str(), GetParam()), 0);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(file.c_str(), kNobody, kNobody), 0);
    }

    ASSERT_TRUE(WritePrivateProfileText("S", "k", "new", file));

    struct stat status {};
    ASSERT_EQ(stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, GetParam());
    if (root) {
        EXPECT_EQ(status.st_uid, kNobody);
        EXPECT_EQ(status.st_gid, kNobody);
    }
    EXPECT_EQ(GetPrivateProfileText("S", "k", "", 64, file).Text, "new");
}

INSTANTIATE_TEST_SUITE_P(Modes, ProfileFileModeTest,
                         testing::Values(0600, 0640, 0664, 0666, 02660));

TEST(ProfileFileReliability, SymbolicLinkStaysAndTargetIsRewritten) {
    TempDir dir;
    const std::filesystem::path target = dir.Path() / "real.ini";
    const std::filesystem::path link = dir.Path() / "TachoGraph.int";
    WriteFile(target, "[S]\r\nk=old\r\n");
    std::filesystem::create_symlink("real.ini", link);

    ASSERT_TRUE(WritePrivateProfileText("S", "k", "new", link.string()));

    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadFile(target), "[S]\r\nk=new\r\n");
}

}  // namespace
}  // namespace tovrik
