#include "settings/profile_text.h"

#include <string_view>
#include <vector>

#include "common/ascii.h"

namespace tovrik::profile {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// What the profile functions trim around names and values: space, tab, vertical tab, form feed,
// and Ctrl+Z (the end-of-file mark of old DOS files).
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A'; }

std::string_view TrimLeft(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    return text;
}

std::string_view TrimRight(std::string_view text) {
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::string_view Trim(std::string_view text) { return TrimRight(TrimLeft(text)); }

bool IsQuote(char c) { return c == '"' || c == '\''; }

bool HasMatchingQuotes(std::string_view text) {
    return text.size() >= 2 && IsQuote(text.front()) && text.back() == text.front();
}

std::string_view Unquote(std::string_view value) {
    return HasMatchingQuotes(value) ? value.substr(1, value.size() - 2) : value;
}

// The profile functions handle text as C strings: a NUL ends it, before any quote is looked at.
std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

// What a key line's value reads as: up to a NUL, then without one pair of surrounding quotes.
std::string_view ReadValue(std::string_view value) { return Unquote(UpToNul(value)); }

// A default as GetPrivateProfileString edits it: trailing spaces go (tabs stay) but never the
// first character, so a default of spaces gives one; then one pair of surrounding quotes goes.
std::string_view EditedDefault(std::string_view value) {
    value = UpToNul(value);
    while (value.size() > 1 && value.back() == ' ') value.remove_suffix(1);
    return Unquote(value);
}

enum class LineKind { Other, Section, Key };

struct Line {
    std::size_t Begin = 0;  // first byte of the line
    std::size_t End = 0;    // one past the last byte before the line end
    std::size_t Next = 0;   // first byte after the line end
    LineKind Kind = LineKind::Other;
    std::string_view Name;   // section or key name, trimmed
    std::string_view Value;  // key lines: the value, trimmed, quotes still on
    bool Blank = false;      // nothing but blanks, or empty
};

Line Classify(std::string_view content, std::size_t begin, std::size_t end, std::size_t next) {
    Line line{begin, end, next, LineKind::Other, {}, {}, false};
    const std::string_view text = content.substr(begin, end - begin);
    const std::string_view trimmed = TrimLeft(text);
    line.Blank = trimmed.empty();
    if (!trimmed.empty() && trimmed.front() == '[') {
        // A header runs to the last ']' so that names containing ']' survive; a '[' line
        // without one is neither a header nor a key.
        const std::size_t close = trimmed.rfind(']');
        if (close != std::string_view::npos) {
            line.Kind = LineKind::Section;
            line.Name = Trim(trimmed.substr(1, close - 1));
        }
        return line;
    }
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) return line;
    line.Kind = LineKind::Key;
    line.Name = Trim(text.substr(0, equals));
    line.Value = Trim(text.substr(equals + 1));
    return line;
}

std::vector<Line> SplitLines(std::string_view content) {
    std::vector<Line> lines;
    std::size_t begin = content.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
    while (begin < content.size()) {
        const std::size_t end = content.find_first_of("\r\n", begin);
        if (end == std::string_view::npos) {
            lines.push_back(Classify(content, begin, content.size(), content.size()));
            break;
        }
        const bool crlf =
            content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n';
        const std::size_t next = end + (crlf ? 2 : 1);
        lines.push_back(Classify(content, begin, end, next));
        begin = next;
    }
    return lines;
}

// Where a key is, or where it would go. As in the Windows profile functions only the first
// copy of a section counts: a later section of the same name is neither read nor written.
struct Position {
    std::optional<std::size_t> KeyLine;        // first line holding the key in that copy
    std::optional<std::size_t> SectionHeader;  // first header of the section
    std::optional<std::size_t> LastLine;       // last line of that copy that is not blank
};

Position Find(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    section = Trim(section);
    key = Trim(key);
    Position position;
    bool inFirstCopy = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        if (line.Kind == LineKind::Section) {
            if (position.SectionHeader) break;
            inFirstCopy = EqualsIgnoringAsciiCase(line.Name, section);
            if (inFirstCopy) position.SectionHeader = i;
        } else if (inFirstCopy) {
            if (line.Kind == LineKind::Key && !position.KeyLine &&
                EqualsIgnoringAsciiCase(line.Name, key)) {
                position.KeyLine = i;
            }
            if (!line.Blank) position.LastLine = i;
        }
    }
    return position;
}

