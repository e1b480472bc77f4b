#include "fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>
#include <algorithm>

using namespace xsession;

namespace e2e {

// ---- Mount ------------------------------------------------------------------------------------

Mount::Mount(const QString& dir)
    : link_(dir + QStringLiteral("/mount")), log_(dir + QStringLiteral("/sim.log")) {}

Mount::~Mount() {
    endProcess(proc_);
}

bool Mount::start(const QString& exe) {
    proc_.start(exe, {QStringLiteral("--pty"), link_, QStringLiteral("--log-file"), log_});
    if (!proc_.waitForStarted(StartMs)) return false;
    return waitFor(
        [&] {
            proc_.waitForReadyRead(20);
            ready_ += proc_.readAllStandardOutput();
            return ready_.contains("ready");
        },
        StartMs);
}

QList<Mount::Received> Mount::received() const {
    QList<Received> out;
    QFile f(log_);
    if (!f.open(QIODevice::ReadOnly)) return out;
    const double readAt = nowMs();
    static const QRegularExpression sp(QStringLiteral("\\s+"));
    for (const QByteArray& raw : f.readAll().split('\n')) {
        const QStringList tok = QString::fromUtf8(raw).trimmed().split(sp, Qt::SkipEmptyParts);
        if (tok.size() < 3 || tok[1] != QLatin1String("cmd")) continue;
        Received r;
        r.simMs = tok[0].toDouble();
        for (int i = 2; i < tok.size() && !tok[i].startsWith(u'('); ++i)
            if (tok[i] != QLatin1String("-")) r.bytes += char(tok[i].toInt());
        out << r;
    }
    // Each command was logged at latest when this read found it: the earliest such sighting
    // against its stamp bounds the difference between the two clocks.
    for (qsizetype i = seenAt_.size(); i < out.size(); ++i) {
        seenAt_ << readAt;
        offset_ = std::min(offset_, readAt - out[i].simMs);
    }
    return out;
}

QList<QByteArray> Mount::commands() const {
    QList<QByteArray> out;
    for (const Received& r : received())
        out << r.bytes;
    return out;
}

bool Mount::waitForCount(int n, int timeoutMs) const {
    return waitFor([&] { return commands().size() >= n; }, timeoutMs);
}

double Mount::testClockOf(double simMs) const {
    received();
    return simMs + offset_;
}

// ---- App --------------------------------------------------------------------------------------

App::App(const QString& dir, const QString& display)
    : dir_(dir + QStringLiteral("/app")), display_(display) {}

bool App::start(const QString& exe, const QByteArray& settingsLine) {
    QDir().mkpath(dir_);
    // A copy, not a link: the program finds its folder through the resolved executable path.
    const QString copy = dir_ + QStringLiteral("/skyjog");
    if (!QFile::copy(exe, copy)) return false;
    QFile ini(iniPath());
    if (!ini.open(QIODevice::WriteOnly)) return false;
    ini.write(settingsLine + "\r\n");
    ini.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display_);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QFileInfo(dir_).path()); // private (0700)
    // The program's own configuration stays in the case's folder: never the user's.
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QFileInfo(dir_).path() + QStringLiteral("/config"));
    proc_.setProcessEnvironment(env);
    proc_.setProcessChannelMode(QProcess::ForwardedChannels);
    proc_.start(copy, {});
    return proc_.waitForStarted(StartMs);
}

bool App::waitForExit(int timeoutMs) {
    return proc_.state() == QProcess::NotRunning || proc_.waitForFinished(timeoutMs);
}

void App::kill() {
    if (proc_.state() == QProcess::NotRunning) return;
    proc_.kill();
    proc_.waitForFinished(5000);
}

// ---- Fixture ----------------------------------------------------------------------------------

