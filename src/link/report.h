#pragma once
// Every message box of the program goes through here, so tests can capture what a user would
// have seen instead of blocking on a modal box. The box itself belongs to the widgets; the
// program installs it (setReporter) as it starts.
#include <QString>
#include <functional>

namespace skyjog {

struct VbError;

inline const QString AppTitle = QStringLiteral("Skyjog");

using ReportFn = std::function<void(const QString& text, const QString& caption)>;

// Replaces the reporting function; an empty one leaves only a warning on standard error.
void setReporter(ReportFn fn);

// Shows a modal OK-only message box (or hands the text to the installed reporter).
void report(const QString& text, const QString& caption = AppTitle);

// A question with Yes and No (closing while other programs use the mount through this one);
// true for Yes. With no asker installed, or while reports go to standard error, the answer is
// Yes: nobody is there to ask.
using AskFn = std::function<bool(const QString& text, const QString& caption)>;
void setAsker(AskFn fn);
bool ask(const QString& text, const QString& caption = AppTitle);

// The standard failure message: "description - number", captioned with the program's title.
void reportError(const VbError& e);

// While one of these lives, a message box does not hold up the code that raised it: the box
// stays up until the user closes it, and the code goes on at once. A running spiral keeps one,
// so that it goes on timing its legs behind a box: a box waited for inside the spiral would leave
// the leg's motor running for as long as the user takes to read it.
class BoxesDoNotWait {
public:
    BoxesDoNotWait();
    ~BoxesDoNotWait();
    BoxesDoNotWait(const BoxesDoNotWait&) = delete;
    BoxesDoNotWait& operator=(const BoxesDoNotWait&) = delete;
};
// Whether a box shown now holds up its caller until it is closed.
bool boxesWait();

// While one of these lives, every report goes to standard error only, whatever reporter is
// installed: for code that runs as the process ends, when there may be no display to show a box
// on and no event loop to wait in.
class ReportsToStandardError {
public:
    ReportsToStandardError();
    ~ReportsToStandardError();
    ReportsToStandardError(const ReportsToStandardError&) = delete;
    ReportsToStandardError& operator=(const ReportsToStandardError&) = delete;

private:
    ReportFn saved_;
};

} // namespace skyjog
