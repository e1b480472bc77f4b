#pragma once
// Every message box of the program goes through here, so tests can capture what a user would
// have seen instead of blocking on a modal box.
#include <QString>
#include <functional>

namespace skyjog {

struct VbError;

inline const QString AppTitle = QStringLiteral("Skyjog");

using ReportFn = std::function<void(const QString& text, const QString& caption)>;

// Replaces the reporting function; an empty function restores the message box.
void setReporter(ReportFn fn);

// Shows a modal OK-only message box (or hands the text to the installed reporter).
void report(const QString& text, const QString& caption = AppTitle);

// The standard failure message: "description - number", captioned with the program's title.
void reportError(const VbError& e);

} // namespace skyjog
