#include "gui/month_edit.h"

namespace tovrik {

namespace {

const QDateTime kMinimum(QDate(1601, 1, 1), QTime(0, 0), Qt::UTC);
const QDateTime kMaximum(QDate(9999, 12, 31), QTime(23, 59, 59, 999), Qt::UTC);

}  // namespace

QDateTime ToQDateTime(const DateTime& value) {
    return QDateTime(
        QDate(value.Year, value.Month, value.Day),
        QTime(value.Hour, value.Minute, value.Second, static_cast<int>(value.Fraction / 1'000'000)),
        Qt::UTC);
}

DateTime FromQDateTime(const QDateTime& value) {
    const QDate date = value.date();
    const QTime time = value.time();
    DateTime result;
    result.Year = date.year();
    result.Month = date.month();
    result.Day = date.day();
    result.Hour = time.hour();
    result.Minute = time.minute();
    result.Second = time.second();
    result.Fraction = static_cast<std::uint32_t>(time.msec()) * 1'000'000U;
    return result;
}

MonthEdit::MonthEdit(QWidget* parent) : QDateTimeEdit(parent) {
    setTimeSpec(Qt::UTC);
    setDateTimeRange(kMinimum, kMaximum);
    setDisplayFormat(QStringLiteral("yyyy/MM"));
    setCalendarPopup(false);
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setCurrentSection(QDateTimeEdit::MonthSection);
}

DateTime MonthEdit::Value() const { return FromQDateTime(dateTime()); }

void MonthEdit::SetValue(const DateTime& value) {
    QDateTime converted = ToQDateTime(value);
    if (!converted.isValid() || converted < kMinimum) converted = kMinimum;
    if (converted > kMaximum) converted = kMaximum;
    setDateTime(converted);
}

// Qt's own stepping changes one section within its bounds: December would not become January.
// Here the whole value moves by calendar months (or years), so the year follows the month.
QDateTime MonthEdit::Stepped(int steps) const {
    if (currentSection() == QDateTimeEdit::YearSection) return dateTime().addYears(steps);
    return dateTime().addMonths(steps);
}

void MonthEdit::stepBy(int steps) {
    const Section section = currentSection();
    QDateTime next = Stepped(steps);
    if (!next.isValid() || next < minimumDateTime() || next > maximumDateTime()) return;
    setDateTime(next);
    setSelectedSection(section);
}

QAbstractSpinBox::StepEnabled MonthEdit::stepEnabled() const {
    StepEnabled enabled = StepNone;
    if (isReadOnly()) return enabled;
    const QDateTime up = Stepped(1);
    const QDateTime down = Stepped(-1);
    if (up.isValid() && up <= maximumDateTime()) enabled |= StepUpEnabled;
    if (down.isValid() && down >= minimumDateTime()) enabled |= StepDownEnabled;
    return enabled;
}

bool MonthEdit::focusNextPrevChild(bool next) { return QWidget::focusNextPrevChild(next); }

}  // namespace tovrik
