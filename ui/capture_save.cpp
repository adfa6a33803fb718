#include "ui/capture_save.h"

#include "app/message_box.h"
#include "capture/capture_file.h"
#include "capture/capture_journal.h"
#include "capture/capture_list.h"
#include "ui/file_dialog.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <functional>
#include <vector>

namespace {
using CaptureWriter = std::function<ECaptureWrite(const QString& path, QString* error)>;

// The save dialog, then the capture file, with the error boxes; `kept` says where the capture stays
// when it could not be written.
ESaveOutcome SaveCapture(QWidget* owner, const QString& proposedName, const CaptureWriter& write,
                         const QString& kept) {
    SSaveFileRequest request;
    request.pOwner = owner;
    request.strTitle = QStringLiteral("Save Rx and Tx Data to Disk");
    request.strFolder = QStringLiteral(".");
    request.strProposedName = proposedName;
    request.strFilters = QStringLiteral("Text Files (*.txt);;All Files (*.*)");
    request.strDefaultSuffix = QStringLiteral("TXT");
    const QString path = AskSaveFileName(request);
    if (path.isEmpty())
        return SAVE_CANCELLED;
    QString error;
    switch (write(path, &error)) {
    case CAPTURE_WRITTEN:
        return SAVE_WRITTEN;
    case CAPTURE_CANNOT_OPEN:
        ShowMessageBox(owner, QStringLiteral("Unable to open file."), QStringLiteral("Error"),
                       CMessageBox::Ok, CMessageBox::Warning);
        return SAVE_FAILED;
    case CAPTURE_WRITE_FAILED:
        ShowMessageBox(
            owner, QStringLiteral("Unable to write the capture to \"%1\": %2\n\n%3").arg(path, error, kept),
            QStringLiteral("Error"), CMessageBox::Ok, CMessageBox::Warning);
        return SAVE_FAILED;
    }
    return SAVE_FAILED;
}

QString StartText(const SLeftCapture& left) {
    return left.started.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

struct SDamaged {
    SLeftCapture left;
    QString strWhy;
};

// The question at start-up: the usual single capture as it always was, several with their starts.
QString OfferText(const std::vector<SLeftCapture>& offered, const std::vector<SDamaged>& damaged) {
    QString text;
    if (offered.size() == 1) {
        text =
            QStringLiteral("POS Emulator did not close normally last time. Save the capture it was holding?");
    } else if (!offered.empty()) {
        constexpr size_t LISTED = 10;
        QStringList starts;
        for (size_t i = 0; i < offered.size() && i < LISTED; ++i)
            starts << QStringLiteral("    ") + StartText(offered[i]);
        if (offered.size() > LISTED)
            starts << QStringLiteral("    and %1 more").arg(offered.size() - LISTED);
        text = QStringLiteral("POS Emulator did not close normally %1 times. It left %1 captures, started "
                              "at:\n%2\n\nSave them? Each is saved to a file of its own.")
                   .arg(offered.size())
                   .arg(starts.join(QLatin1Char('\n')));
    }
    if (!damaged.empty()) {
        QStringList lines;
        for (const SDamaged& capture : damaged)
            lines << QStringLiteral("    started %1: %2").arg(StartText(capture.left), capture.strWhy);
        const QString told =
            QStringLiteral("%1 cannot be read, so it is not saved; it stays as it is, in %2:\n%3")
                .arg(damaged.size() == 1 ? QStringLiteral("A capture left by a program that did not close "
                                                          "normally")
                                         : QStringLiteral("%1 captures left by programs that did not close "
                                                          "normally")
                                               .arg(damaged.size()),
                     QDir::toNativeSeparators(CaptureJournalsFolder()), lines.join(QLatin1Char('\n')));
        text = text.isEmpty() ? told : text + QStringLiteral("\n\n") + told;
    }
    return text;
}

// Saves one left capture: kept for the next start unless it was written.
void SaveLeftCapture(const SLeftCapture& left) {
    CCaptureJournal journal;
    if (!journal.Adopt(left.strFolder))
        return; // another program took it meanwhile
    QFile tx, rx;
    QString why;
    if (!journal.OpenJournals(tx, rx, &why)) {
        ShowMessageBox(
            nullptr,
            QStringLiteral("The capture started at %1 cannot be read: %2\n\nIt is kept and offered "
                           "again at the next start.")
                .arg(StartText(left), why),
            QStringLiteral("Error"), CMessageBox::Ok, CMessageBox::Warning);
        journal.Release();
        return;
    }
    const QString name =
        QStringLiteral("DataCapture-%1.txt").arg(left.started.toString(QStringLiteral("yyyyMMdd-HHmmss")));
    const ESaveOutcome outcome = SaveCapture(
        nullptr, name,
        [&tx, &rx](const QString& path, QString* error) { return WriteCaptureFile(path, tx, rx, error); },
        QStringLiteral("The capture is kept and offered again at the next start."));
    tx.close();
    rx.close();
    if (outcome == SAVE_WRITTEN)
        journal.Remove();
    else
        journal.Release();
}
} // namespace

ESaveOutcome SaveCaptureAs(QWidget* owner, const CCaptureLines& tx, const CCaptureLines& rx) {
    // Lines that arrived while the dialog was open are part of the capture now.
    return SaveCapture(
        owner, QStringLiteral("DataCapture.txt"),
        [&tx, &rx](const QString& path, QString* error) { return WriteCaptureFile(path, tx, rx, error); },
        QStringLiteral("The capture is still in the lists; choose another file."));
}

void OfferAbandonedCaptures() {
    // One capture at a time: each is looked at while locked and let go again, so that any number of
    // them costs a few descriptors and a little memory only.
    std::vector<SLeftCapture> offered;
    std::vector<SDamaged> damaged;
    for (const SLeftCapture& left : CCaptureJournal::FindAbandoned()) {
        CCaptureJournal journal;
        if (!journal.Adopt(left.strFolder))
            continue;
        QString why;
        switch (journal.Inspect(&why)) {
        case LEFT_EMPTY:
            journal.Remove(); // nothing was captured: nothing to offer
            break;
        case LEFT_HAS_LINES:
            offered.push_back(left);
            journal.Release();
            break;
        case LEFT_DAMAGED:
            damaged.push_back({left, why});
            journal.Release();
            break;
        }
    }
    if (offered.empty() && damaged.empty())
        return;
    const QString text = OfferText(offered, damaged);
    if (offered.empty()) {
        ShowMessageBox(nullptr, text, QStringLiteral("POS Emulator"), CMessageBox::Ok, CMessageBox::Warning);
        return;
    }
    const bool save =
        ShowMessageBox(nullptr, text, QStringLiteral("POS Emulator"), CMessageBox::Yes | CMessageBox::No,
                       CMessageBox::Question) == CMessageBox::Yes;
    for (const SLeftCapture& left : offered) {
        if (save) {
            SaveLeftCapture(left);
            continue;
        }
        CCaptureJournal journal;
        if (journal.Adopt(left.strFolder))
            journal.Remove();
    }
}
