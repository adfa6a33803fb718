// The start-up offer of captures left behind: how long until the question shows and the memory it
// takes, for one capture whose journal is 200 MB of bare line feeds (saved, then), for a journal of
// 2 GiB of printable bytes without a line feed (told and kept), for 1,000 small left captures (declined, so
// deleted), and for 10,000 saved into one folder (the dialogs shown, the time it takes).
#include "bench_support.h"
#include "capture/capture_journal.h"
#include "ui/capture_save.h"
#include "ui/file_dialog.h"
#include "ui/message_box.h"

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
    return CaptureJournalsFolder() + QStringLiteral("/20200101-%1-%2-0")
                                         .arg(QTime(0, 0).addSecs(n).toString(QStringLiteral("HHmmss")))
                                         .arg(pid);
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
    int boxes = 0, dialogs = 0;
    const MessageBoxHandler previous = SetMessageBoxHandler([&](const SMessageBox& box) {
        if (questionMs < 0)
            questionMs = timer.nsecsElapsed() / 1e6;
        if (++boxes == 1)
            std::printf("offer_%s_told %s\n", name, qPrintable(box.strText.section(QLatin1Char('\n'), 0, 1)));
        return answer;
    });
    SetSaveFileHandler([&saveTo, &dialogs](const SSaveFileRequest&) {
        ++dialogs;
        return saveTo;
    });
    const double before = ResidentMegabytes();
    ResetResidentPeak();
    timer.start();
    OfferAbandonedCaptures();
    const double totalMs = timer.nsecsElapsed() / 1e6;
    SetSaveFileHandler(nullptr);
    SetMessageBoxHandler(previous);
    std::printf("offer_%s_question_ms %.0f\n", name, questionMs);
    std::printf("offer_%s_boxes %d\n", name, boxes);
    std::printf("offer_%s_save_dialogs %d\n", name, dialogs);
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

    // 2 GiB of printable bytes without a line feed: the worst case, read to its end.
    QDir().mkpath(LeftFolder(pid, 1));
    const QString huge = LeftFolder(pid, 1) + QStringLiteral("/tx.journal");
    if (!WriteJournal(huge, QByteArray(1024 * 1024, 'A'), 2048))
        return 1;
    MeasureOffer("2gib_no_line_feed", CMessageBox::Yes, home.filePath(QStringLiteral("huge.txt")));
    std::printf("offer_2gib_no_line_feed_kept %d\n", QFileInfo(huge).size() == qint64(2) << 30 ? 1 : 0);
    QDir(LeftFolder(pid, 1)).removeRecursively();

    // 10,000 left captures saved into one folder.
    for (int n = 0; n < 10000; ++n) {
        QDir().mkpath(LeftFolder(pid, n));
        WriteJournal(LeftFolder(pid, n) + QStringLiteral("/tx.journal"),
                     "07:00:00    NETWORK   <02>ITEM 0001 DOUBLE BURGER<03>\n", 5);
        WriteJournal(LeftFolder(pid, n) + QStringLiteral("/rx.journal"), "07:00:01    NETWORK:  <06>\n", 5);
    }
    const QString into = home.filePath(QStringLiteral("recovered"));
    QDir().mkpath(into);
    MeasureOffer("10000_saved", CMessageBox::Yes, into);
    std::printf("offer_10000_saved_files %lld\n", qint64(QDir(into).entryList(QDir::Files).size()));
    std::printf("offer_10000_saved_left %zu\n", CCaptureJournal::FindAbandoned().size());
    return 0;
}
