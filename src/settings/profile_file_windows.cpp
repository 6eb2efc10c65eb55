#include "settings/profile_file.h"

#include <windows.h>

#include <optional>
#include <vector>

#include "platform/platform.h"

namespace tovrik {

namespace {

// Asked for as the default, so that a missing key is told apart and the caller's (UTF-8)
// default is applied by the same rules everywhere. The single byte 0xFF is no text of a
// double-byte code page.
constexpr char kMissing[] = "\xFF";

}  // namespace

ProfileText GetPrivateProfileText(const std::string& section, const std::string& key,
                                  const std::string& defaultValue, std::size_t bufferSize,
                                  const std::string& file) {
    if (bufferSize == 0) return {};
    const std::optional<std::string> ansiSection = Utf8ToAnsi(section);
    const std::optional<std::string> ansiKey = Utf8ToAnsi(key);
    const std::optional<std::string> ansiFile = Utf8ToAnsi(file);
    // A name the code page cannot spell is in no profile file the "A" functions can open.
    if (!ansiSection || !ansiKey || !ansiFile) {
        return profile::Lookup({}, section, key, defaultValue, bufferSize);
    }
    std::vector<char> buffer(bufferSize, '\0');
    const DWORD copied =
        GetPrivateProfileStringA(ansiSection->c_str(), ansiKey->c_str(), kMissing, buffer.data(),
                                 static_cast<DWORD>(bufferSize), ansiFile->c_str());
    const std::string text(buffer.data());
    if (text == kMissing) return profile::Lookup({}, section, key, defaultValue, bufferSize);
    return {AnsiToUtf8(text), copied};
}

bool WritePrivateProfileText(const std::string& section, const std::string& key,
                             const std::string& value, const std::string& file) {
    // The profile function would write a line break into the file (the key's line would read
    // back as something else) and a character outside the code page as '?'.
    if (!profile::Storable(section, key, value)) return false;
    const std::optional<std::string> ansiSection = Utf8ToAnsi(section);
    const std::optional<std::string> ansiKey = Utf8ToAnsi(key);
    const std::optional<std::string> ansiValue = Utf8ToAnsi(value);
    const std::optional<std::string> ansiFile = Utf8ToAnsi(file);
    if (!ansiSection || !ansiKey || !ansiValue || !ansiFile) return false;
    return WritePrivateProfileStringA(ansiSection->c_str(), ansiKey->c_str(), ansiValue->c_str(),
                                      ansiFile->c_str()) != FALSE;
}

}  // namespace tovrik
