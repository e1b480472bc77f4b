#include "report.h"
#include "vberror.h"

#include <QApplication>
#include <QMessageBox>

namespace skyjog {

namespace {
ReportFn& reporter() {
    static ReportFn fn;
    return fn;
}
} // namespace

namespace err {
VbError invalidArgument() { return {InvalidArgument, QStringLiteral("Invalid procedure call or argument")}; }
VbError overflow() { return {Overflow, QStringLiteral("Overflow")}; }
VbError typeMismatch() { return {TypeMismatch, QStringLiteral("Type mismatch")}; }
} // namespace err

void setReporter(ReportFn fn) { reporter() = std::move(fn); }

void report(const QString& text, const QString& caption) {
    if (reporter()) {
        reporter()(text, caption);
        return;
    }
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        qWarning("%s: %s", qPrintable(caption), qPrintable(text));
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok);
    box.exec();
}

void reportError(const VbError& e) { report(e.text()); }

} // namespace skyjog
