// Capture text is printable ASCII only, and every byte has exactly one rendering.
#include "capture/capture_log.h"

#include <cstdlib>

static QByteArray Expected(unsigned char c, bool display) {
    if (c < 0x20 || c > 0x7E) {
        static const char hex[] = "0123456789ABCDEF";
        return QByteArray("<") + hex[c >> 4] + hex[c & 15] + ">";
    }
    if (display && c == ';')
        return "<00>";
    return QByteArray(1, char(c));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QByteArray escaped = input;
    EscapeControlBytes(escaped);
    const QByteArray display = ScriptLineDisplayForm(input);
    QByteArray expectedEscaped, expectedDisplay;
    for (unsigned char c : input) {
        expectedEscaped += Expected(c, false);
        expectedDisplay += Expected(c, true);
    }
    if (escaped != expectedEscaped || display != expectedDisplay)
        std::abort();
    for (const QByteArray* text : {static_cast<const QByteArray*>(&escaped), &display})
        for (char c : *text)
            if (c < 0x20 || c > 0x7E)
                std::abort();
    return 0;
}
