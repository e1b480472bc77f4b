#pragma once
// The Position window: where the hand control says the scope points (azimuth and altitude, the
// reading the spiral starts from) and how fast each is changing, read about twice a second while
// the window is open and nothing else talks to the mount.
#include <QPoint>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>

class QLabel;
class QTimer;

namespace skyjog {

// What the window needs of the rest of the program.
struct PositionHost {
    // Whether a reading may go out now. A reading holds the line for a moment of its own: it
    // must never stand between a press and its release, inside another command, or between the
    // legs of a spiral.
    std::function<bool()> idle;
    // Puts the window where it stood when it was last closed, if it has been placed before.
    std::function<void(QWidget& window)> place;
    // Called when the window closes, with where it stood.
    std::function<void(const QPoint& place)> closedAt;
};

// Opens the window (modeless, without an owner) with what it needs of its host, or brings the
// open one forward.
void ShowPosition(PositionHost host);

// An angle as degrees, minutes and whole seconds ("123°04'05\""), with a sign when asked for.
QString formatDms(double degrees, bool withSign);
// A rate of change in degrees per second, always signed ("+0°01'30\"/s").
QString formatRate(double degreesPerSecond);
// The change from one reading to the next, the shorter way round the circle.
double angleStep(double from, double to);

class PositionWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int PollMs = 500;
    // How long a reading waits for the mount. A press that comes during a reading waits for it
    // to end, so this is what a reading may add to a press: it is to stay within about 50 ms,
    // closing the port and the loop's last pass included. A hand control answers a position in
    // 20-40 ms, and a reading takes each character as it comes, so 45 ms still reads the
    // slowest. A command's own 500 ms is for the user's commands, which must wait for the mount.
    static constexpr int16_t ReadingTimeoutMs = 45;
    // After a reading the mount did not answer in full and right: a mount that says nothing, or
    // something wrong, most likely does so again, and each such reading holds the line for the
    // whole time-out.
    static constexpr int QuietMountPollMs = 2000;
    // What a reading that cannot be read shows, and what a failed one shows.
    static inline const QString Unreadable = QStringLiteral("\u2014");
    static inline const QString NoReply = QStringLiteral("no reply");

    static PositionWindow* current();
    explicit PositionWindow(PositionHost host, QWidget* parent = nullptr);
    // The host went away: the window stays open and reads nothing more.
    void forgetHost() { host_ = {}; }
    // Puts the window on top, at its saved place, and starts the readings.
    void Form_Load();

    // A reading, if the program is idle.
    void poll();
    // How long after the last turn the next is due (the timer counts from the end of each turn,
    // so a slow reading never makes the turns follow each other without a pause).
    int nextPollMs() const { return quietMount_ ? QuietMountPollMs : PollMs; }

    QTimer* timer() const { return timer_; }
    QString azimuthText() const;
    QString altitudeText() const;
    QString azimuthRateText() const;
    QString altitudeRateText() const;

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    PositionHost host_;
    void timerTurn();
    void showReading(const QByteArray& reply, bool failed);
    void showNothing(const QString& text);

    QTimer* timer_;
    QLabel* lblAz;
    QLabel* lblAlt;
    QLabel* lblAzRate;
    QLabel* lblAltRate;
    // The last good reading and when it was taken (the program's millisecond clock), for the
    // rates; none after a reading that failed.
    struct Reading {
        double azimuth;
        double altitude;
        int64_t atMs;
    };
    std::optional<Reading> last_;
    bool quietMount_ = false;
};

} // namespace skyjog