// At most bufferSize - 1 bytes of text, never ending inside a UTF-8 character.
ProfileText CopyIntoBuffer(std::string_view text, std::size_t bufferSize) {
    if (bufferSize == 0) return {};
    std::size_t count = std::min(text.size(), bufferSize - 1);
    if (count < text.size()) {
        // text[count] is the first byte left out; while it continues a character, that
        // character started inside the copy and goes too. Invalid runs stop after three.
        for (int step = 0; step < 3 && count > 0; ++step) {
            if ((static_cast<unsigned char>(text[count]) & 0xC0) != 0x80) break;
            --count;
        }
    }
    return {std::string(text.substr(0, count)), count};
}

std::string LineEndOf(std::string_view content) {
    const std::size_t end = content.find_first_of("\r\n");
    if (end == std::string_view::npos) return "\r\n";
    if (content[end] == '\n') return "\n";
    return (end + 1 < content.size() && content[end + 1] == '\n') ? "\r\n" : "\r";
}

bool HasNoLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::string KeyLineText(std::string_view key, const std::string& value) {
    return std::string(key) + "=" + StoredValue(value);
}

}  // namespace

ProfileText Lookup(const std::string& content, const std::string& section, const std::string& key,
                   const std::string& defaultValue, std::size_t bufferSize) {
    const std::vector<Line> lines = SplitLines(content);
    const Position position = Find(lines, section, key);
    if (position.KeyLine)
        return CopyIntoBuffer(ReadValue(lines[*position.KeyLine].Value), bufferSize);
    return CopyIntoBuffer(EditedDefault(defaultValue), bufferSize);
}

std::string StoredValue(const std::string& value) {
    const bool quote = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) ||
                                          HasMatchingQuotes(value));
    return quote ? "\"" + value + "\"" : value;
}

bool Storable(const std::string& section, const std::string& key, const std::string& value) {
    return HasNoLineBreakOrNul(section) && HasNoLineBreakOrNul(key) && HasNoLineBreakOrNul(value) &&
           key.find('=') == std::string::npos && !TrimLeft(key).starts_with('[');
}

std::optional<std::string> Update(const std::string& content, const std::string& section,
                                  const std::string& key, const std::string& value) {
    if (!Storable(section, key, value)) return std::nullopt;

    const std::vector<Line> lines = SplitLines(content);
    const Position position = Find(lines, section, key);
    const std::string eol = LineEndOf(content);
    std::string result = content;

    if (position.KeyLine) {
        const Line& line = lines[*position.KeyLine];
        if (ReadValue(line.Value) == value) return result;
        // The key keeps its spelling from the file; the line keeps its line end, and a last line
        // without one gets CRLF, as the profile function ends every line it writes.
        const std::string lineEnd = line.Next == line.End ? "\r\n" : "";
        result.replace(line.Begin, line.End - line.Begin, KeyLineText(line.Name, value) + lineEnd);
        return result;
    }
    if (position.SectionHeader) {
        const Line& after = lines[position.LastLine.value_or(*position.SectionHeader)];
        std::string insert = after.Next == after.End ? eol : std::string();
        // A lone CR right before an LF would fuse with it and swallow the next line's end.
        const bool nextStartsWithLf = after.Next < content.size() && content[after.Next] == '\n';
        insert += KeyLineText(Trim(key), value) + (eol == "\r" && nextStartsWithLf ? "\r\n" : eol);
        result.insert(after.Next, insert);
        return result;
    }
    if (!lines.empty() && lines.back().Next == lines.back().End) result += eol;
    result += "[" + std::string(Trim(section)) + "]" + eol + KeyLineText(Trim(key), value) + eol;
    return result;
}

}  // namespace tovrik::profile
