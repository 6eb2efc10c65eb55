// Feeds arbitrary file contents and names to the INI reader and editor and checks what every
// input must satisfy: the read fits its buffer, a stored value reads back unchanged, storing it
// again changes nothing, and a write touches one line or adds lines, never more.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "settings/profile_text.h"

namespace {

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

// A line with its line end, split independently of the code under test.
struct RawLine {
    std::string Text;
    std::string End;
    bool operator==(const RawLine&) const = default;
};

std::vector<RawLine> Split(const std::string& content) {
    std::vector<RawLine> lines;
    std::size_t i = content.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    while (i < content.size()) {
        RawLine line;
        while (i < content.size() && content[i] != '\r' && content[i] != '\n')
            line.Text += content[i++];
        if (i < content.size() && content[i] == '\r') line.End += content[i++];
        if (i < content.size() && content[i] == '\n') line.End += content[i++];
        lines.push_back(line);
    }
    return lines;
}

// Between the unchanged lines at the start and at the end, the write may have replaced one old
// line (a key line, or the last line gaining its line end) and added at most three.
void CheckOnlyOneSpotChanged(const std::string& before, const std::string& after) {
    const std::vector<RawLine> old = Split(before);
    const std::vector<RawLine> now = Split(after);
    std::size_t head = 0;
    while (head < old.size() && head < now.size() && old[head] == now[head]) ++head;
    std::size_t tail = 0;
    while (tail < old.size() - head && tail < now.size() - head &&
           old[old.size() - 1 - tail] == now[now.size() - 1 - tail]) {
        ++tail;
    }
    const std::size_t oldChanged = old.size() - head - tail;
    const std::size_t newChanged = now.size() - head - tail;
    Check(oldChanged <= 1, "a write changed more than one existing line");
    Check(newChanged <= oldChanged + 3, "a write added more than three lines");
    if (oldChanged == 1) {
        const RawLine& line = old[head];
        const bool keyLine = line.Text.find('=') != std::string::npos;
        const bool lastWithoutEnd = head == old.size() - 1 && line.End.empty();
        Check(keyLine || lastWithoutEnd, "a write changed a line that holds no key");
        Check(lastWithoutEnd || now[head].End == line.End, "a replaced line lost its line end");
    }
    Check(before.rfind("\xEF\xBB\xBF", 0) != 0 || after.rfind("\xEF\xBB\xBF", 0) == 0,
          "the byte-order mark was lost");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::size_t bufferSize = input.ConsumeIntegralInRange<std::size_t>(0, 300);
    const std::string section = input.ConsumeRandomLengthString(64);
    const std::string key = input.ConsumeRandomLengthString(32);
    const std::string value = input.ConsumeRandomLengthString(64);
    const std::string content = input.ConsumeRemainingBytesAsString();
    using tovrik::profile::Lookup;

    const tovrik::profile::ProfileText read = Lookup(content, section, key, "dflt", bufferSize);
    Check(read.Copied + 1 <= std::max<std::size_t>(bufferSize, 1), "read overran its buffer");
    Check(read.Text.size() <= read.Copied, "text longer than the count copied");

    const std::optional<std::string> updated =
        tovrik::profile::Update(content, section, key, value);
    Check(updated.has_value() == tovrik::profile::Storable(section, key, value),
          "Update and Storable disagree");
    if (!updated) return 0;
    const tovrik::profile::ProfileText back =
        Lookup(*updated, section, key, "\xFF", value.size() + 1);
    Check(back.Text == value && back.Copied == value.size(), "a stored value reads back changed");
    Check(tovrik::profile::Update(*updated, section, key, value) == *updated,
          "storing the same value again changed the file");
    CheckOnlyOneSpotChanged(content, *updated);
    return 0;
}
