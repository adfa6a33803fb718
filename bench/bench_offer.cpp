// The start-up offer of captures left behind: how long until the question shows and the memory it
// takes, for one capture whose journal is 200 MB of bare line feeds (saved, then), and for 1,000
// small left captures (declined, so deleted).
#include "app/message_box.h"
#include "bench_support.h"
#include "capture/capture_journal.h"
#include "ui/capture_save.h"
#include "ui/file_dialog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

namespace {
qint64 GonePid() {
    QProcess gone;
    gone.start(QStringLiteral("true"), {});
    gone.waitForStarted();
    const qint64 pid = gone.processId();
    gone.waitForFinished();
    return pid;
}

QString LeftFolder(qint64 pid, int n) {
    return CaptureJournalsFolder() +
           QStringLiteral("/20200101-%1-%2-0").arg(n, 6, 10, QLatin1Char('0')).arg(pid);
}

bool WriteJournal(const QString& path, const QByteArray& piece, int times) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (int i = 0; i < times; ++i) {
        if (file.write(piece) != piece.size())
            return false;
    }
    return true;
}

// Runs the offer, answering `answer`; prints the time to the question, the resident peak and the
// time the whole offer took.
void MeasureOffer(const char* name, CMessageBox::StandardButton answer, const QString& saveTo) {
    QElapsedTimer timer;
    double questionMs = -1;
    const MessageBoxHandler previous = SetMessageBoxHandler([&](const SMessageBox&) {
        questionMs = timer.nsecsElapsed() / 1e6;
        return answer;
    });
    SetSaveFileHandler([&saveTo](const SSaveFileRequest&) { return saveTo; });
    const double before = ResidentMegabytes();
    ResetResidentPeak();
    timer.start();
    OfferAbandonedCaptures();
    const double totalMs = timer.nsecsElapsed() / 1e6;
    SetSaveFileHandler(nullptr);
    SetMessageBoxHandler(previous);
    std::printf("offer_%s_question_ms %.0f\n", name, questionMs);
    std::printf("offer_%s_total_ms %.0f\n", name, totalMs);
    std::printf("offer_%s_rss_peak_mb %.1f\n", name, std::max(ResidentPeakMegabytes(), ResidentMegabytes()));
    std::printf("offer_%s_rss_growth_mb %.1f\n", name,
                std::max(ResidentPeakMegabytes(), ResidentMegabytes()) - before);
}
} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    PrepareBenchEnvironment(home);
    QApplication app(argc, argv);
    const qint64 pid = GonePid();
    QDir().mkpath(CaptureJournalsFolder());

    // 200 MB of line feeds: 200 million empty lines.
    QDir().mkpath(LeftFolder(pid, 0));
    if (!WriteJournal(LeftFolder(pid, 0) + QStringLiteral("/tx.journal"), QByteArray(1024 * 1024, '\n'), 200))
        return 1;
    const QString saved = home.filePath(QStringLiteral("left.txt"));
    MeasureOffer("200mb_line_feeds", CMessageBox::Yes, saved);
    std::printf("offer_200mb_line_feeds_saved_mb %.0f\n", QFileInfo(saved).size() / (1024.0 * 1024.0));
    QFile::remove(saved);

    // 1,000 left captures of a few lines each.
    for (int n = 0; n < 1000; ++n) {
        QDir().mkpath(LeftFolder(pid, n));
        WriteJournal(LeftFolder(pid, n) + QStringLiteral("/tx.journal"),
                     "07:00:00    NETWORK   <02>ITEM 0001 DOUBLE BURGER<03>\n", 5);
        WriteJournal(LeftFolder(pid, n) + QStringLiteral("/rx.journal"), "07:00:01    NETWORK:  <06>\n", 5);
    }
    MeasureOffer("1000_folders", CMessageBox::No, QString());
    std::printf("offer_1000_folders_left %zu\n", CCaptureJournal::FindAbandoned().size());
    return 0;
}
