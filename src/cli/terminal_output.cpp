#include "cli/terminal_output.h"

#include <array>
#include <cctype>

#include "common/utf.h"

namespace tovrik::cli {

namespace {

constexpr std::size_t kShortestMaskedPassword = 4;

bool StartsWithNoCase(const std::string& text, std::size_t at, const std::string& prefix) {
    if (text.size() - at < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(text[at + i])) != prefix[i]) return false;
    }
    return true;
}

// True when the keyword at `at` starts a new word, so "XPWD=" is no password keyword.
bool AtWordStart(const std::string& text, std::size_t at) {
    if (at == 0) return true;
    const auto before = static_cast<unsigned char>(text[at - 1]);
    return std::isalnum(before) == 0 && before != '_';
}

// Where the value that starts at `at` ends: after the closing brace of a braced value ("}}"
// stands for one brace), else at the next ';', line end or quote.
std::size_t ValueEnd(const std::string& text, std::size_t at) {
    if (at < text.size() && text[at] == '{') {
        std::size_t i = at + 1;
        while (i < text.size()) {
            if (text[i] == '}') {
                if (i + 1 < text.size() && text[i + 1] == '}') {
                    i += 2;
                    continue;
                }
                return i + 1;
            }
            ++i;
        }
        return text.size();
    }
    const auto end = text.find_first_of(";\r\n'\"", at);
    return end == std::string::npos ? text.size() : end;
}

}  // namespace

std::string ToTerminalText(const std::string& text) { return WithLineFeeds(text); }

std::string MaskSecrets(const std::string& text, const std::string& password) {
    static const std::array<std::string, 2> kKeywords = {"PWD", "PASSWORD"};
    std::string result;
    std::size_t i = 0;
    while (i < text.size()) {
        bool masked = false;
        for (const auto& keyword : kKeywords) {
            if (!StartsWithNoCase(text, i, keyword) || !AtWordStart(text, i)) continue;
            std::size_t at = i + keyword.size();
            while (at < text.size() && text[at] == ' ') ++at;
            if (at >= text.size() || text[at] != '=') continue;
            ++at;
            while (at < text.size() && text[at] == ' ') ++at;
            result += text.substr(i, at - i) + "***";
            i = ValueEnd(text, at);
            masked = true;
            break;
        }
        if (!masked) result += text[i++];
    }
    if (password.size() >= kShortestMaskedPassword) {
        for (auto at = result.find(password); at != std::string::npos;
             at = result.find(password, at + 3)) {
            result.replace(at, password.size(), "***");
        }
    }
    return result;
}

TerminalMessageBoxes::TerminalMessageBoxes(std::ostream& out,
                                           std::function<std::string()> password)
    : out_(out), password_(std::move(password)) {}

void TerminalMessageBoxes::Show(const std::string& text, const std::string& caption, MessageIcon) {
    std::string body = ToTerminalText(text);
    while (!body.empty() && body.back() == '\n') body.pop_back();
    const std::string line = caption.empty() ? body : caption + ": " + body;
    out_ << MaskSecrets(line, password_ ? password_() : std::string()) << '\n';
    out_.flush();
}

}  // namespace tovrik::cli
