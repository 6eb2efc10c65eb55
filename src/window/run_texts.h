#pragma once

// What the front ends show of a correction run, in the suite's own words: the status label's
// texts, the final report and the error box.

#include <string>

#include "correction/correction_run.h"

namespace tovrik::run_texts {

inline constexpr char kCaption[] = "Nuvral日付修正";
inline constexpr char kCounting[] = "件数確認中";
inline constexpr char kNoData[] = "修正が必要なデータはありません";

// "12/40": operations done of those selected.
std::string Progress(int done, int total);
// "12件の修正が終了しました".
std::string Finished(int operations);
// The three-line report of a corrected run: Finished, then "開始：" and "終了：" with the run's
// start and end; line breaks are "\r\n".
std::string Report(const RunResult& result);
// The error box's text around a failure's description.
std::string ErrorBox(const std::string& description);

}  // namespace tovrik::run_texts
