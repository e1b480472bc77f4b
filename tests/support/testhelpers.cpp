#include "testhelpers.h"

#include <QStringList>
#include <QtGlobal>

namespace skyjog::test {

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out += char(uint8_t(v));
    return out;
}

QString dec(const QByteArray& b, QChar separator) {
    QStringList parts;
    for (char c : b)
        parts << QString::number(uint8_t(c));
    return parts.join(separator);
}

QString show(const QList<QByteArray>& commands) {
    QStringList lines;
    for (const QByteArray& c : commands)
        lines << dec(c, u' ');
    return lines.join(QStringLiteral(" | "));
}

void quietOffscreenWarnings() {
    static QtMessageHandler previous = nullptr;
    if (previous) return;
    previous =
        qInstallMessageHandler([](QtMsgType t, const QMessageLogContext& c, const QString& m) {
            if (m.contains(QLatin1String("does not support raise()"))) return;
            previous(t, c, m);
        });
}

} // namespace skyjog::test
