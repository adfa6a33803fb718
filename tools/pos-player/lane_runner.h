#pragma once

#include "lanes_file.h"

#include "transport/thread_handoff.h"

#include <QElapsedTimer>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <vector>

// Plays a lab of lanes at once, each lane a player of its own on a thread of its own, so that one
// lane's pacing never waits for another's. Prints each lane's capture lines with the lane's name
// (or, on a terminal, one line a lane updated in place), then one summary line a lane; writes one
// capture file a lane and one JUnit report with a testsuite a lane. Ends with the worst lane's status.
class CLaneRunner : public QObject {
    Q_OBJECT
public:
    // common: the command line's options (--capture names a folder, --junit the lab's report).
    CLaneRunner(std::vector<SLane> lanes, const SPlayerOptions& common, FILE* out, FILE* err);
    ~CLaneRunner() override;
    void Start();
    // Ctrl+C: every lane finishes its pass as one Stop does; a second one ends every lane at once.
    void Interrupt();

signals:
    void Finished(int status);

private:
    struct SLaneRun;
    void StartLane(int index);
    void PlayLane(int index, const SPlayerOptions& options, CThreadHandoff* lane);
    void OnLaneText(int index, EPlayerText kind, const QByteArray& text);
    void OnLaneLine(int index, int line, int lineCount, int pass);
    void OnLaneReply(int index, const QByteArray& text);
    void OnLaneFinished(int index, const SPlayerOutcome& outcome);
    void Finish();
    void WriteReport();
    void DrawLive();
    QByteArray LiveLine(const SLaneRun& lane) const;

    // The lanes' threads reach the runner through it (Qt's own event queue would hide from
    // ThreadSanitizer that what they hand over is handed over).
    CThreadHandoff m_handoff;
    std::vector<std::unique_ptr<SLaneRun>> m_lanes;
    SPlayerOptions m_common;
    FILE* m_out;
    FILE* m_err;
    bool m_bLive = false;     // standard output is a terminal: one line a lane, updated in place
    int m_nDrawnLines = 0;    // lines of the live view on the screen now
    QList<QByteArray> m_held; // lines to print above the live view at its next drawing
    QTimer m_liveTimer;
    int m_nRunning = 0;
    int m_nStatus = PLAYER_OK;
    bool m_bInterrupted = false;
};
