#pragma once

#include <QDateTimeEdit>

#include "common/date_time.h"

namespace tovrik {

// A month picker: shows and edits "yyyy/MM" with up-down arrows. Only year and month are
// meaningful; the rest of the value (day, time of day) is kept as set. Stepping the month past
// December or before January carries into the neighbouring year. The value is a plain calendar
// date-time: no time zone, so no daylight-saving gap can make it invalid.
class MonthEdit : public QDateTimeEdit {
    Q_OBJECT

public:
    explicit MonthEdit(QWidget* parent = nullptr);

    DateTime Value() const;
    // Values outside 1601/01/01 .. 9999/12/31 23:59:59 are clamped into that range.
    void SetValue(const DateTime& value);

    void stepBy(int steps) override;

protected:
    StepEnabled stepEnabled() const override;
    // Tab leaves the picker (as on Windows); the arrow keys move between year and month.
    bool focusNextPrevChild(bool next) override;

private:
    QDateTime Stepped(int steps) const;
};

// Conversions between the core's date-time and Qt's, without any time zone (Qt::UTC).
QDateTime ToQDateTime(const DateTime& value);
DateTime FromQDateTime(const QDateTime& value);

}  // namespace tovrik
