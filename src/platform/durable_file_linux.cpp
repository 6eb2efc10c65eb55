#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/durable_file.h"

namespace tovrik {

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
    throw std::runtime_error(what + " " + path + ": " + std::strerror(error));
}

}  // namespace

struct DurableFile::Handle {
    int Fd = -1;
    bool NameSynced = false;
};

DurableFile::DurableFile(const std::string& path) : path_(path), handle_(new Handle) {
    handle_->Fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
    if (handle_->Fd < 0) Fail("作成できません:", path, errno);
}

DurableFile::~DurableFile() {
    if (handle_->Fd >= 0) ::close(handle_->Fd);
}

void DurableFile::Append(const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(handle_->Fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) Fail("書き込めません:", path_, n < 0 ? errno : ENOSPC);
        written += static_cast<std::size_t>(n);
    }
}

void DurableFile::Sync() {
    while (::fsync(handle_->Fd) != 0) {
        if (errno != EINTR) Fail("ディスクに書き込めません:", path_, errno);
    }
    if (handle_->NameSynced) return;
    // The file's name in its folder must survive a crash too. (Done here rather than at the
    // creation: a wait for the disk that can take a tenth of a second on a busy one, before the
    // file holds anything worth keeping.)
    const auto slash = path_.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path_.substr(0, slash + 1);
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);  // best effort: some file systems refuse fsync on folders
        ::close(folderFd);
    }
    handle_->NameSynced = true;
}

void CreateFolderIfMissing(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) == 0) return;
    const int error = errno;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return;
    Fail("フォルダーを作成できません:", path, error == EEXIST ? ENOTDIR : error);
}

}  // namespace tovrik