void Fixture::startDisplay() {
    skyjogExe = QStringLiteral(SKYJOG_EXE);
    simExe = QStringLiteral(SKYJOG_MOUNT_SIM);
    QVERIFY2(QFileInfo(skyjogExe).isExecutable(), qPrintable(skyjogExe + " is missing"));
    QVERIFY2(QFileInfo(simExe).isExecutable(), qPrintable(simExe + " is missing"));
    QString error;
    QVERIFY2(xvfb.start(&error, RepeatDelayMs, RepeatIntervalMs), qPrintable(error));
    QVERIFY(x.open(xvfb.display()));
    QVERIFY2(x.setAutoRepeat(RepeatDelayMs, RepeatIntervalMs, &error), qPrintable(error));
    QString version;
    QVERIFY2(xdotool(xvfb.display(), {"version"}, &version) == 0, "xdotool is missing");
}

void Fixture::endCase() {
    if (app) app->kill();
    app.reset();
    mount.reset();
    dir.reset();
    window = 0;
}

void Fixture::endDisplay() {
    x.close();
    xvfb.stop();
}

QString Fixture::settings(const QString& fields) const {
    return fields.arg(mount->link());
}

void Fixture::launch(const QString& settingsPattern) {
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    mount = std::make_unique<Mount>(dir->path());
    QVERIFY2(mount->start(simExe), "skyjog-mount-sim did not get ready");
    app = std::make_unique<App>(dir->path(), xvfb.display());
    QVERIFY(app->start(skyjogExe, settings(settingsPattern).toUtf8()));
    QVERIFY2(waitFor([&] { return !x.findWindows(QStringLiteral("Skyjog"), app->pid()).empty(); },
                     StartMs),
             "the Skyjog window did not appear");
    window = x.findWindows(QStringLiteral("Skyjog"), app->pid()).front();
    focusMain();
}

void Fixture::focusMain() {
    x.focus(window);
    const auto g = x.geometry(window);
    QVERIFY(g);
    QCOMPARE(xdotool(xvfb.display(), {"mousemove", QString::number(g->x + g->width - 5),
                                      QString::number(g->y + g->height - 5)}),
             0);
}

QPoint Fixture::controlCentre(int left, int top, int width, int height) {
    const auto g = x.geometry(window);
    if (!g) return {};
    const double scale = g->width / 275.0; // the client area is 4125 x 2940 twips
    const double menuBar = g->height - 196 * scale;
    return QPoint(g->x + int((left + width / 2.0) / 15.0 * scale),
                  g->y + int(menuBar + (top + height / 2.0) / 15.0 * scale));
}

int Fixture::menuBarHeight() {
    const auto g = x.geometry(window);
    if (!g) return 0;
    return int(g->height - 196 * (g->width / 275.0));
}

void Fixture::click(QPoint at, int button, int holdMs) {
    QCOMPARE(xdotool(xvfb.display(),
                     {"mousemove", QString::number(at.x()), QString::number(at.y()), "mousedown",
                      QString::number(button), "sleep", QString::number(holdMs / 1000.0), "mouseup",
                      QString::number(button)}),
             0);
}

void Fixture::key(const QString& keys) {
    QCOMPARE(xdotool(xvfb.display(), {"key", "--delay", "40", keys}), 0);
}

bool Fixture::xdo(const QStringList& args) {
    return xdotool(xvfb.display(), args) == 0;
}

QList<QByteArray> Fixture::settledCommands(int quietMs) {
    QList<QByteArray> last = mount->commands();
    double since = nowMs();
    waitFor(
        [&] {
            const auto now = mount->commands();
            if (now != last) {
                last = now;
                since = nowMs();
            }
            return nowMs() - since >= quietMs;
        },
        ReplyMs);
    return last;
}

unsigned long Fixture::waitForWindow(const QString& title) {
    unsigned long found = 0;
    waitFor(
        [&] {
            const auto w = x.findWindows(title, app->pid());
            found = w.empty() ? 0 : w.front();
            return found != 0;
        },
        StartMs);
    return found;
}

bool Fixture::endsWithStopSequence(const QList<QByteArray>& c, int mode) {
    return c.size() >= 3 && c[c.size() - 3] == bytes({80, 2, 17, 37, 0, 0, 0, 0}) &&
           c[c.size() - 2] == bytes({80, 2, 16, 37, 0, 0, 0, 0}) && c.back() == bytes({84, mode});
}

} // namespace e2e
