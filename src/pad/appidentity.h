#pragma once
// What the desktop knows the program by: its name, the desktop entry it was installed with, and
// its icon.
#include <QIcon>
#include <QString>

namespace skyjog {

// The reverse-DNS name of the desktop entry and the AppStream component the program installs.
QString applicationId();

// The application icon, rendered from its drawing at every size from 16 to 256 pixels.
QIcon applicationIcon();

// Names the application (the name also names the user's settings folder), ties the program to
// its desktop entry, so that Wayland compositors and task bars show the entry's name and icon,
// and gives every window the application icon. Call once the QApplication exists.
void setApplicationIdentity();

} // namespace skyjog
