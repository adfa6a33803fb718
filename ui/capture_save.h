#pragma once

class CCaptureLines;
class QWidget;

enum ESaveOutcome { SAVE_CANCELLED, SAVE_WRITTEN, SAVE_FAILED };

// Saves the two capture lists as the Save button does: the save dialog, then the capture file, with
// the error boxes.
ESaveOutcome SaveCaptureAs(QWidget* owner, const CCaptureLines& tx, const CCaptureLines& rx);

// At start-up: captures left by a POS Emulator or pos-player that did not end normally are offered
// back, with one question; those not saved are deleted. Journals of running programs are left alone.
void OfferAbandonedCaptures();
