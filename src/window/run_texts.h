#pragma once

// What the front ends show of a correction run, in the suite's own words: the status label's
// texts, the final report and the error box.

#include <string>
#include <vector>

#include "correction/correction_run.h"
#include "correction/month_scan.h"

namespace tovrik::run_texts {

inline constexpr char kCaption[] = "Nuvral日付修正";
inline constexpr char kCounting[] = "件数確認中";
inline constexpr char kNoData[] = "修正が必要なデータはありません";

// The scan's line when no operation is dated before 2008.
inline constexpr char kNothingToCorrect[] = "2008/01/01 より前の運行はありません";

// "2019/04" for a scanned month; "入力月不明" for the operations whose InputDate is no date.
std::string MonthText(const MonthScan& scan);
// What the scan found, in at most three lines for Label2 ("\r\n" between them):
// "修正が必要な運行: 16件", "読込年月 2019/04〜2019/05 (2か月)" and, when some InputDates cannot
// be read, "読込年月が読めない運行: 2件"; or kNothingToCorrect.
std::string MonthsHint(const std::vector<MonthScan>& months);

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
