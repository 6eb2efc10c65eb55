#include "settings/profile_file.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace tovrik {

namespace {

// Asked for as defaults, so that a missing key is told apart and the caller's (UTF-8) default
// is applied by the same rules everywhere. Either byte may be a stored value in a single-byte
// code page (0xFF is "ÿ" in 1252), but one value cannot answer both: the key is missing only
// when each read returns its own marker.
constexpr char kMissing[] = "\xFF";
constexpr char kOtherMissing[] = "\xFE";

// The text without a lead byte of a double-byte character left at its end by a cut buffer, so
// that a cut value ends with a whole character as it does on Linux; the count never exceeds the
// text (Wine counts the bytes of a character it could not fit).
ProfileText WithoutSplitCharacter(ProfileText read) {
    read.Copied = std::min(read.Copied, read.Text.size());
    std::size_t whole = 0;
    while (whole < read.Text.size()) {
        const bool lead = IsDBCSLeadByte(static_cast<BYTE>(read.Text[whole])) != FALSE;
        if (lead && whole + 1 >= read.Text.size()) break;
        whole += lead ? 2 : 1;
    }
    if (whole < read.Text.size()) {
        read.Copied -= read.Text.size() - whole;
        read.Text.resize(whole);
    }
    return read;
}

// One profile read into a buffer of bufferSize bytes: the text up to its NUL and the count.
ProfileText ReadAnsi(const std::string& section, const std::string& key, const char* defaultValue,
                     std::size_t bufferSize, const std::string& file) {
    std::vector<char> buffer(bufferSize, '\0');
    const DWORD copied =
        GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue, buffer.data(),
                                 static_cast<DWORD>(bufferSize), file.c_str());
    return {std::string(buffer.data()), copied};
}

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
    // A buffer of 2 bytes holds each marker whole; the value is read in full afterwards.
    const std::size_t probeSize = std::max<std::size_t>(bufferSize, 2);
    ProfileText read = ReadAnsi(*ansiSection, *ansiKey, kMissing, probeSize, *ansiFile);
    if (read.Text == kMissing &&
        ReadAnsi(*ansiSection, *ansiKey, kOtherMissing, probeSize, *ansiFile).Text ==
            kOtherMissing) {
        return profile::Lookup({}, section, key, defaultValue, bufferSize);
    }
    if (probeSize != bufferSize) {
        read = ReadAnsi(*ansiSection, *ansiKey, kMissing, bufferSize, *ansiFile);
    }
    read = WithoutSplitCharacter(std::move(read));
    return {AnsiToUtf8(read.Text), read.Copied};
}

bool WritePrivateProfileText(const std::string& section, const std::string& key,
                             const std::string& value, const std::string& file) {
    // The profile function would write a line break into the file (the key's line would read
    // back as something else) and a character outside the code page as '?'.
    if (!profile::Storable(section, key, value)) return false;
    const std::optional<std::string> ansiSection = Utf8ToAnsi(section);
    const std::optional<std::string> ansiKey = Utf8ToAnsi(key);
    // Quoted as on Linux: the profile function writes the value as it is, and a read would drop
    // the blanks or quotes at its ends.
    const std::optional<std::string> ansiValue = Utf8ToAnsi(profile::StoredValue(value));
    const std::optional<std::string> ansiFile = Utf8ToAnsi(file);
    if (!ansiSection || !ansiKey || !ansiValue || !ansiFile) return false;
    // The read-only attribute is honoured here too: Wine running as root would write anyway.
    const DWORD attributes = GetFileAttributesA(ansiFile->c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return false;
    }
    return WritePrivateProfileStringA(ansiSection->c_str(), ansiKey->c_str(), ansiValue->c_str(),
                                      ansiFile->c_str()) != FALSE;
}

}  // namespace tovrik
