#pragma once
// Small helpers the tests share: bytes written and shown as numbers, and the offscreen
// platform's warnings.
#include <QByteArray>
#include <QList>
#include <QString>
#include <initializer_list>

namespace skyjog::test {

// Bytes written as the protocol documents write them: bytes({80, 3, 16, 6, 3, 232, 0, 0}).
QByteArray bytes(std::initializer_list<int> values);
// Bytes in decimal, for readable failure messages: "80,3,16,6".
QString dec(const QByteArray& b, QChar separator = u',');
// Commands in decimal, one after the other: "84 0 | 80 2 16 37 0 0 0 0".
QString show(const QList<QByteArray>& commands);

// The offscreen platform cannot raise windows and says so each time; this keeps that warning
// out of the test's output from here on, passing every other message on.
void quietOffscreenWarnings();

} // namespace skyjog::test
