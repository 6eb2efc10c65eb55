#include "cli/cli_arguments.h"

#include <algorithm>
#include <cctype>

namespace tovrik::cli {

namespace {

constexpr int kFirstYear = 1900;
// The month after the later month must still be a valid date: 9998/12 is the last month.
constexpr int kLastYear = 9998;

bool AllDigits(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) return false;
    }
    return true;
}

int ToNumber(std::string_view digits) {
    int value = 0;
    for (const char c : digits) value = value * 10 + (c - '0');
    return value;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// Linux installations carry manual pages; Windows ones do not.
#ifdef _WIN32
constexpr const char* kManualPageLine = "";
#else
constexpr const char* kManualPageLine =
    "\n詳しい説明 (設定ファイル、環境変数、例): man tovrik-cli\n";
#endif

}  // namespace

DateTime YearMonth::ToDateTime() const {
    DateTime value;
    value.Year = Year;
    value.Month = Month;
    value.Day = 1;
    return value;
}

std::optional<YearMonth> ParseYearMonth(std::string_view text) {
    const auto slash = text.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    const std::string_view year = text.substr(0, slash);
    const std::string_view month = text.substr(slash + 1);
    if (year.size() != 4 || !AllDigits(year)) return std::nullopt;
    if (month.empty() || month.size() > 2 || !AllDigits(month)) return std::nullopt;
    YearMonth value{ToNumber(year), ToNumber(month)};
    if (value.Year < kFirstYear || value.Year > kLastYear) return std::nullopt;
    if (value.Month < 1 || value.Month > 12) return std::nullopt;
    return value;
}

ParsedArguments ParseArguments(const std::vector<std::string>& arguments) {
    for (const auto& argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            CliOptions help;
            help.Help = true;
            return {help, ""};
        }
    }

    CliOptions options;
    std::optional<YearMonth> from;
    std::optional<YearMonth> to;
    auto fail = [](const std::string& why) {
        return ParsedArguments{std::nullopt, why + " " + UsageLine()};
    };

    if (std::find(arguments.begin(), arguments.end(), "--version") != arguments.end()) {
        if (arguments.size() > 1) return fail("--version は他の引数と一緒に指定できません。");
        CliOptions version;
        version.Version = true;
        return {version, ""};
    }

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::optional<std::string> value;
        if (const auto equals = name.find('='); name.rfind("--", 0) == 0 && equals != name.npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        }
        if (name == "--dry-run" || name == "--scan" || name == "--other-data-source") {
            bool& flag = name == "--dry-run" ? options.DryRun
                         : name == "--scan"  ? options.Scan
                                             : options.OtherDataSource;
            if (value) return fail(name + " は値を取りません。");
            if (flag) return fail(name + " が2回指定されています。");
            flag = true;
            continue;
        }
        if (name == "--undo") {
            if (!options.UndoJournal.empty()) return fail("--undo が2回指定されています。");
            if (!value) {
                if (i + 1 >= arguments.size()) return fail("--undo の作業記録ファイルがありません。");
                value = arguments[++i];
            }
            if (value->empty()) return fail("--undo の作業記録ファイルがありません。");
            options.UndoJournal = *value;
            continue;
        }
        if (name != "--from" && name != "--to") {
            return fail("不明な引数 " + Quoted(arguments[i]) + " があります。");
        }
        std::optional<YearMonth>& target = name == "--from" ? from : to;
        if (target) return fail(name + " が2回指定されています。");
        if (!value) {
            if (i + 1 >= arguments.size()) return fail(name + " の月がありません。");
            value = arguments[++i];
        }
        target = ParseYearMonth(*value);
        if (!target) {
            return fail(name + " の値 " + Quoted(*value) +
                        " は YYYY/MM の形の月 (1900/01〜9998/12) ではありません。");
        }
    }
    const bool undo = !options.UndoJournal.empty();
    if (options.OtherDataSource && !undo) return fail("--other-data-source は --undo と使います。");
    if (undo) {
        if (options.Scan) return fail("--scan と --undo は一緒に使えません。");
        if (from || to) return fail("--undo は --from と --to を取りません。");
        options.HasRange = false;
        return {options, ""};
    }
    if (options.Scan) {
        if (options.DryRun) return fail("--scan はデータベースを変更しません (--dry-run は不要です)。");
        if (!from && !to) {
            options.HasRange = false;
            return {options, ""};
        }
    }
    if (!from) return fail("--from の月がありません。");
    if (!to) return fail("--to の月がありません。");
    options.From = *from;
    options.To = *to;
    return {options, ""};
}

std::string UsageLine() { return "使い方: tovrik-cli --from YYYY/MM --to YYYY/MM [--dry-run]"; }

std::string HelpText() {
    return UsageLine() + "\n" +
           "        tovrik-cli --scan [--from YYYY/MM --to YYYY/MM]\n"
           "        tovrik-cli --undo 作業記録.tsv [--dry-run] [--other-data-source]\n"
           "\n"
           "InputDate が2つの月の範囲 (順序は問いません。同じ月ならその月だけ) にあり、Date が\n"
           "2008/01/01 より前の運行を選び、その運行と DriversTime・EventLog・OpData の行の日時を\n"
           "1024週 (7168日) 後へ移します。設定・ログイン・接続はウィンドウ版 tovrik と同じです。\n"
           "\n"
           "  --from YYYY/MM   範囲の一方の月\n"
           "  --to YYYY/MM     範囲のもう一方の月\n"
           "  --dry-run        データベースを変更せず、修正される運行と行数を表示します\n"
           "  --scan           2008/01/01 より前の運行を持つ入力月を一覧にします (変更なし)\n"
           "  --undo FILE      作業記録 (設定フォルダーの TovrikJournal) の確定した運行を\n"
           "                   1024週前へ戻します。修正後に変わった運行は戻さずに一覧にします\n"
           "  --other-data-source  別のデータソースの作業記録でも戻します\n"
           "  --help           この説明を表示します\n"
           "  --version        バージョンとビルド日を表示します\n"
           "\n"
           "終了コード: 0 完了 (修正対象なしを含む)、1 処理中のエラー、\n"
           "            2 起動の失敗 (設定の書込み権限、接続、別のコピーが実行中)、\n"
           "            64 引数の誤り、130 中断 (Ctrl+C)\n" +
           kManualPageLine;
}

}  // namespace tovrik::cli
