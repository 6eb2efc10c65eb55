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
#include "cli/dry_run.h"
#include "cli/terminal_output.h"
#include "cli/terminal_view.h"
#include "common/build_info.h"
#include "correction/background_run.h"
#include "database/odbc.h"
#include "startup/startup_sequence.h"
#include "startup/system_services.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitRunFailed = 1;
constexpr int kExitStartupFailed = 2;
constexpr int kExitUsage = 64;
constexpr int kExitInterrupted = 130;

// The run's own error box, for failures of the dry run's selection.
constexpr const char* kRunErrorMessage = "処理中にエラーが発生しました。";
constexpr const char* kRunErrorCaption = "Nuvral日付修正";

volatile std::sig_atomic_t interruptRequested = 0;

// The first Ctrl+C stops the run: the statement in flight is cancelled and what was not
// committed is rolled back; a second one ends the program at once (the server then rolls back).
extern "C" void OnInterrupt(int signal) {
    interruptRequested = 1;
    std::signal(signal, SIG_DFL);
}

bool StandardErrorIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

int Run(const tovrik::cli::CliOptions& options) {
    tovrik::cli::TerminalView* activeView = nullptr;
    tovrik::StartState state;
    tovrik::cli::TerminalMessageBoxes boxes(
        std::cerr,
        [&activeView] {
            if (activeView != nullptr) activeView->FinishLine();
        },
        [&state] { return state.DbLogin.Password; });
    tovrik::SystemStartupServices system(boxes, {});

    switch (tovrik::Main(state, system.Services())) {
        case tovrik::StartupOutcome::Ready:
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
    tovrik::db::Connection& connection = *state.DbConnection;
    const tovrik::DateTime inputDate = options.From.ToDateTime();
    const tovrik::DateTime inputEnd = options.To.ToDateTime();

    if (options.DryRun) {
        tovrik::cli::DryRunPrinter printer(std::cout);
        try {
            tovrik::PlanCorrection(
                connection, inputDate, inputEnd,
                [&printer](const tovrik::PlannedOperation& operation) { printer.Add(operation); });
        } catch (const std::exception& error) {
            std::cout.flush();
            boxes.Show(std::string(kRunErrorMessage) + "\r\n" + error.what(), kRunErrorCaption,
                       tovrik::MessageIcon::Exclamation);
            connection.Close();
            return kExitRunFailed;
        }
        printer.PrintTotals();
        connection.Close();
        return kExitDone;
    }

    tovrik::cli::TerminalView view(std::cerr, StandardErrorIsTerminal());
    view.Interrupted = [] { return interruptRequested != 0; };
    activeView = &view;
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    const tovrik::RunResult result = tovrik::RunCorrectionInBackground(
        connection, view, boxes, system.SystemTime(), inputDate, inputEnd);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    view.FinishLine();
    activeView = nullptr;
    connection.Close();

    switch (result.Outcome) {
        case tovrik::RunOutcome::Corrected:
            std::cout << tovrik::cli::ToTerminalText(view.StatusText()) << '\n';
            return kExitDone;
        case tovrik::RunOutcome::NoData:
            std::cout << "修正が必要なデータはありません\n";
            return kExitDone;
        case tovrik::RunOutcome::Failed:
            return kExitRunFailed;
        case tovrik::RunOutcome::Abandoned:
            std::cerr
                << "tovrik-cli: 中断しました。終わった運行は修正済み、途中の運行は元のままです。\n";
            return kExitInterrupted;
    }
    return kExitRunFailed;
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
