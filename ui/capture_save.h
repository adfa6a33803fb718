#pragma once

#include <functional>

class CCaptureLines;
class QString;
class QWidget;

enum ESaveOutcome { SAVE_CANCELLED, SAVE_WRITTEN, SAVE_FAILED };

// Saves the two capture lists as the Save button does: the save dialog, then the capture file, with
// the error boxes. `savedTo` receives the file's path.
ESaveOutcome SaveCaptureAs(QWidget* owner, const CCaptureLines& tx, const CCaptureLines& rx,
                           QString* savedTo = nullptr);

// At start-up: captures left by a POS Emulator or pos-player that did not end normally are offered
// back, with one question; No deletes them. Many are saved into one folder chosen once. Journals of running
// programs are left alone.
void OfferAbandonedCaptures();

// How far the saving of many left captures is (done of total); false to stop there, the rest being
// kept. Replaces the progress dialog (tests); returns the previous handler.
using RecoveryProgressHandler = std::function<bool(int done, int total)>;
RecoveryProgressHandler SetRecoveryProgressHandler(RecoveryProgressHandler handler);
