// The loader against the plain rule: split at LF (a CR before it dropped), keep lines that begin with
// '<', then 256 literal passes over each.
#include "script/order_script.h"

#include <cstdlib>

static QByteArray ReferencePrepare(QByteArray line) {
    for (int v = 0; v < 256; ++v) {
        const QByteArray token = "<" + QByteArray::number(v, 16).toUpper().rightJustified(2, '0') + ">";
        line.replace(token, QByteArray(1, v == 0 ? ';' : char(v)));
    }
    return line;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray content(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QList<QByteArray> expected;
    qsizetype start = 0;
    while (start < content.size()) {
        qsizetype end = content.indexOf('\n', start);
        const bool terminated = end >= 0;
        if (!terminated)
            end = content.size();
        QByteArray line = content.mid(start, end - start);
        if (terminated && line.endsWith('\r'))
            line.chop(1);
        if (!line.isEmpty() && line[0] == '<')
            expected << ReferencePrepare(line);
        start = end + 1;
    }
    if (PrepareScript(content) != expected)
        std::abort();
    return 0;
}
