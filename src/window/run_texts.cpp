#include "window/run_texts.h"

namespace tovrik::run_texts {

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
