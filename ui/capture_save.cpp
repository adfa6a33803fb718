#include "ui/capture_save.h"

#include "capture/capture_file.h"
#include "capture/capture_journal.h"
#include "capture/capture_list.h"
#include "ui/file_dialog.h"
#include "ui/message_box.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProgressDialog>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

namespace {
using CaptureWriter = std::function<ECaptureWrite(const QString& path, QString* error)>;

// The error box for a capture file that could not be written; `kept` says where the capture stays.
void TellWriteFailure(QWidget* owner, ECaptureWrite outcome, const QString& path, const QString& error,
                      const QString& kept) {
    const QString shown = QDir::toNativeSeparators(path);
    const QString text =
        outcome == CAPTURE_CANNOT_OPEN
            ? QStringLiteral("Unable to open file.\n\n%1: %2\n\n%3").arg(shown, error, kept)
            : QStringLiteral("Unable to write the capture to \"%1\": %2\n\n%3").arg(shown, error, kept);
    ShowMessageBox(owner, text, QStringLiteral("Error"), CMessageBox::Ok, CMessageBox::Warning);
}

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
    const ECaptureWrite outcome = write(path, &error);
    if (outcome == CAPTURE_WRITTEN)
        return SAVE_WRITTEN;
    TellWriteFailure(owner, outcome, path, error, kept);
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
QString OfferText(const std::vector<SLeftCapture>& offered, const std::vector<SDamaged>& damaged, int held) {
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
                              "at:\n%2\n\nSave them? You choose one folder for them all; each is saved "
                              "to a file of its own there.")
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
    if (held > 0)
        text += held == 1 ? QStringLiteral("\n\n1 capture is held by a running program.")
                          : QStringLiteral("\n\n%1 captures are held by running programs.").arg(held);
    return text;
}

QString ProposedName(const SLeftCapture& left) {
    return QStringLiteral("DataCapture-%1.txt").arg(left.started.toString(QStringLiteral("yyyyMMdd-HHmmss")));
}

// A left capture, adopted and open for reading: ready to be written.
struct SAdopted {
    CCaptureJournal journal;
    QFile tx, rx;
};

// Takes a left capture and opens its journals; false when another program took it meanwhile or it
// cannot be read (told).
bool AdoptForSaving(const CaptureBase& base, const SLeftCapture& left, SAdopted& adopted) {
    if (!adopted.journal.Adopt(base, left.strName))
        return false; // another program took it meanwhile
    QString why;
    if (!adopted.journal.OpenJournals(adopted.tx, adopted.rx, &why)) {
        ShowMessageBox(
            nullptr,
            QStringLiteral("The capture started at %1 cannot be read: %2\n\nIt is kept and offered "
                           "again at the next start.")
                .arg(StartText(left), why),
            QStringLiteral("Error"), CMessageBox::Ok, CMessageBox::Warning);
        adopted.journal.Release();
        return false;
    }
    return true;
}

void Finish(SAdopted& adopted, bool written) {
    adopted.tx.close();
    adopted.rx.close();
    if (written)
        adopted.journal.Remove();
    else
        adopted.journal.Release();
}

// Saves one left capture with the save dialog: kept for the next start unless it was written.
void SaveLeftCapture(const CaptureBase& base, const SLeftCapture& left) {
    SAdopted adopted;
    if (!AdoptForSaving(base, left, adopted))
        return;
    const ESaveOutcome outcome = SaveCapture(
        nullptr, ProposedName(left),
        [&adopted](const QString& path, QString* error) {
            return WriteCaptureFile(path, adopted.tx, adopted.rx, error);
        },
        QStringLiteral("The capture is kept and offered again at the next start."));
    Finish(adopted, outcome == SAVE_WRITTEN);
}

RecoveryProgressHandler& ProgressHandler() {
    static RecoveryProgressHandler handler;
    return handler;
}

// Tells how far the saving of many captures is, and whether to go on.
class CRecoveryProgress {
public:
    CRecoveryProgress(int total, const QString& folder) : m_nTotal(total), m_strFolder(folder) {
        if (ProgressHandler())
            return;
        m_pDialog = std::make_unique<QProgressDialog>(QString(), QStringLiteral("Cancel"), 0, total);
        m_pDialog->setWindowTitle(QStringLiteral("POS Emulator"));
        m_pDialog->setWindowModality(Qt::ApplicationModal);
        m_pDialog->setMinimumDuration(500);
    }
    ~CRecoveryProgress() {
        if (m_pDialog)
            m_pDialog->reset();
    }
    // False when the user asked to stop.
    bool Step(int done) {
        if (ProgressHandler())
            return ProgressHandler()(done, m_nTotal);
        m_pDialog->setLabelText(QStringLiteral("Saving capture %1 of %2 into %3")
                                    .arg(done + 1)
                                    .arg(m_nTotal)
                                    .arg(QDir::toNativeSeparators(m_strFolder)));
        m_pDialog->setValue(done);
        QCoreApplication::processEvents();
        return !m_pDialog->wasCanceled();
    }

private:
    int m_nTotal;
    QString m_strFolder;
    std::unique_ptr<QProgressDialog> m_pDialog;
};

