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

double textToDouble(const QString& text, const QLocale& locale) {
    const QString t = text.trimmed();
    if (t.isEmpty()) throw err::typeMismatch();
    bool ok = false;
    double v = locale.toDouble(t, &ok);
    if (!ok) v = QLocale::c().toDouble(t, &ok);
    if (!ok || !std::isfinite(v)) throw err::typeMismatch();
    return v;
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
    if (!ok || !std::isfinite(v)) {
        // Only an exponent can push a run of digits out of range; keep the sign's direction.
        if (num.contains(u'e')) throw err::overflow();
        return 0.0;
    }
    return v;
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
