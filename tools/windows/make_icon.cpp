// Draws the program's SVG icon into a Windows icon file (PNG images of the usual sizes), for the
// resource of pos-emulator.exe. Built and run on the build machine by tools/windows/build.sh.
#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QtEndian>
#include <cstdio>

namespace {
void Put16(QByteArray& out, quint16 value) {
    const quint16 le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char*>(&le), 2);
}
void Put32(QByteArray& out, quint32 value) {
    const quint32 le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char*>(&le), 4);
}
} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_icon ICON.svg OUT.ico\n");
        return 2;
    }
    QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
    if (!svg.isValid()) {
        std::fprintf(stderr, "make_icon: cannot read %s\n", argv[1]);
        return 1;
    }
    const int sizes[] = {16, 24, 32, 48, 64, 256};
    QList<QByteArray> images;
    for (int size : sizes) {
        QImage image(size, size, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        svg.render(&painter);
        painter.end();
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        images << png;
    }
    // ICONDIR, one ICONDIRENTRY per image, then the images.
    QByteArray ico;
    Put16(ico, 0);
    Put16(ico, 1);
    Put16(ico, quint16(images.size()));
    quint32 offset = 6 + 16 * quint32(images.size());
    for (int i = 0; i < images.size(); ++i) {
        ico.append(char(sizes[i] == 256 ? 0 : sizes[i])); // 0 stands for 256
        ico.append(char(sizes[i] == 256 ? 0 : sizes[i]));
        ico.append(char(0)); // no palette
        ico.append(char(0));
        Put16(ico, 1);  // colour planes
        Put16(ico, 32); // bits per pixel
        Put32(ico, quint32(images[i].size()));
        Put32(ico, offset);
        offset += quint32(images[i].size());
    }
    for (const QByteArray& png : images)
        ico += png;
    QFile out(QString::fromLocal8Bit(argv[2]));
    if (!out.open(QIODevice::WriteOnly) || out.write(ico) != ico.size()) {
        std::fprintf(stderr, "make_icon: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
