#include "settings/profile_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

namespace tovrik {

namespace {

// Owns one file descriptor.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { Close(); }
    Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            Close();
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    // Closes now; false when the close reported an error (e.g. a late write failure).
    bool Close() {
        if (fd_ < 0) return true;
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0;
    }

private:
    int fd_;
};

std::optional<std::string> ReadAll(int fd) {
    std::string content;
    char chunk[65536];
    for (;;) {
        const ssize_t count = ::pread(fd, chunk, sizeof chunk, static_cast<off_t>(content.size()));
        if (count < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (count == 0) return content;
        content.append(chunk, static_cast<std::size_t>(count));
    }
}

bool WriteAll(int fd, const std::string& content) {
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t count = ::write(fd, content.data() + done, content.size() - done);
        if (count < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(count);
    }
    return true;
}

// O_NONBLOCK keeps a FIFO in the file's place from blocking the open; such files are refused
// right after by the regular-file test.
constexpr int kOpenFlags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

std::optional<std::string> ReadProfileFile(const std::string& file) {
    Descriptor fd(::open(file.c_str(), O_RDONLY | kOpenFlags));
    if (!fd.Valid()) return std::nullopt;
    struct stat status {};
    if (::fstat(fd.Get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    return ReadAll(fd.Get());
}

std::string ParentFolder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The real path of an existing file (symbolic links resolved), or nothing.
std::optional<std::string> RealPath(const std::string& file) {
    char* resolved = ::realpath(file.c_str(), nullptr);
    if (resolved == nullptr) return std::nullopt;
    std::string result(resolved);
    std::free(resolved);
    return result;
}

// Takes the exclusive lock, waiting at most about ten seconds for another writer.
bool LockExclusive(int fd) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        ::usleep(10000);
    }
    return false;
}

// The settings file, opened for writing and exclusively locked, and the real path it lies at.
struct LockedFile {
    Descriptor Fd;
    std::string Path;
    struct stat Status {};
};

// Writers replace the file by renaming a new one over it, so a lock taken on the old file while
// another writer renamed is stale: the lock is only kept once the path still names the locked
// file, otherwise it is taken again on the file the path now names.
std::optional<LockedFile> LockFile(const std::string& file) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        LockedFile locked{
            Descriptor(::open(file.c_str(), O_RDWR | O_CREAT | kOpenFlags, 0666)), {}, {}};
        if (!locked.Fd.Valid() || !LockExclusive(locked.Fd.Get())) return std::nullopt;
        std::optional<std::string> path = RealPath(file);
        struct stat named {};
        if (::fstat(locked.Fd.Get(), &locked.Status) != 0) return std::nullopt;
        if (!path || ::stat(path->c_str(), &named) != 0) continue;
        if (locked.Status.st_dev != named.st_dev || locked.Status.st_ino != named.st_ino) continue;
        locked.Path = std::move(*path);
        return locked;
    }
    return std::nullopt;
}

void SyncFolder(const std::string& folder) {
    Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Valid()) ::fsync(fd.Get());
}

// Writes content to a new file beside path with the given status's permissions and owner, flushes
// it and renames it over path. On any failure the new file is removed and path is untouched.
bool ReplaceAtomically(const std::string& path, const struct stat& status,
                       const std::string& content) {
    const std::string folder = ParentFolder(path);
    std::string temporary = folder + "/." + BaseName(path) + ".XXXXXX";
    Descriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd.Valid()) return false;

    // Owner first: a change of owner clears set-user-ID bits that the mode then restores.
    // Only root may give the file away; a member of the group may still keep the group.
    if (::fchown(fd.Get(), status.st_uid, status.st_gid) != 0) {
        // When this fails too, the file keeps this user's group, as a new file would.
        [[maybe_unused]] const int groupKept =
            ::fchown(fd.Get(), static_cast<uid_t>(-1), status.st_gid);
    }
    const bool written = ::fchmod(fd.Get(), status.st_mode & 07777) == 0 &&
                         WriteAll(fd.Get(), content) && ::fsync(fd.Get()) == 0;
    if (!fd.Close() || !written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    SyncFolder(folder);
    return true;
}

}  // namespace

ProfileText GetPrivateProfileText(const std::string& section, const std::string& key,
                                  const std::string& defaultValue, std::size_t bufferSize,
                                  const std::string& file) {
    const std::string content = ReadProfileFile(file).value_or(std::string());
    return profile::Lookup(content, section, key, defaultValue, bufferSize);
}

bool WritePrivateProfileText(const std::string& section, const std::string& key,
                             const std::string& value, const std::string& file) {
    // Checked before the lock, which creates a missing file.
    if (!profile::Storable(section, key, value)) return false;
    const std::optional<LockedFile> locked = LockFile(file);
    if (!locked) return false;
    if (!S_ISREG(locked->Status.st_mode) || (locked->Status.st_mode & 0222) == 0) return false;

    const std::optional<std::string> content = ReadAll(locked->Fd.Get());
    if (!content) return false;
    const std::optional<std::string> updated = profile::Update(*content, section, key, value);
    if (!updated) return false;
    if (*updated == *content) return true;
    return ReplaceAtomically(locked->Path, locked->Status, *updated);
}

}  // namespace tovrik
