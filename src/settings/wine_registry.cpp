#include "settings/wine_registry.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string_view>
#include <utility>

#include "common/utf.h"
#include "platform/platform.h"
#include "settings/registry_names.h"

namespace tovrik {

namespace {

constexpr std::string_view kFileHeader = "WINE REGISTRY Version 2";
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes a quoted text of the file from line[pos], just after its opening delimiter, up to the
// unescaped `delimiter`, the way Wine writes it: "\\", "\"", "\]", the C escapes \a \b \e \f \n
// \r \t \v, \x with up to four hex digits (one UTF-16 code unit; surrogate pairs come as two),
// \ with up to three octal digits; bytes above 0x7F are taken as UTF-8. Returns the position
// after the closing delimiter, or npos when the text does not end on this line.
std::size_t ParseQuoted(std::string_view line, std::size_t pos, char delimiter,
                        std::u16string& out) {
    std::string raw;  // a run of non-ASCII bytes, converted as UTF-8 when it ends
    auto flush = [&] {
        if (!raw.empty()) out += Utf8ToUtf16(raw);
        raw.clear();
    };
    while (pos < line.size()) {
        const char c = line[pos];
        if (static_cast<unsigned char>(c) >= 0x80) {
            raw += c;
            ++pos;
            continue;
        }
        flush();
        if (c == delimiter) return pos + 1;
        ++pos;
        if (c != '\\') {
            out += static_cast<char16_t>(c);
            continue;
        }
        if (pos >= line.size()) break;
        const char escaped = line[pos++];
        constexpr std::string_view kControlLetters = "abefnrtv";
        constexpr char16_t kControls[] = {0x07, 0x08, 0x1B, 0x0C, 0x0A, 0x0D, 0x09, 0x0B};
        if (const std::size_t control = kControlLetters.find(escaped);
            control != std::string_view::npos) {
            out += kControls[control];
        } else if (escaped == 'x') {
            unsigned value = 0;
            int digits = 0;
            for (; digits < 4 && pos < line.size() && HexDigit(line[pos]) >= 0; ++digits) {
                value = value * 16 + static_cast<unsigned>(HexDigit(line[pos++]));
            }
            out += digits == 0 ? u'x' : static_cast<char16_t>(value);
        } else if (escaped >= '0' && escaped <= '7') {
            unsigned value = static_cast<unsigned>(escaped - '0');
            for (int digits = 1;
                 digits < 3 && pos < line.size() && line[pos] >= '0' && line[pos] <= '7';
                 ++digits) {
                value = value * 8 + static_cast<unsigned>(line[pos++] - '0');
            }
            out += static_cast<char16_t>(value);
        } else {
            out += static_cast<char16_t>(escaped);
        }
    }
    flush();
    return std::string_view::npos;
}

// The registry type in "str(N):" or "hex(N):" (N in hex) at data[pos]; advances pos past ':'.
std::optional<std::uint32_t> ParseTypeTag(std::string_view data, std::size_t& pos) {
    if (pos >= data.size() || data[pos] != '(') return std::nullopt;
    std::uint32_t type = 0;
    std::size_t i = pos + 1;
    for (; i < data.size() && HexDigit(data[i]) >= 0 && type < 0x10000000u; ++i) {
        type = type * 16 + static_cast<std::uint32_t>(HexDigit(data[i]));
    }
    if (i == pos + 1 || i + 1 >= data.size() || data[i] != ')' || data[i + 1] != ':') {
        return std::nullopt;
    }
    pos = i + 2;
    return type;
}

// UTF-16LE text from a "hex(1):" or "hex(2):" byte list ("61,00,62,00").
std::u16string DecodeHexText(std::string_view bytes) {
    std::string data;
    int high = -1;
    for (const char c : bytes) {
        const int digit = HexDigit(c);
        if (digit < 0) continue;
        if (high < 0) {
            high = digit;
        } else {
            data += static_cast<char>(high * 16 + digit);
            high = -1;
        }
    }
    std::u16string text;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        text += static_cast<char16_t>(static_cast<unsigned char>(data[i]) |
                                      (static_cast<unsigned char>(data[i + 1]) << 8));
    }
    return text;
}

// The text of a value's data part, or nothing when the value is not text (or is malformed).
// Like the registry settings reader, the text ends at its first NUL.
std::optional<std::u16string> ParseTextData(std::string_view data) {
    std::u16string text;
    if (!data.empty() && data[0] == '"') {
        if (ParseQuoted(data, 1, '"', text) == std::string_view::npos) return std::nullopt;
    } else if (data.starts_with("str")) {
        std::size_t pos = 3;
        const auto type = ParseTypeTag(data, pos);
        if (!type || (*type != kRegSz && *type != kRegExpandSz)) return std::nullopt;
        if (pos >= data.size() || data[pos] != '"') return std::nullopt;
        if (ParseQuoted(data, pos + 1, '"', text) == std::string_view::npos) return std::nullopt;
    } else if (data.starts_with("hex")) {
        std::size_t pos = 3;
        const auto type = ParseTypeTag(data, pos);
        if (!type || (*type != kRegSz && *type != kRegExpandSz)) return std::nullopt;
        text = DecodeHexText(data.substr(pos));
    } else {
        return std::nullopt;  // dword:, and anything this reader does not know
    }
    const std::size_t nul = text.find(u'\0');
    if (nul != std::u16string::npos) text.resize(nul);
    return text;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

std::u16string FoldedPath(const std::string& keyPath) {
    return FoldRegistryName(Utf8ToUtf16(keyPath));
}

}  // namespace

WineRegistrySource::WineRegistrySource(std::filesystem::path userRegistryFile)
    : file_(std::move(userRegistryFile)) {}

void WineRegistrySource::Load() {
    if (loaded_) return;
    loaded_ = true;
    if (file_.empty()) return;
    std::ifstream in(file_, std::ios::binary);
    if (!in) return;
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
    }
    // Wine itself refuses a file without its header; so does this reader.
    if (lines.empty() || lines[0] != kFileHeader) return;

