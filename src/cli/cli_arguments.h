#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/date_time.h"

namespace tovrik::cli {

// One month as the two pickers hold it: only year and month count.
struct YearMonth {
    int Year = 0;
    int Month = 0;

    bool operator==(const YearMonth&) const = default;
    // The first day of the month at 00:00:00, as a picker value.
    DateTime ToDateTime() const;
};

// What the command line asks for.
struct CliOptions {
    bool Help = false;
    bool Version = false;
    bool DryRun = false;
    YearMonth From;
    YearMonth To;
    // --scan: list the input months holding operations dated before 2008 (within From/To when
    // HasRange), change nothing.
    bool Scan = false;
    bool HasRange = true;
    // --undo JOURNAL: take back what the journal's run committed.
    std::string UndoJournal;
    // --other-data-source: the operator confirms undoing a journal of another data source.
    bool OtherDataSource = false;
};

// The options, or the one-line explanation of why the arguments are unusable.
struct ParsedArguments {
    std::optional<CliOptions> Options;
    std::string Error;
};

// "YYYY/MM" or "YYYY/M" with a year from 1900 to 9998 and a month from 1 to 12; nothing else.
std::optional<YearMonth> ParseYearMonth(std::string_view text);

// Parses the arguments after the program name: "--from M --to M [--dry-run]",
// "--scan [--from M --to M]", "--undo JOURNAL [--dry-run] [--other-data-source]", "--help" or
// "--version", each value either as the next argument or after "=". "--help" wins over everything
// else; "--version" stands alone (with a run's arguments it is an error, not a run reported done).
ParsedArguments ParseArguments(const std::vector<std::string>& arguments);

// "使い方: tovrik-cli --from YYYY/MM --to YYYY/MM [--dry-run]"
std::string UsageLine();
// The text printed by --help.
std::string HelpText();

}  // namespace tovrik::cli
