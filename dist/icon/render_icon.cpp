// Build step: renders the application icon's drawing at the sizes the desktops want, and packs
// rendered sizes into a Windows icon file.
//
//   skyjog-icon-render png DRAWING.svg SIZE OUT.png    one square picture, SIZE pixels a side
//   skyjog-icon-render ico OUT.ico IN.png...           the pictures as one .ico, largest last
#include <QByteArray>
#include <QDataStream>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>
#include <cstdio>
#include <vector>

namespace {

int fail(const QString& message) {
    std::fprintf(stderr, "skyjog-icon-render: %s\n", qPrintable(message));
    return 1;
}

int renderPng(const QString& drawing, int size, const QString& out) {
    QSvgRenderer svg(drawing);
    if (!svg.isValid()) return fail(QStringLiteral("cannot read %1").arg(drawing));
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        svg.render(&p, QRectF(0, 0, size, size));
    }
    if (!image.save(out, "PNG")) return fail(QStringLiteral("cannot write %1").arg(out));
    return 0;
}

// An .ico holds a directory of its pictures followed by the pictures; since Windows Vista each
// may be a whole PNG file, which keeps the 256-pixel one small. Qt's own .ico writer stores one
// picture per file, and Windows picks the size it needs from the several kept here.
int packIco(const QString& out, const QStringList& pngs) {
    struct Entry {
        int size;
        QByteArray png;
    };
    std::vector<Entry> entries;
    for (const QString& path : pngs) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) return fail(QStringLiteral("cannot read %1").arg(path));
        const QByteArray png = f.readAll();
        const QImage image = QImage::fromData(png, "PNG");
        if (image.isNull() || image.width() != image.height() || image.width() > 256)
            return fail(QStringLiteral("%1 is not a square PNG of at most 256 pixels").arg(path));
        entries.push_back({image.width(), png});
    }
    if (entries.empty()) return fail(QStringLiteral("no pictures for %1").arg(out));

    QByteArray ico;
    QDataStream s(&ico, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::LittleEndian);
    s << quint16(0) << quint16(1) << quint16(entries.size()); // reserved, type 1 = icon, count
    quint32 offset = 6 + 16 * quint32(entries.size());
    for (const Entry& e : entries) {
        const quint8 side = e.size == 256 ? 0 : quint8(e.size); // 0 stands for 256
        s << side << side << quint8(0) << quint8(0)             // no palette, reserved
          << quint16(1) << quint16(32)                          // planes, bits per pixel
          << quint32(e.png.size()) << offset;
        offset += quint32(e.png.size());
    }
    for (const Entry& e : entries)
        s.writeRawData(e.png.constData(), int(e.png.size()));

    QFile f(out);
    if (!f.open(QIODevice::WriteOnly) || f.write(ico) != ico.size() || !f.flush())
        return fail(QStringLiteral("cannot write %1").arg(out));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (args.size() == 4 && args[0] == QLatin1String("png")) {
        bool ok = false;
        const int size = args[2].toInt(&ok);
        if (!ok || size < 1 || size > 4096) return fail(QStringLiteral("bad size ") + args[2]);
        return renderPng(args[1], size, args[3]);
    }
    if (args.size() >= 3 && args[0] == QLatin1String("ico")) return packIco(args[1], args.mid(2));
    return fail(QStringLiteral("usage: skyjog-icon-render png DRAWING SIZE OUT | ico OUT PNG..."));
}
