// Skyjog: a second hand pad for a Celestron GoTo mount.
#include "appidentity.h"
#include "commandline.h"
#include "interface.h"
#include "laststops.h"
#include "messagebox.h"
#include "mountsim.h"
#include "report.h"
#include "signalend.h"

#include <QApplication>
#include <QStyleFactory>
#include <cstdio>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <timeapi.h> // after windows.h, which it needs
#endif

namespace {

#ifdef Q_OS_WIN
// The serial polling pauses a millisecond or so at a time, and Windows rounds every pause up to
// its timer period: 15.6 ms unless some program asks for a finer one. Skyjog asks for 1 ms for
// as long as it runs, before the window works out its polling pause.
class FineTimerPeriod {
public:
    FineTimerPeriod() : granted_(timeBeginPeriod(1) == TIMERR_NOERROR) {}
    ~FineTimerPeriod() {
        if (granted_) timeEndPeriod(1);
    }
    FineTimerPeriod(const FineTimerPeriod&) = delete;
    FineTimerPeriod& operator=(const FineTimerPeriod&) = delete;

private:
    bool granted_;
};
#endif

} // namespace

int main(int argc, char** argv) {
#ifdef Q_OS_WIN
    const FineTimerPeriod timerPeriod;
#endif
    QApplication app(argc, argv);
    skyjog::setApplicationIdentity();
    const skyjog::CommandLine args = skyjog::parseCommandLine(QCoreApplication::arguments().mid(1));
    if (args.help || !args.error.isEmpty()) {
        if (!args.error.isEmpty()) std::fprintf(stderr, "skyjog: %s\n", qPrintable(args.error));
        std::fputs(qPrintable(skyjog::usageText()), args.help ? stdout : stderr);
        return args.help ? 0 : 2;
    }
    // One style everywhere, so the small fixed layout looks and fits the same on every desktop.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    // The port text "sim" reaches the simulated mount built into the program.
    skyjog::sim::registerInProcessSim();

    skyjog::setReporter(skyjog::showMessageBox);
    skyjog::setAsker(skyjog::askYesNo);

    skyjog::Interface window;
    skyjog::setMessageBoxAnchor(&window);
    // However the program ends from here on, what still moves is stopped on the way out: a
    // broken display connection ends it with exit() from inside Qt, and a quit that closes no
    // window (the session manager's, the system's) skips the window's own release.
    skyjog::sendLastStopsAtExit();
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [] { skyjog::sendLastStops(); });
    const skyjog::EndRequests endRequests([&window] { skyjog::endOnRequest(window); },
                                          [] { skyjog::sendLastStops(); });
    window.show();
    window.restoreViewWindows();
    window.share().start(args.share);
    return app.exec();
}
