#pragma once

#include <filesystem>
#include <string>

namespace tovrik::test {

// A fresh folder under the system's temporary folder, removed with everything in it at the end
// of the scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::string Str() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

// The whole content of a file (empty when it cannot be read), and writing one.
std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& content);

// A file of the source tree, e.g. SourcePath("tests/settings/data/x.ini").
std::filesystem::path SourcePath(const std::string& relative);

}  // namespace tovrik::test
