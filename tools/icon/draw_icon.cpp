// Draws the program's SVG icon at the sizes desktops and Windows ask for, on the build machine:
//   draw_icon ICON.svg --ico OUT.ico        a Windows icon file (PNG images), for pos-emulator.exe
//   draw_icon ICON.svg --png-dir DIR NAME   DIR/NxN/apps/NAME.png, the hicolor theme's folders
//   draw_icon ICON.svg --check [SHEET.png]  fails unless the price stays inside the display at every
//                                           size up to 512 px; SHEET shows it at 16, 32, 128 and 512
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QtEndian>
#include <cstdio>

namespace {
// The sizes of the hicolor theme's folders and of the Windows icon's images.
const int SIZES[] = {16, 22, 24, 32, 48, 64, 128, 256};

void Put16(QByteArray& out, quint16 value) {
    const quint16 le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char*>(&le), 2);
}
void Put32(QByteArray& out, quint32 value) {
    const quint32 le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char*>(&le), 4);
}

QImage Draw(QSvgRenderer& svg, int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    svg.render(&painter);
    return image;
}

QByteArray Png(const QImage& image) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile out(path);
    if (out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size())
        return true;
    std::fprintf(stderr, "draw_icon: cannot write %s\n", qPrintable(path));
    return false;
}

bool WriteIco(QSvgRenderer& svg, const QString& path) {
    QList<QByteArray> images;
    for (int size : SIZES)
        images << Png(Draw(svg, size));
    // ICONDIR, one ICONDIRENTRY per image, then the images.
    QByteArray ico;
    Put16(ico, 0);
    Put16(ico, 1);
    Put16(ico, quint16(images.size()));
    quint32 offset = 6 + 16 * quint32(images.size());
    for (int i = 0; i < images.size(); ++i) {
        ico.append(char(SIZES[i] == 256 ? 0 : SIZES[i])); // 0 stands for 256
        ico.append(char(SIZES[i] == 256 ? 0 : SIZES[i]));
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
    return WriteFile(path, ico);
}

// The price's green must stay on the display's blue: at each size, no pixel of it outside the
// display's rectangle (x 6..22, y 5..14 of 32), and from 32 px on some inside.
bool CheckInsideDisplay(QSvgRenderer& svg, const QString& sheet) {
    bool fine = true;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256, 512}) {
        const QImage image = Draw(svg, size);
        const double unit = size / 32.0;
        int inside = 0, outside = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.alpha() < 128 || c.green() - c.red() < 60 || c.green() - c.blue() < 60)
                    continue; // not the price's green, nor mostly it
                const bool in = x >= 6 * unit - 1 && x <= 22 * unit && y >= 5 * unit - 1 && y <= 14 * unit;
                ++(in ? inside : outside);
            }
        }
        std::printf("%d px: %d price pixels inside the display, %d outside\n", size, inside, outside);
        fine = fine && outside == 0 && (inside > 0 || size < 32); // below 32 px it is a hint of green
    }
    if (!sheet.isEmpty()) {
        const int sizes[] = {16, 32, 128, 512};
        QImage out(16 + 32 + 128 + 512 + 5 * 16, 512 + 32, QImage::Format_ARGB32);
        out.fill(Qt::white);
        QPainter painter(&out);
        int x = 16;
        for (int size : sizes) {
            painter.drawImage(x, 16 + 512 - size, Draw(svg, size));
            x += size + 16;
        }
        painter.end();
        fine = out.save(sheet) && fine;
    }
    return fine;
}
} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(
            stderr, "usage: draw_icon ICON.svg (--ico OUT.ico | --png-dir DIR NAME | --check [SHEET.png])\n");
        return 2;
    }
    QSvgRenderer svg(args[1]);
    if (!svg.isValid()) {
        std::fprintf(stderr, "draw_icon: cannot read %s\n", qPrintable(args[1]));
        return 1;
    }
    const QString mode = args[2];
    const QString target = args.value(3);
    if (mode == QLatin1String("--ico") && !target.isEmpty())
        return WriteIco(svg, target) ? 0 : 1;
    if (mode == QLatin1String("--png-dir") && !target.isEmpty() && args.size() > 4) {
        for (int size : SIZES) {
            const QString folder = QStringLiteral("%1/%2x%2/apps").arg(target).arg(size);
            QDir().mkpath(folder);
            if (!WriteFile(QStringLiteral("%1/%2.png").arg(folder, args[4]), Png(Draw(svg, size))))
                return 1;
        }
        return 0;
    }
    if (mode == QLatin1String("--check"))
        return CheckInsideDisplay(svg, target) ? 0 : 1;
    std::fprintf(stderr, "draw_icon: unknown mode %s\n", qPrintable(mode));
    return 2;
}
