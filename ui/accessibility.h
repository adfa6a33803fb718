#pragma once

#include <QString>
#include <functional>

class QAbstractButton;
class QLabel;
class QWidget;

// What screen readers need that the widgets do not give by themselves.

// Ties a list or field to its label: the label's buddy (and with it the labelled-by relation), and
// the label's text, less its colon, as the field's description, which Orca reads after the value
// that Qt on Linux names a combo box by ("9600 combo box. Baud rate.").
void TieToLabel(QLabel* label, QWidget* field);

// Marks a button as one that shows and hides a part of its window (whatItShows: "the raw data"), and
// says which state it is in: screen readers hear it as expanded or collapsed, and hear the change.
void SetExpandedState(QAbstractButton* button, bool expanded, const QString& whatItShows);

// Has screen readers say a text once, politely (after what they are saying), as a notification of
// the widget's window.
void Announce(QWidget* inWindow, const QString& text, const QString& description = QString());
// Hears every announcement as it is made (tests: events reach no handler without a screen reader);
// returns the previous observer.
using AnnouncementObserver = std::function<void(const QString& text, const QString& description)>;
AnnouncementObserver SetAnnouncementObserver(AnnouncementObserver observer);
// Shows a text on a status line and has screen readers say it once, politely (after what they are
// saying), with the line's description; an empty text or the same one again says nothing.
void AnnounceStatus(QLabel* statusLine, const QString& text);

// Puts in place the accessible interfaces the program's own widgets need; once is enough.
void InstallAccessibleInterfaces();
