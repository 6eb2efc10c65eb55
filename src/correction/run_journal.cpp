#include "correction/run_journal.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unordered_set>

#include "common/utf.h"
#include "correction/date_rules.h"
#include "correction/sql_dialect.h"
#include "platform/platform.h"

namespace tovrik {

namespace {

constexpr char kMagic[] = "TovrikJournal";
constexpr char kVersion[] = "1";
constexpr char kCommitted[] = "COMMITTED";
constexpr char kEnd[] = "END";
const char* const kHeaderKeys[] = {"Kind", "Start", "User", "Machine", "DataSource", "Database"};
const char* const kColumns[] = {"ID",          "InputDate", "DateBefore", "DateAfter",
                                "DriversTime", "EventLog",  "OpData"};

// CRC-32 (the one of zip and PNG) of a line's text: a line cut short, damaged or edited by hand
// no longer matches its check.
std::uint32_t Crc32(const std::string& text) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const unsigned char byte : text) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string Hex(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

std::string Line(const std::vector<std::string>& fields) {
    std::string line;
    for (const std::string& field : fields) line += field + "\t";
    line.pop_back();
    return line + "\t" + Hex(Crc32(line)) + "\n";
}

std::string Two(int value) {
    std::string text = std::to_string(value);
    if (value < 10) text.insert(0, 1, '0');
    return text;
}

std::string FileStamp(const DateTime& start) {
    return std::to_string(start.Year) + Two(start.Month) + Two(start.Day) + "-" + Two(start.Hour) +
           Two(start.Minute) + Two(start.Second);
}

std::string KindName(JournalKind kind) {
    return kind == JournalKind::Correction ? "correction" : "undo";
}

bool Digits(const std::string& text, std::size_t from, std::size_t count) {
    if (text.size() < from + count) return false;
    for (std::size_t i = from; i < from + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    return true;
}

// A whole number from 0 to 10^18, or -1.
std::int64_t Count(const std::string& text) {
    if (text.empty() || text.size() > 18 || !Digits(text, 0, text.size())) return -1;
    return std::stoll(text);
}

// The tab-separated fields of a line, empty ones included.
std::vector<std::string> SplitFields(const std::string& text) {
    std::vector<std::string> fields;
    for (std::size_t at = 0;;) {
        const std::size_t tab = text.find('\t', at);
        fields.push_back(text.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
        if (tab == std::string::npos) return fields;
        at = tab + 1;
    }
}

}  // namespace

std::string JournalField(const std::string& text) {
    std::string field = text;
    for (char& c : field) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    }
    return field;
}

std::string ShiftedDateText(const std::string& text, int days) {
    const auto value = correction::ParseStoredDate(text);
    if (!value) return "";
    return FormatIso(AddDays(DateTime{value->Year, value->Month, value->Day, 0, 0, 0, 0}, days))
               .substr(0, 10) +
           text.substr(10);
}

JournalWriter::JournalWriter(const JournalSetup& setup, JournalKind kind, const DateTime& start,
                             const std::string& range)
    : kind_(kind) {
    try {
        CreateFolderIfMissing(setup.Folder);
        const std::string stem = setup.Folder + kPathSeparator + FileStamp(start);
        for (int attempt = 1; !file_; ++attempt) {
            std::string path = stem;
            if (attempt > 1) path.append("-").append(std::to_string(attempt));
            path.append(".tsv");
            try {
                file_ = std::make_unique<DurableFile>(path);
            } catch (const std::runtime_error&) {
                // Taken (two runs in one second): the next name; anything else is the error.
                std::error_code error;
                if (attempt < 1000 && std::filesystem::exists(PathFromUtf8(path), error)) {
                    continue;
                }
                throw;
            }
        }
        std::vector<std::vector<std::string>> header;
        header.push_back({kMagic, kVersion});
        const std::string values[] = {KindName(kind), FormatIso(DateTime{
                                                          start.Year, start.Month, start.Day,
                                                          start.Hour, start.Minute, start.Second, 0}),
                                      setup.User,     setup.Machine,
                                      setup.DataSource, setup.Database};
        for (std::size_t i = 0; i < std::size(kHeaderKeys); ++i) {
            header.push_back({kHeaderKeys[i], JournalField(values[i])});
        }
        std::vector<std::string> rangeLine{kind == JournalKind::Correction ? "Months" : "Undoes"};
        for (const std::string& part : SplitFields(range)) rangeLine.push_back(JournalField(part));
        header.push_back(rangeLine);
        header.emplace_back(std::begin(kColumns), std::end(kColumns));
        Write(header, false);
        headerSync_ = std::async(std::launch::async, [file = file_.get()] { file->Sync(); });
    } catch (const JournalError&) {
        throw;
    } catch (const std::exception& error) {
        throw JournalError(std::string("作業記録を書けません: ") + error.what());
    }
}

JournalWriter::~JournalWriter() = default;

const std::string& JournalWriter::Path() const { return file_->Path(); }

void JournalWriter::Write(const std::vector<std::vector<std::string>>& lines, bool sync) {
    std::string text;
    for (const auto& fields : lines) text += Line(fields);
    try {
        file_->Append(text);
        if (sync) SyncFile();
    } catch (const std::exception& error) {
        throw JournalError(std::string("作業記録を書けません: ") + error.what());
    }
}

void JournalWriter::SyncFile() {
    if (headerSync_.valid()) headerSync_.get();  // throws what the header's sync threw
    file_->Sync();
}

void JournalWriter::Sync() {
    try {
        SyncFile();
    } catch (const std::exception& error) {
        throw JournalError(std::string("作業記録を書けません: ") + error.what());
    }
}

void JournalWriter::Add(const std::vector<JournalEntry>& entries) {
    if (entries.empty()) return;
    std::vector<std::vector<std::string>> lines;
    lines.reserve(entries.size());
    for (const JournalEntry& entry : entries) {
        lines.push_back({std::to_string(entry.Id), JournalField(entry.InputDate),
                         JournalField(entry.DateBefore), JournalField(entry.DateAfter),
                         std::to_string(entry.DependentRows[0]),
                         std::to_string(entry.DependentRows[1]),
                         std::to_string(entry.DependentRows[2])});
    }
    Write(lines, false);
    uncommitted_ += static_cast<int>(entries.size());
}

void JournalWriter::MarkCommitted() {
    if (uncommitted_ == 0) return;
    try {
        Write({{kCommitted, std::to_string(uncommitted_)}}, false);
    } catch (const JournalError& error) {
        // The transaction has committed: the journal alone would tell the operator otherwise.
        throw JournalError(std::string(error.what()) + "（直前の運行は" +
                           (kind_ == JournalKind::Correction ? "修正済み" : "元に戻し済み") +
                           "ですが、作業記録には確定の印がありません）");
    }
    uncommitted_ = 0;
}

void JournalWriter::End(const std::string& outcome) { Write({{kEnd, outcome}}, true); }

Journal ReadJournal(const std::string& path) {
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    if (!in) throw JournalError("作業記録 " + path + " を開けません。");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw JournalError("作業記録 " + path + " を読めません。");

    Journal journal;
    std::vector<JournalEntry> pending;
    std::unordered_set<std::int64_t> ids;
    std::size_t lineNumber = 0;
    auto fail = [&](const std::string& why) -> JournalError {
        return JournalError("作業記録 " + path + " の " + std::to_string(lineNumber) +
                            " 行目: " + why + "。何も変更していません。");
    };
    const std::size_t headerLines = 2 + std::size(kHeaderKeys) + 1;  // magic, keys, range, columns
    for (std::size_t at = 0; at < text.size();) {
        ++lineNumber;
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            if (!journal.Outcome.empty()) throw fail("END の後に行があります");
            if (lineNumber <= headerLines) throw fail("行が途中で切れています");
            journal.CutOffLine = lineNumber;
            break;
        }
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t lastTab = line.rfind('\t');
        if (lastTab == std::string::npos || line.size() - lastTab - 1 != 8 ||
            Hex(Crc32(line.substr(0, lastTab))) != line.substr(lastTab + 1)) {
            throw fail(lineNumber == 1 ? "Tovrik の作業記録ではありません"
                                       : "検査値が合いません (書き換えられたか壊れています)");
        }
        const std::vector<std::string> fields = SplitFields(line.substr(0, lastTab));
        if (!journal.Outcome.empty()) throw fail("END の後に行があります");

        if (lineNumber == 1) {
            if (fields.size() != 2 || fields[0] != kMagic) throw fail("Tovrik の作業記録ではありません");
            if (fields[1] != kVersion) throw fail("この版では読めない形式 " + fields[1] + " です");
            continue;
        }
        if (lineNumber < 2 + std::size(kHeaderKeys)) {
            const char* key = kHeaderKeys[lineNumber - 2];
            if (fields.size() != 2 || fields[0] != key) {
                throw fail(std::string("見出し ") + key + " がありません");
            }
            std::string* targets[] = {nullptr,           &journal.Start,      &journal.User,
                                      &journal.Machine,  &journal.DataSource, &journal.Database};
            if (lineNumber == 2) {
                if (fields[1] == "correction") {
                    journal.Kind = JournalKind::Correction;
                } else if (fields[1] == "undo") {
                    journal.Kind = JournalKind::Undo;
                } else {
                    throw fail("不明な種類 " + fields[1] + " です");
                }
            } else {
                *targets[lineNumber - 2] = fields[1];
            }
            continue;
        }
        if (lineNumber == headerLines - 1) {
            const char* key = journal.Kind == JournalKind::Correction ? "Months" : "Undoes";
            if (fields.empty() || fields[0] != key) throw fail(std::string("見出し ") + key + " がありません");
            journal.Range.assign(fields.begin() + 1, fields.end());
            continue;
        }
        if (lineNumber == headerLines) {
            if (fields != std::vector<std::string>(std::begin(kColumns), std::end(kColumns))) {
                throw fail("列の見出しが違います");
            }
            continue;
        }
        if (fields[0] == kCommitted) {
            if (fields.size() != 2 || Count(fields[1]) != static_cast<std::int64_t>(pending.size()) ||
                pending.empty()) {
                throw fail("COMMITTED の件数が直前の運行の行数と合いません");
            }
            journal.Committed.insert(journal.Committed.end(), pending.begin(), pending.end());
            pending.clear();
            continue;
        }
        if (fields[0] == kEnd) {
            if (fields.size() != 2 || fields[1].empty()) throw fail("END の行が読めません");
            journal.Outcome = fields[1];
            continue;
        }
        if (fields.size() != std::size(kColumns)) {
            throw fail("列が " + std::to_string(std::size(kColumns)) + " 個ではありません");
        }
        JournalEntry entry;
        const std::int64_t id = Count(fields[0]);
        if (id <= 0) throw fail("ID " + fields[0] + " が正の整数ではありません");
        entry.Id = id;
        entry.InputDate = fields[1];
        entry.DateBefore = fields[2];
        entry.DateAfter = fields[3];
        const auto before = correction::ParseStoredDate(entry.DateBefore);
        const auto after = correction::ParseStoredDate(entry.DateAfter);
        if (!before) throw fail("DateBefore " + entry.DateBefore + " が日付と時刻として読めません");
        if (!after) throw fail("DateAfter " + entry.DateAfter + " が日付と時刻として読めません");
        const int days = journal.Kind == JournalKind::Correction ? kRolloverDays : -kRolloverDays;
        if (*after != AddDays(*before, days) ||
            entry.DateBefore.substr(10) != entry.DateAfter.substr(10)) {
            throw fail("DateAfter " + entry.DateAfter + " が DateBefore " + entry.DateBefore +
                       " の 1024 週" + (days > 0 ? "後" : "前") + "ではありません");
        }
        for (std::size_t i = 0; i < entry.DependentRows.size(); ++i) {
            entry.DependentRows[i] = Count(fields[4 + i]);
            if (entry.DependentRows[i] < 0) {
                throw fail(std::string(kColumns[4 + i]) + " の行数 " + fields[4 + i] +
                           " が整数ではありません");
            }
        }
        if (!ids.insert(id).second) throw fail("ID " + fields[0] + " が2回あります");
        pending.push_back(entry);
    }
    if (lineNumber < headerLines) {
        ++lineNumber;
        throw fail(lineNumber == 1 ? "空のファイルです" : "見出しが途中で終わっています");
    }
    journal.Uncommitted = std::move(pending);
    return journal;
}

}  // namespace tovrik
