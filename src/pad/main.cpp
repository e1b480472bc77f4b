// Skyjog: a second hand pad for a Celestron GoTo mount.
#include "interface.h"
#include "messagebox.h"
#include "mountsim.h"
#include "report.h"

#include <QApplication>
#include <QStyleFactory>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Skyjog"));
    // One style everywhere, so the small fixed layout looks and fits the same on every desktop.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    // The port text "sim" reaches the simulated mount built into the program.
    skyjog::sim::registerInProcessSim();

    skyjog::setReporter(skyjog::showMessageBox);

    skyjog::Interface window;
    skyjog::setMessageBoxAnchor(&window);
    window.show();
    return app.exec();
}
