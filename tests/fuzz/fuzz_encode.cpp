// Bytes on the wire for every line and flag combination: ';' as 0x00, and after each ETX the XOR of
// the bytes from the second one up to it, with or without the ETX.
#include "script/order_line.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray line(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (int flags = 0; flags < 4; ++flags) {
        const bool checksum = flags & 1;
        const bool includeEtx = flags & 2;
        QByteArray expected;
        for (qsizetype i = 0; i < line.size(); ++i) {
            const char c = line[i] == ';' ? '\0' : line[i];
            expected += c;
            if (checksum && i > 0 && c == 0x03) {
                unsigned char sum = 0;
                for (qsizetype j = 1; j <= i; ++j) {
                    const char b = line[j] == ';' ? '\0' : line[j];
                    if (b != 0x03 || includeEtx)
                        sum ^= static_cast<unsigned char>(b);
                }
                expected += static_cast<char>(sum);
            }
        }
        if (EncodeLineBytes(line, checksum, includeEtx) != expected)
            std::abort();
    }
    (void)PlanLine(line);
    return 0;
}
