#include "report.h"
#include "vberror.h"

#include <QtGlobal>
#include <utility>

namespace skyjog {

namespace {
ReportFn& reporter() {
    static ReportFn fn;
    return fn;
}
int noWaitDepth = 0;
AskFn& asker() {
    static AskFn fn;
    return fn;
}
int toStandardErrorDepth = 0;
} // namespace

void setAsker(AskFn fn) { asker() = std::move(fn); }

bool ask(const QString& text, const QString& caption) {
    if (asker() && toStandardErrorDepth == 0) return asker()(text, caption);
    qWarning("%s: %s (yes)", qPrintable(caption), qPrintable(text));
    return true;
}

void setReporter(ReportFn fn) { reporter() = std::move(fn); }

void report(const QString& text, const QString& caption) {
    if (reporter()) {
        reporter()(text, caption);
        return;
    }
    qWarning("%s: %s", qPrintable(caption), qPrintable(text));
}

void reportError(const VbError& e) { report(e.text()); }

BoxesDoNotWait::BoxesDoNotWait() { ++noWaitDepth; }
BoxesDoNotWait::~BoxesDoNotWait() { --noWaitDepth; }
bool boxesWait() { return noWaitDepth == 0; }

ReportsToStandardError::ReportsToStandardError() : saved_(std::exchange(reporter(), {})) {
    ++toStandardErrorDepth;
}
ReportsToStandardError::~ReportsToStandardError() {
    --toStandardErrorDepth;
    reporter() = std::move(saved_);
}

} // namespace skyjog
