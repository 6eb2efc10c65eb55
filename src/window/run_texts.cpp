#include "window/run_texts.h"

namespace tovrik::run_texts {

std::string MonthText(const MonthScan& scan) {
    if (!scan.YearMonth) return "入力月不明";
    const int month = *scan.YearMonth % 100;
    return std::to_string(*scan.YearMonth / 100) + "/" + (month < 10 ? "0" : "") +
           std::to_string(month);
}

std::string MonthsHint(const std::vector<MonthScan>& months) {
    if (months.empty()) return kNothingToCorrect;
    std::int64_t operations = 0;
    std::int64_t unreadable = 0;
    std::vector<const MonthScan*> readable;
    for (const MonthScan& scan : months) {
        operations += scan.Operations;
        if (scan.YearMonth) {
            readable.push_back(&scan);
        } else {
            unreadable += scan.Operations;
        }
    }
    std::string text = "修正が必要な運行: " + std::to_string(operations) + "件";
    if (readable.size() == 1) {
        text += "\r\n読込年月 " + MonthText(*readable.front());
    } else if (readable.size() > 1) {
        text += "\r\n読込年月 " + MonthText(*readable.front()) + "〜" + MonthText(*readable.back()) +
                " (" + std::to_string(readable.size()) + "か月)";
    }
    if (unreadable > 0) text += "\r\n読込年月が読めない運行: " + std::to_string(unreadable) + "件";
    return text;
}

std::string Progress(int done, int total) {
    return std::to_string(done) + "/" + std::to_string(total);
}

std::string Finished(int operations) { return std::to_string(operations) + "件の修正が終了しました"; }

std::string Report(const RunResult& result) {
    return Finished(result.Operations) + "\r\n開始：" + FormatDateTime(result.Started) +
           "\r\n終了：" + FormatDateTime(result.Ended);
}

std::string ErrorBox(const std::string& description) {
    return "処理中にエラーが発生しました。\r\n" + description;
}

}  // namespace tovrik::run_texts
