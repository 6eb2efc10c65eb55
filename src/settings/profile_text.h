#pragma once

#include <cstddef>
#include <optional>
#include <string>

// The INI (profile) text format as the Windows profile functions read and write it, on a file's
// content held in memory. The Linux profile-file layer is built on these; they touch no files.
//
// Reading: section and key names match without regard to ASCII case, blanks (space, tab, vertical
// tab, form feed, Ctrl+Z) around names and values are ignored, a value ends at a NUL, a value
// wrapped in matching single or double quotes loses them,
// the first occurrence of a key wins, only the first of repeated sections of one name is read
// and written (Windows ignores a later copy), lines without '=' are ignored, CRLF, LF and CR all
// end a line, and a leading UTF-8 byte-order mark is skipped.
namespace tovrik::profile {

// What a profile read leaves in the caller's buffer: the text up to its NUL, and the number of
// bytes copied (the profile function's result).
struct ProfileText {
    std::string Text;
    std::size_t Copied = 0;
};

// Looks section/key up in content and copies the value, or defaultValue when the key is missing,
// into a buffer of bufferSize bytes: at most bufferSize - 1 bytes, cut back to the start of a
// UTF-8 character. The default is edited as Windows edits it: trailing spaces removed except its
// first character, then one pair of surrounding quotes.
ProfileText Lookup(const std::string& content, const std::string& section, const std::string& key,
                   const std::string& defaultValue, std::size_t bufferSize);

// Whether key=value can be stored in section: no CR, LF or NUL anywhere, no '=' in the key and
// no '[' at its start (the line would read back as something else).
bool Storable(const std::string& section, const std::string& key, const std::string& value);

// The value as a key line holds it: inside double quotes when it has blanks at either end or is
// wrapped in matching quotes (a read would drop them), else unchanged.
std::string StoredValue(const std::string& value);

// The content after storing key=value in section: replaces the key's line in place, or adds the
// key after the last line of its section that is not blank (a comment there stays above it, as
// Windows does), or adds the section at the end. Every other line
// keeps its bytes and line end. New lines take the content's first line end (CRLF when none); a
// replaced last line that had no line end gets CRLF.
// A value with blanks at either end, or wrapped in matching quotes, is written inside double
// quotes so that it reads back unchanged. Nothing when the text is not Storable.
std::optional<std::string> Update(const std::string& content, const std::string& section,
                                  const std::string& key, const std::string& value);

}  // namespace tovrik::profile
