#pragma once
// Number conversions with the program's rules: rounding half to even, overflow is a failure,
// typed numbers in the user's regional format, stored numbers always with a period.
#include <QLocale>
#include <QString>
#include <cstdint>

namespace skyjog::conv {

// Nearest integer, halves to the even neighbour; throws VbError 6 outside the type's range.
int16_t toInt16(double v);
int32_t toInt32(double v);

// A whole text read as a number in the given locale (the C locale's form is accepted too);
// throws VbError 13 when it is not a number, 6 when it is one beyond the double range ("1e400",
// or 400 nines). A number too small for a double reads as 0.
double textToDouble(const QString& text, const QLocale& locale = QLocale());
// textToDouble, then toInt16.
int16_t textToInt16(const QString& text, const QLocale& locale = QLocale());

// The number at the start of a text: leading blanks skipped, then an optional sign, digits, a
// period and more digits, an optional exponent; reading stops at the first character that
// cannot continue the number. A text without a leading number gives 0. Beyond the double range
// it throws VbError 6; a number too small for a double gives 0.
double leadingNumber(const QString& text);

// The shortest form that reads back to the same value, with a period, no zero before it
// (".5", "-.25") and no period for whole numbers ("0", "2").
QString formatShortest(double v);
// The same value in the locale's notation (no group separators), for display in boxes.
QString formatShortestLocale(double v, const QLocale& locale = QLocale());

} // namespace skyjog::conv
