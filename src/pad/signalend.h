#pragma once
// The system's and the terminal's requests to end the program: SIGTERM (a kill, a shutdown),
// SIGHUP (the terminal it was started from closes, a logout) and SIGINT (Ctrl+C there); on
// Windows a console's close and Ctrl+C, and the end of the user's session. Each ends the program
// as closing its window does, so that every motor gets its stop. A second request while the
// first is still being served ends the program at once.
#include <QObject>
#include <functional>

class QWidget;

namespace skyjog {

// Ends the program as closing its window does, except that a running spiral is not a reason to
// refuse: it is stopped first (its stop sequence goes out as it returns), then the window closes.
void endOnRequest(QWidget& window);

class EndRequests : public QObject {
public:
    // end: runs on the thread that made this object (the window's), from its event loop, once
    // per program. atOnce: the session is ending and the process may be gone as soon as this
    // returns (Windows), so what must go out goes out before it returns.
    EndRequests(std::function<void()> end, std::function<void()> atOnce, QObject* parent = nullptr);
    ~EndRequests() override;
    EndRequests(const EndRequests&) = delete;
    EndRequests& operator=(const EndRequests&) = delete;

private:
    struct Native;
    Native* native_ = nullptr;
};

} // namespace skyjog
