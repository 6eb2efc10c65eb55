// tovrik-cli: the correction run from a command line, with the window's start-up, settings and
// guard against a second copy. Exit status: 0 done, 1 run failed, 2 start-up failed, 64 bad
// arguments, 130 interrupted.

#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "cli/cli_arguments.h"
#include "cli/command_outcome.h"
#include "cli/dry_run.h"
#include "cli/journal_output.h"
#include "cli/terminal_output.h"
#include "cli/terminal_view.h"
#include "common/build_info.h"
#include "correction/background_run.h"
#include "correction/month_scan.h"
#include "correction/undo_run.h"
#include "database/odbc.h"
#include "startup/journal_setup.h"
#include "startup/startup_sequence.h"
#include "startup/system_services.h"
#include "window/run_texts.h"

namespace {

using tovrik::cli::kExitDone;
using tovrik::cli::kExitInterrupted;
using tovrik::cli::kExitRunFailed;
using tovrik::cli::kExitStartupFailed;
using tovrik::cli::kExitUsage;
using tovrik::cli::ShowRunError;

volatile std::sig_atomic_t interruptRequested = 0;

// The first Ctrl+C stops the run: the statement in flight is cancelled and what was not
// committed is rolled back; a second one ends the program at once (the server then rolls back).
extern "C" void OnInterrupt(int signal) {
    interruptRequested = 1;
    std::signal(signal, SIG_DFL);
}

// Runs `work` with Ctrl+C and SIGTERM going to OnInterrupt, and their defaults back after it.
template <typename Work>
auto Interruptible(Work work) {
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    struct Restore {
        ~Restore() {
            std::signal(SIGINT, SIG_DFL);
            std::signal(SIGTERM, SIG_DFL);
        }
    } restore;
    return work();
}

bool StandardErrorIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

// What every command gets: the options, the start-up's state with its open connection, the
// clock and the boxes.
struct Command {
    const tovrik::cli::CliOptions& Options;
    const tovrik::StartState& State;
    tovrik::db::Connection& Connection;
    const tovrik::Clock& Clock;
    tovrik::MessageBoxes& Boxes;
};

// Ctrl+C for a job that asks between its steps.
class InterruptEvents final : public tovrik::RunEvents {
public:
    bool GoOn() override { return interruptRequested == 0; }
};

int ScanCommand(const Command& command) {
    std::vector<tovrik::MonthScan> months;
    try {
        if (command.Options.HasRange) {
            months = tovrik::ScanAffectedMonths(command.Connection,
                                                command.Options.From.ToDateTime(),
                                                command.Options.To.ToDateTime());
        } else {
            months = tovrik::ScanAffectedMonths(command.Connection);
        }
    } catch (const std::exception& error) {
        return ShowRunError(command.Boxes, std::cout, error.what());
    }
    tovrik::cli::PrintScan(std::cout, months);
    return kExitDone;
}

int DryRunCommand(const Command& command) {
    tovrik::cli::DryRunPrinter printer(std::cout);
    try {
        tovrik::PlanCorrection(
            command.Connection, command.Options.From.ToDateTime(), command.Options.To.ToDateTime(),
            [&printer](const tovrik::PlannedOperation& operation) { printer.Add(operation); });
    } catch (const std::exception& error) {
        return ShowRunError(command.Boxes, std::cout, error.what());
    }
    printer.PrintTotals();
    return kExitDone;
}

// " (データベース NAME)" after a data source, or nothing.
std::string DatabaseSuffix(const std::string& database) {
    return database.empty() ? "" : " (データベース " + database + ")";
}

int UndoCommand(const Command& command) {
#ifdef _WIN32
    // The arguments of main come in the ANSI code page; every path in the core is UTF-8.
    const std::string journalPath = tovrik::AnsiToUtf8(command.Options.UndoJournal);
#else
    const std::string& journalPath = command.Options.UndoJournal;
#endif
    tovrik::Journal journal;
    try {
        journal = tovrik::ReadJournal(journalPath);
    } catch (const tovrik::JournalError& error) {
        std::cerr << "tovrik-cli: " << error.what() << '\n';
        return kExitRunFailed;
    }
    const std::optional<tovrik::JournalSetup> setup = tovrik::JournalSetupOf(command.State);
    if (!setup) return ShowRunError(command.Boxes, std::cout, "設定フォルダーがありません");
    switch (tovrik::CheckUndoJournal(journal, *setup, command.Options.OtherDataSource)) {
        case tovrik::UndoRefusal::None:
            break;
        case tovrik::UndoRefusal::NotACorrection:
            std::cerr << "tovrik-cli: " << journalPath
                      << " は元に戻した記録です。戻せるのは修正の作業記録だけです。何も変更していません。\n";
            return kExitRunFailed;
        case tovrik::UndoRefusal::OtherDataSource:
            std::cerr << "tovrik-cli: 作業記録はデータソース " << journal.DataSource
                      << DatabaseSuffix(journal.Database) << " のものです。今の接続先は "
                      << setup->DataSource << DatabaseSuffix(setup->Database)
                      << " です。それでも戻すときは --other-data-source を付けてください。"
                         "何も変更していません。\n";
            return kExitRunFailed;
    }
    if (journal.CutOffLine != 0) {
        std::cerr << "tovrik-cli: 作業記録の " << journal.CutOffLine
                  << " 行目 (最後の行) は途中で切れています (書いている途中で止まった実行の跡)。"
                     "その行は読まず、その運行は戻しません。\n";
    }
    if (!journal.Uncommitted.empty()) {
        std::cerr << "tovrik-cli: 作業記録の最後の " << journal.Uncommitted.size()
                  << " 行には確定の印がありません (中断された修正)。"
                     "データベースで移動済みと確かめた運行だけを戻します。\n";
    }
    if (journal.Committed.empty() && journal.Uncommitted.empty()) {
        std::cout << "作業記録に確定した運行はありません。何も変更していません。\n";
        return kExitDone;
    }

    if (command.Options.DryRun) {
        tovrik::UndoReport plan;
        try {
            plan = tovrik::PlanUndo(command.Connection, journal, [](const tovrik::UndoItem& item) {
                tovrik::cli::PrintUndoItem(std::cout, item, true);
            });
        } catch (const std::exception& error) {
            return ShowRunError(command.Boxes, std::cout, error.what());
        }
        tovrik::cli::PrintUndoTotals(std::cout, "戻す運行: ", plan);
        std::cout << "ドライラン: データベースは変更していません\n";
        return kExitDone;
    }
    return tovrik::cli::RunAndReportUndo(
        [&] {
            return Interruptible([&] {
                InterruptEvents events;
                return tovrik::RunUndo(command.Connection, journal, journalPath, *setup,
                                       command.Clock.Now(), events,
                                       [](const tovrik::UndoItem& item) {
                                           tovrik::cli::PrintUndoItem(std::cout, item, false);
                                       });
            });
        },
        [] { return interruptRequested != 0; }, std::cout, std::cerr, command.Boxes);
}

int RunCommand(const Command& command) {
    tovrik::cli::TerminalView view(std::cerr, StandardErrorIsTerminal());
    view.Interrupted = [] { return interruptRequested != 0; };
    const std::optional<tovrik::JournalSetup> journal = tovrik::JournalSetupOf(command.State);
    tovrik::RunResult result;
    Interruptible([&] {
        tovrik::RunInBackground(command.Connection, view, [&](tovrik::RunEvents& events) {
            result = tovrik::RunCorrection(command.Connection, events, command.Clock,
                                           command.Options.From.ToDateTime(),
                                           command.Options.To.ToDateTime(), {},
                                           journal ? &*journal : nullptr);
        });
    });
    view.FinishLine();
    int status = kExitDone;
    if (result.Outcome == tovrik::RunOutcome::Failed) {
        status = ShowRunError(command.Boxes, std::cout, result.Error.Text);
    }
    if (!result.JournalPath.empty()) {
        std::cerr << "tovrik-cli: 作業記録 " << result.JournalPath << '\n';
    }
    switch (result.Outcome) {
        case tovrik::RunOutcome::Corrected:
            std::cout << tovrik::cli::ToTerminalText(tovrik::run_texts::Report(result)) << '\n';
            break;
        case tovrik::RunOutcome::NoData:
            std::cout << tovrik::run_texts::kNoData << '\n';
            break;
        case tovrik::RunOutcome::Failed:
            break;
        case tovrik::RunOutcome::Abandoned:
            std::cerr
                << "tovrik-cli: 中断しました。終わった運行は修正済み、途中の運行は元のままです。\n";
            status = kExitInterrupted;
            break;
    }
    return status;
}

int Run(const tovrik::cli::CliOptions& options) {
    tovrik::StartState state;
    tovrik::cli::TerminalMessageBoxes boxes(std::cerr,
                                            [&state] { return state.DbLogin.Password; });
    tovrik::SystemStartupServices system(boxes, {});

    switch (tovrik::Main(state, system.Services())) {
        case tovrik::StartupOutcome::Ready:
            if (!state.ConnectionNote.empty()) {
                std::cerr << "tovrik-cli: " << state.ConnectionNote << '\n';
            }
            break;
        case tovrik::StartupOutcome::PreviousInstance:
            // The window ends silently here; a script needs to know why nothing happened.
            std::cerr << "tovrik-cli: Tovrik (ウィンドウ版またはコマンドライン版) "
                         "が既に実行中のため終了します。\n";
            return kExitStartupFailed;
        default:
            // After the box's text, which stays the suite's: the path involved and why.
            if (!state.FailureDetail.empty()) {
                std::cerr << "tovrik-cli: "
                          << tovrik::cli::MaskSecrets(state.FailureDetail, state.DbLogin.Password)
                          << '\n';
            }
            return kExitStartupFailed;
    }
    struct CloseOnExit {
        tovrik::db::Connection& Connection;
        ~CloseOnExit() { Connection.Close(); }
    } closeOnExit{*state.DbConnection};
    const Command command{options, state, *state.DbConnection, system.SystemTime(), boxes};
    if (options.Scan) return ScanCommand(command);
    if (!options.UndoJournal.empty()) return UndoCommand(command);
    if (options.DryRun) return DryRunCommand(command);
    return RunCommand(command);
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    SetConsoleOutputCP(CP_UTF8);
#endif
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const auto parsed = tovrik::cli::ParseArguments(arguments);
    if (!parsed.Options) {
        std::cerr << "tovrik-cli: " << parsed.Error << '\n';
        return kExitUsage;
    }
    if (parsed.Options->Help) {
        std::cout << tovrik::cli::HelpText();
        return kExitDone;
    }
    if (parsed.Options->Version) {
        std::cout << tovrik::VersionText("tovrik-cli");
        return kExitDone;
    }
    int status = kExitRunFailed;
    try {
        status = Run(*parsed.Options);
    } catch (const std::exception& error) {
        std::cerr << "tovrik-cli: " << tovrik::cli::MaskSecrets(error.what(), "") << '\n';
    }
    std::cout.flush();
    return status;
}