// A name in the folder that no file has yet: the proposed one, else with a number added.
QString FreeName(const QDir& folder, const QString& proposed) {
    const auto free = [](const QString& path) {
        return !QFileInfo::exists(path) && !QFileInfo(path).isSymLink();
    };
    if (free(folder.filePath(proposed)))
        return folder.filePath(proposed);
    const QString stem = QFileInfo(proposed).completeBaseName();
    for (int n = 2;; ++n) {
        const QString path = folder.filePath(QStringLiteral("%1-%2.txt").arg(stem).arg(n));
        if (free(path))
            return path;
    }
}

// Saves many left captures into one folder the user chooses, each under its proposed name, with a
// Cancel that keeps the rest for the next start.
void SaveLeftCaptures(const CaptureBase& base, const std::vector<SLeftCapture>& offered) {
    SSaveFileRequest request;
    request.strTitle = QStringLiteral("Choose a Folder for the %1 Captures").arg(offered.size());
    request.strFolder = QStringLiteral(".");
    request.bChooseFolder = true;
    const QString chosen = AskSaveFileName(request);
    if (chosen.isEmpty())
        return; // all kept for the next start
    const QDir folder(chosen);
    CRecoveryProgress progress(int(offered.size()), chosen);
    for (size_t i = 0; i < offered.size(); ++i) {
        if (!progress.Step(int(i)))
            return;
        SAdopted adopted;
        if (!AdoptForSaving(base, offered[i], adopted))
            continue;
        const QString path = FreeName(folder, ProposedName(offered[i]));
        QString error;
        const ECaptureWrite outcome = WriteCaptureFile(path, adopted.tx, adopted.rx, &error);
        Finish(adopted, outcome == CAPTURE_WRITTEN);
        if (outcome != CAPTURE_WRITTEN) {
            const size_t left = offered.size() - i;
            TellWriteFailure(nullptr, outcome, path, error,
                             left == 1
                                 ? QStringLiteral("The capture is kept and offered again at the next start.")
                                 : QStringLiteral("This capture and the %1 not saved yet are kept and "
                                                  "offered again at the next start.")
                                       .arg(left - 1));
            return;
        }
    }
    progress.Step(int(offered.size()));
}
} // namespace

ESaveOutcome SaveCaptureAs(QWidget* owner, const CCaptureLines& tx, const CCaptureLines& rx,
                           QString* savedTo) {
    // Lines that arrived while the dialog was open are part of the capture now.
    return SaveCapture(
        owner, QStringLiteral("DataCapture.txt"),
        [&tx, &rx, savedTo](const QString& path, QString* error) {
            if (savedTo)
                *savedTo = path;
            return WriteCaptureFile(path, tx, rx, error);
        },
        QStringLiteral("The capture is still in the lists; choose another file."));
}

RecoveryProgressHandler SetRecoveryProgressHandler(RecoveryProgressHandler handler) {
    RecoveryProgressHandler previous = std::move(ProgressHandler());
    ProgressHandler() = std::move(handler);
    return previous;
}

void OfferAbandonedCaptures() {
    // The captures folder is opened once; an unfit one (another user's, writable by others) is left
    // alone.
    const CaptureBase base = OpenCaptureBase(CaptureJournalsFolder(), false);
    if (!base)
        return;
    // One capture at a time: each is looked at while locked and let go again, so that any number of
    // them costs a few descriptors and a little memory only.
    SCapturesSeen seen;
    std::vector<SLeftCapture> offered;
    std::vector<SDamaged> damaged;
    for (const SLeftCapture& left : CCaptureJournal::FindAbandoned(base, &seen)) {
        CCaptureJournal journal;
        QString why;
        if (!journal.Adopt(base, left.strName, &why)) {
            if (why.isEmpty())
                ++seen.nHeld; // its program runs after all, or another start took it
            else
                damaged.push_back({left, why});
            continue;
        }
        why.clear();
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
    const QString text = OfferText(offered, damaged, seen.nHeld);
    if (offered.empty()) {
        ShowMessageBox(nullptr, text, QStringLiteral("POS Emulator"), CMessageBox::Ok, CMessageBox::Warning);
        return;
    }
    const bool save =
        ShowMessageBox(nullptr, text, QStringLiteral("POS Emulator"), CMessageBox::Yes | CMessageBox::No,
                       CMessageBox::Question) == CMessageBox::Yes;
    if (!save) {
        for (const SLeftCapture& left : offered) {
            CCaptureJournal journal;
            if (journal.Adopt(base, left.strName))
                journal.Remove();
        }
    } else if (offered.size() == 1) {
        SaveLeftCapture(base, offered.front());
    } else {
        SaveLeftCaptures(base, offered);
    }
}
