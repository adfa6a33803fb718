// Prints how fast a generated 10 MB script loads, against the plain 256-pass rule.
#include "script/order_script.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

static QByteArray ReferencePrepare(QByteArray line) {
    for (int v = 0; v < 256; ++v) {
        const QByteArray token = "<" + QByteArray::number(v, 16).toUpper().rightJustified(2, '0') + ">";
        line.replace(token, QByteArray(1, v == 0 ? ';' : char(v)));
    }
    return line;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QByteArray content;
    int n = 0;
    while (content.size() < 10 * 1024 * 1024) {
        content += "<c>Order " + QByteArray::number(n) + "\r\n";
        content += "<02>1 BIG BURGER<1D>" + QByteArray::number(n % 97) + "<1D>4.99<0D><03>\r\n";
        content += "<02>TOTAL;<00><1E>12.50<03><p>1\r\nremark line\r\n";
        ++n;
    }
    QTemporaryDir dir;
    const QString path = dir.filePath("bench.vlq");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(content);
    file.close();

    const double mb = content.size() / (1024.0 * 1024.0);
    COrderScript script;
    QElapsedTimer timer;
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        timer.start();
        script.LoadOrderFile(path);
        best = std::min(best, timer.nsecsElapsed() / 1e6);
    }
    timer.start();
    qsizetype refLines = 0;
    for (const QByteArray& line : content.split('\n')) {
        QByteArray l = line.endsWith('\r') ? line.chopped(1) : line;
        if (!l.isEmpty() && l[0] == '<') {
            ReferencePrepare(l);
            ++refLines;
        }
    }
    const double refMs = timer.nsecsElapsed() / 1e6;
    std::printf("loader_file_mb %.2f\n", mb);
    std::printf("loader_lines %d\n", script.GetLineCount());
    std::printf("loader_load_ms %.1f\n", best);
    std::printf("loader_mb_per_s %.1f\n", mb / (best / 1000.0));
    std::printf("reference_mb_per_s %.1f\n", mb / (refMs / 1000.0));
    std::printf("loader_speedup_vs_reference %.1f\n", refMs / best);
    return refLines == script.GetLineCount() ? 0 : 1;
}
