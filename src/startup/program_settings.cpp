#include "startup/program_settings.h"

#include <stdexcept>

#include "common/utf.h"
#include "platform/platform.h"
#include "settings/ini_settings.h"
#include "settings/setting_numbers.h"

namespace tovrik {

namespace {

constexpr char kServerFileName[] = "NUVRALsv.ini";
constexpr char kServerSection[] = "Data";

// The character that the single byte `code` stands for in the Japanese ANSI code page (932), as
// Windows converts that byte alone: ASCII below 0x80; half-width katakana for 0xA1..0xDF; the
// best-fit mappings Windows uses for 0x80 (U+0080), 0xA0 (U+F8F0) and 0xFD..0xFF
// (U+F8F1..U+F8F3). The lead bytes of double-byte characters (0x81..0x9F, 0xE0..0xFC) are no
// character on their own and become U+FFFD, the replacement character, so that a half character
// never reaches a host or database name as a stray byte.
char32_t Cp932SingleByte(int code) {
    if (code < 0x80) return static_cast<char32_t>(code);
    if (code == 0x80) return 0x0080;
    if (code == 0xA0) return 0xF8F0;
    if (code >= 0xA1 && code <= 0xDF) return static_cast<char32_t>(0xFF61 + (code - 0xA1));
    if (code >= 0xFD) return static_cast<char32_t>(0xF8F1 + (code - 0xFD));
    return 0xFFFD;
}

}  // namespace

std::string ServerFilePath(const std::string& programFolder) {
    return programFolder + kPathSeparator + kServerFileName;
}

void LoadProgramSettings(StartState& state, const std::string& programFolder) {
    state.ServerFileMode = false;
    const std::string path = ServerFilePath(programFolder);
    if (!PathExists(path, false)) return;
    state.ServerFileMode = true;
    state.ServerFileHost =
        DecodeServerSetting(ReadProfileString(path, kServerSection, "Data01", ""));
    state.ServerFilePort =
        DecodeServerSetting(ReadProfileString(path, kServerSection, "Data02", ""));
    state.ServerFileDbName =
        DecodeServerSetting(ReadProfileString(path, kServerSection, "Data03", ""));
}

std::string DecodeServerSetting(const std::string& stored) {
    std::string plain;
    int number = 1;
    for (std::size_t position = 0; position < stored.size(); position += 3, ++number) {
        const std::string_view group = std::string_view(stored).substr(position, 3);
        const double code = RoundHalfEven(LeadingNumber(group) - number);
        if (code < -32768 || code > 32767) {
            throw std::overflow_error("server setting group \"" + std::string(group) +
                                      "\" is out of range");
        }
        int byte = static_cast<int>(code) % 256;
        if (byte < 0) byte += 256;
        AppendUtf8(plain, Cp932SingleByte(byte));
    }
    return plain;
}

}  // namespace tovrik
