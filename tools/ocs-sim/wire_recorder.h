#pragma once

#include <QByteArray>
#include <QStringList>
#include <functional>
#include <vector>

// A frame ends after its ETX (and checksum byte), or after this long without a byte.
constexpr qint64 RECORD_FRAME_GAP_MS = 50;

enum ERecordedChecksum { RECORDED_NO_CHECKSUM, RECORDED_CHECKSUM_WITHOUT_ETX, RECORDED_CHECKSUM_WITH_ETX };

struct SRecording {
    QByteArray text; // the POS definition file
    ERecordedChecksum checksum = RECORDED_NO_CHECKSUM;
    int nFrames = 0;
    QStringList warnings; // "line N: ..." for frames that cannot play back as received
};

// Learns a POS from the wire: takes what an OCS receives and writes it as a POS definition file that
// plays the same bytes in the same order, one script line per frame, with the gaps as pauses.
class CWireRecorder {
public:
    // Bytes that came in from `source` (a connection, the serial line) at `atMs` on a monotonic clock.
    void Received(const QByteArray& source, qint64 atMs, const QByteArray& bytes);
    // The file, starting with the remark lines given (none may begin with '<'), then the one
    // `closingRemark` makes, if given, from the checksum rule the recording was found to follow.
    SRecording Finish(const QList<QByteArray>& remarks,
                      const std::function<QByteArray(ERecordedChecksum)>& closingRemark = {}) const;
    QList<QByteArray> Sources() const;

private:
    struct SBurst { // bytes of one source without a gap of RECORD_FRAME_GAP_MS
        QByteArray source;
        qint64 nStartMs = 0;
        qint64 nEndMs = 0;
        QByteArray bytes;
    };
    std::vector<SBurst> m_bursts; // in the order they started
};

// One frame's bytes in the script notation: 0x20..0x7E as themselves but '<' as "<3C>" and ';' as
// "<3B>", the rest and the first byte "<HH>".
QByteArray ScriptNotation(const QByteArray& bytes);
