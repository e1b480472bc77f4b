#include "appidentity.h"

#include <QDir>
#include <QDirIterator>
#include <QGuiApplication>

namespace skyjog {

QString applicationId() {
    return QStringLiteral(SKYJOG_APP_ID);
}

QIcon applicationIcon() {
    QIcon icon;
    // The sizes are whatever the build rendered into the resource.
    QDirIterator it(QStringLiteral(":/skyjog/appicon"), {QStringLiteral("*.png")}, QDir::Files);
    while (it.hasNext())
        icon.addFile(it.next());
    return icon;
}

void setApplicationIdentity() {
    QGuiApplication::setApplicationName(QStringLiteral("Skyjog"));
    QGuiApplication::setDesktopFileName(applicationId());
    QGuiApplication::setWindowIcon(applicationIcon());
}

} // namespace skyjog