    Key* current = nullptr;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (line.empty()) continue;
        if (line[0] == '[') {
            std::u16string path;
            if (ParseQuoted(line, 1, ']', path) == std::string_view::npos) {
                current = nullptr;
                continue;
            }
            Key& key = keys_[FoldRegistryName(path)];
            if (key.Path.empty()) key.Path = path;
            current = &key;
            continue;
        }
        if (line[0] != '"' && line[0] != '@') continue;  // ';' comments, '#' options, stray text
        std::u16string name;
        std::size_t pos = 1;
        if (line[0] == '"') pos = ParseQuoted(line, 1, '"', name);
        if (pos == std::string_view::npos) continue;
        std::string_view rest = TrimBlanks(line.substr(pos));
        if (rest.empty() || rest[0] != '=') continue;
        std::string data(TrimBlanks(rest.substr(1)));
        // Byte lists go on over the following lines while a line ends in a backslash.
        if (data.starts_with("hex")) {
            while (!data.empty() && data.back() == '\\' && i + 1 < lines.size()) {
                data.pop_back();
                data += TrimBlanks(lines[++i]);
            }
        }
        if (line[0] == '@' || current == nullptr) continue;  // the default value has no name
        std::optional<std::u16string> text = ParseTextData(data);
        const std::u16string folded = FoldRegistryName(name);
        auto same =
            std::find_if(current->Values.begin(), current->Values.end(),
                         [&](const Value& v) { return FoldRegistryName(v.Name) == folded; });
        if (same != current->Values.end()) current->Values.erase(same);
        if (text) current->Values.push_back({name, std::move(*text)});
    }
    for (auto& [folded, key] : keys_) {
        std::stable_sort(key.Values.begin(), key.Values.end(), [](const Value& a, const Value& b) {
            return FoldRegistryName(a.Name) < FoldRegistryName(b.Name);
        });
    }
}

const WineRegistrySource::Key* WineRegistrySource::FindKey(const std::string& keyPath) {
    Load();
    const auto found = keys_.find(FoldedPath(keyPath));
    return found == keys_.end() ? nullptr : &found->second;
}

std::optional<std::vector<std::string>> WineRegistrySource::EnumKey(const std::string& keyPath) {
    Load();
    const std::u16string folded = FoldedPath(keyPath);
    const std::u16string prefix = folded + u'\\';
    // A key with no values of its own is not written to the file; it exists through its subkeys.
    bool exists = keys_.count(folded) > 0;
    std::map<std::u16string, std::u16string> children;  // folded name -> name as spelled
    for (auto it = keys_.lower_bound(prefix); it != keys_.end() && it->first.starts_with(prefix);
         ++it) {
        exists = true;
        const std::u16string_view tail = std::u16string_view(it->second.Path).substr(prefix.size());
        const std::u16string child(tail.substr(0, tail.find(u'\\')));
        if (!child.empty()) children.emplace(FoldRegistryName(child), child);
    }
    if (!exists) return std::nullopt;
    std::vector<std::string> names;
    names.reserve(children.size());
    for (const auto& [foldedName, child] : children) names.push_back(Utf16ToUtf8(child));
    return names;
}

std::optional<std::vector<std::string>> WineRegistrySource::EnumValues(const std::string& keyPath) {
    const Key* key = FindKey(keyPath);
    if (key == nullptr) {
        if (!EnumKey(keyPath)) return std::nullopt;
        return std::vector<std::string>{};
    }
    std::vector<std::string> names;
    names.reserve(key->Values.size());
    for (const Value& value : key->Values) names.push_back(Utf16ToUtf8(value.Name));
    return names;
}

std::string WineRegistrySource::GetSetting(const std::string& application,
                                           const std::string& section, const std::string& key,
                                           const std::string& defaultValue) {
    const Key* found = FindKey(kRegistrySettingsRoot + application + "\\" + section);
    if (found == nullptr) return defaultValue;
    const std::u16string folded = FoldedPath(key);
    for (const Value& value : found->Values) {
        if (FoldRegistryName(value.Name) == folded) return Utf16ToUtf8(value.Text);
    }
    return defaultValue;
}

std::filesystem::path WineUserRegistryFile(const Environment& environment) {
    const auto prefix = environment.Get("WINEPREFIX");
    if (prefix && !prefix->empty()) return PathFromUtf8(*prefix) / "user.reg";
    const auto home = environment.Get("HOME");
    if (home && !home->empty()) return PathFromUtf8(*home) / ".wine" / "user.reg";
    return {};
}

}  // namespace tovrik
