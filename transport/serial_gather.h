#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <functional>

class CPortCtl;

constexpr int SERIAL_GATHER_MS = 200;

// Gathers serial replies into [Rx] lines without blocking the event loop: a pass takes every byte
// waiting and ends at the first check that finds none, SERIAL_GATHER_MS after the last byte read; one
// pass, one line (every byte, 0x00 too).
class CSerialGather : public QObject {
    Q_OBJECT
public:
    CSerialGather(CPortCtl& port, std::function<void(const QByteArray&)> onLine);
    // The port has data waiting (or says so).
    void OnInput();
    // Ends a pass under way now, giving its line; used when the port closes.
    void Finish();
    // Also hands every read's bytes, 0x00 included, to `tap` as they are read.
    void SetByteTap(std::function<void(const QByteArray&)> tap) { m_tap = std::move(tap); }

private:
    void OnTimer();

    CPortCtl& m_port;
    std::function<void(const QByteArray&)> m_onLine;
    std::function<void(const QByteArray&)> m_tap;
    QTimer m_timer;
    QByteArray m_text;
    bool m_bGathering = false;
};
