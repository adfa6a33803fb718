#include "ui/capture_save.h"

#include "app/message_box.h"
#include "capture/capture_file.h"
#include "capture/capture_journal.h"
#include "capture/capture_list.h"
#include "ui/file_dialog.h"

#include <memory>
#include <vector>

ESaveOutcome SaveCaptureAs(QWidget* owner, const CCaptureLines& tx, const CCaptureLines& rx) {
    SSaveFileRequest request;
    request.pOwner = owner;
    request.strTitle = QStringLiteral("Save Rx and Tx Data to Disk");
    request.strFolder = QStringLiteral(".");
    request.strProposedName = QStringLiteral("DataCapture.txt");
    request.strFilters = QStringLiteral("Text Files (*.txt);;All Files (*.*)");
    request.strDefaultSuffix = QStringLiteral("TXT");
    const QString path = AskSaveFileName(request);
    if (path.isEmpty())
        return SAVE_CANCELLED;
    // Lines that arrived while the dialog was open are part of the capture now.
    QString error;
    switch (WriteCaptureFile(path, tx, rx, &error)) {
    case CAPTURE_WRITTEN:
        return SAVE_WRITTEN;
    case CAPTURE_CANNOT_OPEN:
        ShowMessageBox(owner, QStringLiteral("Unable to open file."), QStringLiteral("Error"),
                       QMessageBox::Ok, QMessageBox::Warning);
        return SAVE_FAILED;
    case CAPTURE_WRITE_FAILED:
        ShowMessageBox(
            owner,
            QStringLiteral("Unable to write the capture to \"%1\": %2\n\nThe capture is still in the "
                           "lists; choose another file.")
                .arg(path, error),
            QStringLiteral("Error"), QMessageBox::Ok, QMessageBox::Warning);
        return SAVE_FAILED;
    }
    return SAVE_FAILED;
}

void OfferAbandonedCaptures() {
    struct SLeft {
        std::unique_ptr<CCaptureJournal> pJournal;
        std::unique_ptr<CCaptureLines> pTx, pRx;
    };
    std::vector<SLeft> left;
    for (auto& journal : CCaptureJournal::TakeAbandoned()) {
        SLeft capture{std::move(journal), std::make_unique<CCaptureLines>(),
                      std::make_unique<CCaptureLines>()};
        capture.pTx->OpenJournal(capture.pJournal->TxPath());
        capture.pRx->OpenJournal(capture.pJournal->RxPath());
        if (capture.pTx->Count() == 0 && capture.pRx->Count() == 0) {
            capture.pTx.reset();
            capture.pRx.reset();
            capture.pJournal->Remove(); // nothing was captured: nothing to offer
            continue;
        }
        left.push_back(std::move(capture));
    }
    if (left.empty())
        return;
    const bool save =
        ShowMessageBox(
            nullptr,
            QStringLiteral("POS Emulator did not close normally last time. Save the capture it was "
                           "holding?"),
            QStringLiteral("POS Emulator"), QMessageBox::Yes | QMessageBox::No,
            QMessageBox::Question) == QMessageBox::Yes;
    for (SLeft& capture : left) {
        // A save that failed keeps the journals, to be offered again at the next start.
        if (save && SaveCaptureAs(nullptr, *capture.pTx, *capture.pRx) == SAVE_FAILED)
            continue;
        capture.pTx.reset();
        capture.pRx.reset();
        capture.pJournal->Remove();
    }
}
