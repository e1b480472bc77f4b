#include "convert.h"
#include "vberror.h"

#include <cfenv>
#include <cmath>
#include <limits>

namespace skyjog::conv {

namespace {
double roundHalfEven(double v) {
    // nearbyint honours the current rounding mode, which is round-to-nearest-even by default.
    return std::nearbyint(v);
}

template <typename T> T toInt(double v) {
    if (std::isnan(v)) throw err::overflow();
    const double r = roundHalfEven(v);
    if (r < double(std::numeric_limits<T>::min()) || r > double(std::numeric_limits<T>::max()))
        throw err::overflow();
    return static_cast<T>(r);
}
} // namespace

int16_t toInt16(double v) { return toInt<int16_t>(v); }
int32_t toInt32(double v) { return toInt<int32_t>(v); }

namespace {
// The text with every digit made a zero, in the locale's own zero digit.
QString zeroedDigits(const QString& text, const QLocale& locale) {
    const QString zero = locale.zeroDigit();
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.digitValue() > 0) out += zero;
        else out += c;
    }
    return out;
}
} // namespace

double textToDouble(const QString& text, const QLocale& locale) {
    const QString t = text.trimmed();
    if (t.isEmpty()) throw err::typeMismatch();
    // Qt answers a number beyond the double range with an infinity, and both a number too small
    // to tell from 0 and a text that is no number at all with 0.
    for (const QLocale& l : {locale, QLocale::c()}) {
        bool ok = false;
        const double v = l.toDouble(t, &ok);
        if (ok) {
            // "inf" and "nan" read, but they are no value a box can stand for.
            if (!std::isfinite(v)) throw err::typeMismatch();
            return v;
        }
        if (std::isinf(v)) throw err::overflow();
    }
    // A text that reads once its digits are all zeros has a number's form, so only its size
    // failed, and that below the smallest double: it is 0.
    for (const QLocale& l : {locale, QLocale::c()}) {
        bool ok = false;
        (void)l.toDouble(zeroedDigits(t, l), &ok);
        if (ok) return 0.0;
    }
    throw err::typeMismatch();
}

int16_t textToInt16(const QString& text, const QLocale& locale) {
    return toInt16(textToDouble(text, locale));
}

double leadingNumber(const QString& text) {
    int i = 0;
    const int n = int(text.size());
    while (i < n && (text[i] == u' ' || text[i] == u'\t')) ++i;
    QString num;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) num += text[i++];
    bool digits = false;
    while (i < n && text[i].isDigit() && text[i].unicode() < 128) { num += text[i++]; digits = true; }
    if (i < n && text[i] == u'.') {
        num += text[i++];
        while (i < n && text[i].isDigit() && text[i].unicode() < 128) { num += text[i++]; digits = true; }
    }
    if (!digits) return 0.0;
    if (i < n && (text[i] == u'e' || text[i] == u'E' || text[i] == u'd' || text[i] == u'D')) {
        QString exp = QStringLiteral("e");
        int j = i + 1;
        if (j < n && (text[j] == u'+' || text[j] == u'-')) exp += text[j++];
        bool expDigits = false;
        while (j < n && text[j].isDigit() && text[j].unicode() < 128) { exp += text[j++]; expDigits = true; }
        if (expDigits) num += exp;
    }
    bool ok = false;
    const double v = QLocale::c().toDouble(num, &ok);
    if (ok) return v;
    // num has a number's form by construction, so only its size can have failed: an infinity
    // is beyond the double range, 0 below its smallest value.
    if (std::isinf(v)) throw err::overflow();
    return 0.0;
}

namespace {
char shortestFormat(double v) {
    const double a = std::fabs(v);
    return (a == 0.0 || (a >= 1e-5 && a < 1e15)) ? 'f' : 'g';
}
} // namespace

QString formatShortest(double v) {
    QString s = QLocale::c().toString(v, shortestFormat(v), QLocale::FloatingPointShortest);
    s.replace(QStringLiteral("e+"), QStringLiteral("E+")).replace(QStringLiteral("e-"), QStringLiteral("E-"));
    if (s.startsWith(QStringLiteral("0."))) s.remove(0, 1);
    else if (s.startsWith(QStringLiteral("-0."))) s.remove(1, 1);
    return s;
}

QString formatShortestLocale(double v, const QLocale& locale) {
    QLocale l = locale;
    l.setNumberOptions(QLocale::OmitGroupSeparator);
    return l.toString(v, shortestFormat(v), QLocale::FloatingPointShortest);
}

} // namespace skyjog::conv
