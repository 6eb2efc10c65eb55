#pragma once

#include <memory>
#include <string>

namespace tovrik {

// A new file that is only appended to. Appended text survives a crash of the program at once,
// and a crash of the machine once Sync has returned (it is then on the disk, not only in the
// system's cache); so does the file's name in its folder, which the first Sync puts on the disk.
class DurableFile {
public:
    // Creates `path`, which must not exist yet. Throws std::runtime_error naming the path and the
    // system's reason.
    explicit DurableFile(const std::string& path);
    ~DurableFile();
    DurableFile(const DurableFile&) = delete;
    DurableFile& operator=(const DurableFile&) = delete;

    // Writes `text` at the end. Throws std::runtime_error naming the path and the system's
    // reason.
    void Append(const std::string& text);
    // Waits until everything appended is on the disk. Throws as Append.
    void Sync();
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    struct Handle;
    std::unique_ptr<Handle> handle_;
};

// Creates the folder (one level) when it does not exist. Throws std::runtime_error naming the
// folder and the system's reason when it neither exists nor can be created.
void CreateFolderIfMissing(const std::string& path);

}  // namespace tovrik
