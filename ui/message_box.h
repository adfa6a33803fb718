#pragma once

#include <QFlags>
#include <QString>
#include <functional>

class QWidget;

// The buttons and icons of a message, with the values the window's message box gives them.
struct CMessageBox {
    enum StandardButton : unsigned {
        NoButton = 0x00000000,
        Ok = 0x00000400,
        Yes = 0x00004000,
        No = 0x00010000,
        Cancel = 0x00400000,
    };
    Q_DECLARE_FLAGS(StandardButtons, StandardButton)
    enum Icon { NoIcon = 0, Information = 1, Warning = 2, Critical = 3, Question = 4 };
};
Q_DECLARE_OPERATORS_FOR_FLAGS(CMessageBox::StandardButtons)

// One question or notice to the user, as the program asks it.
struct SMessageBox {
    QWidget* pOwner = nullptr;
    QString strText;
    QString strCaption;
    CMessageBox::StandardButtons buttons = CMessageBox::Ok;
    CMessageBox::Icon icon = CMessageBox::NoIcon;
};

using MessageBoxHandler = std::function<CMessageBox::StandardButton(const SMessageBox&)>;

// Everything the program must tell or ask the user goes through here: the window answers it with a
// message box, the command-line tools on standard error, tests with a handler of their own.
CMessageBox::StandardButton ShowMessageBox(QWidget* owner, const QString& text, const QString& caption,
                                           CMessageBox::StandardButtons buttons, CMessageBox::Icon icon);

// Installs a replacement; returns the previous one. An empty handler restores the default, which
// prints the message to standard error and takes the first of its buttons.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
