#include "commandline.h"

namespace skyjog {

CommandLine parseCommandLine(const QStringList& args) {
    CommandLine c;
    for (const QString& a : args) {
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            c.help = true;
        } else if (a == QLatin1String("--share")) {
            c.share = QString();
        } else if (a.startsWith(QLatin1String("--share="))) {
            c.share = a.mid(8);
            // "--share=" names nothing: that is a mistake, not the kept place.
            if (c.share->isEmpty()) c.error = QStringLiteral("--share= needs ADDRESS:PORT");
        } else {
            c.error = QStringLiteral("unknown option \"%1\"").arg(a);
        }
        if (!c.error.isEmpty()) break;
    }
    return c;
}

QString usageText() {
    return QStringLiteral(
        "Usage: skyjog [--share[=ADDRESS:PORT]]\n"
        "A hand pad for Celestron GoTo mounts.\n"
        "\n"
        "  --share               share the mount with other programs (a planetarium, a\n"
        "                        guider) from the start, where Tools > Share Mount last\n"
        "                        listened (127.0.0.1:4030 at first), and on a virtual\n"
        "                        serial port; not kept for the next start\n"
        "  --share=ADDRESS:PORT  the same, listening there: 127.0.0.1:4030, :4031,\n"
        "                        [::1]:4030; 0.0.0.0 listens on every interface, where\n"
        "                        anyone on the network could move the telescope\n"
        "  -h, --help            show this and end\n"
        "\n"
        "An address or port that cannot be used is reported, and the pad works on\n"
        "without sharing.\n");
}

} // namespace skyjog
