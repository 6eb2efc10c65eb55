#pragma once

// The journal of a run: a UTF-8, tab-separated file per run (correction or undo) in the
// TovrikJournal folder of the settings folder, listing every operation moved, written to disk
// before the transaction that moves it commits and marked committed after. The format is
// described in docs/journal-format.md; the reader takes nothing else.

#include <array>
#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/date_time.h"
#include "platform/durable_file.h"

namespace tovrik {

// The folder name inside the settings folder.
inline constexpr char kJournalFolderName[] = "TovrikJournal";

// Who runs, where, and against which database: the journal's header. No password and no
// connection string.
struct JournalSetup {
    std::string Folder;      // the TovrikJournal folder (created when missing)
    std::string User;
    std::string Machine;
    std::string DataSource;  // the data source name, or the host of a direct connection
    std::string Database;    // the database name; may be empty
};

enum class JournalKind { Correction, Undo };

// One operation moved: its dates as stored before and after the move (SQLite's own text, or the
// ISO form "yyyy-mm-dd hh:mm:ss[.f...]") and its dependent rows moved along.
struct JournalEntry {
    std::int64_t Id = 0;
    std::string InputDate;
    std::string DateBefore;
    std::string DateAfter;
    std::array<std::int64_t, 3> DependentRows{};  // DriversTime, EventLog, OpData

    bool operator==(const JournalEntry&) const = default;
};

// A journal file that cannot be written or read; what() names the file (and the line).
class JournalError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class JournalWriter {
public:
    // Creates the folder when missing and a new file named after `start` ("20261207-091512.tsv",
    // "-2" and so on when taken), and writes the header, which is on the disk when the first Sync
    // returns. `range` is the month range ("2019/04\t2019/06") of a correction, the journal
    // undone of an undo.
    JournalWriter(const JournalSetup& setup, JournalKind kind, const DateTime& start,
                  const std::string& range);
    ~JournalWriter();

    // Writes one line per operation moved in the open transaction.
    void Add(const std::vector<JournalEntry>& entries);
    // Right before the commit: every line written so far is on the disk when this returns.
    void Sync();
    // After the commit: marks every line since the last mark committed (nothing when none). The
    // mark survives a crash of the program at once, one of the machine from the next Sync (or
    // End) on: until then a lost mark leaves those lines looking uncommitted, never the reverse.
    // A mark that cannot be written throws JournalError saying that those operations are moved
    // (corrected or undone) all the same.
    void MarkCommitted();
    // The run's last line, on the disk: "completed", "failed" or "interrupted".
    void End(const std::string& outcome);

    const std::string& Path() const;
    int Uncommitted() const { return uncommitted_; }

private:
    void Write(const std::vector<std::vector<std::string>>& lines, bool sync);
    void SyncFile();
    JournalKind kind_;
    std::unique_ptr<DurableFile> file_;
    // The header's way to the disk (a new file's first sync waits longest), begun at the creation
    // so that it overlaps the first chunk's statements; every sync waits for it first. After
    // file_: it ends first.
    std::future<void> headerSync_;
    int uncommitted_ = 0;
};

// What a journal file says.
struct Journal {
    JournalKind Kind = JournalKind::Correction;
    std::string Start, User, Machine, DataSource, Database;
    std::vector<std::string> Range;
    std::vector<JournalEntry> Committed;    // in file order
    std::vector<JournalEntry> Uncommitted;  // lines of a transaction that did not commit
    std::string Outcome;                    // the END line's, or empty when the run never ended
    // The number of a last line cut short (the run stopped while writing it), or 0. Such a line
    // is not read: it can only be a line of a transaction that never committed, or a mark or an
    // END line whose loss hides nothing that an undo could take back.
    std::size_t CutOffLine = 0;
};

// Reads a journal. Throws JournalError naming the file and the line when it is not a journal
// this program wrote, was edited, or was cut short within its header.
Journal ReadJournal(const std::string& path);

// Text made safe for one field of a journal line: tabs, line breaks and other control characters
// become blanks.
std::string JournalField(const std::string& text);

// The text of a date-time (as ParseStoredDate reads it) moved by `days`: the date part moved,
// the time text kept exactly as it is. Empty when the text is no date-time.
std::string ShiftedDateText(const std::string& text, int days);

}  // namespace tovrik
