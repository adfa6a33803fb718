#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

// One question or notice to the user, as the program asks it.
struct SMessageBox {
    QWidget* pOwner = nullptr;
    QString strText;
    QString strCaption;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

using MessageBoxHandler = std::function<QMessageBox::StandardButton(const SMessageBox&)>;

// Every message box of the program goes through here, so that tests can answer them.
QMessageBox::StandardButton ShowMessageBox(QWidget* owner, const QString& text, const QString& caption,
                                           QMessageBox::StandardButtons buttons, QMessageBox::Icon icon);

// Installs a replacement (tests, console tools); returns the previous one. An empty handler restores
// the default, which shows a real box when widgets exist and prints to standard error otherwise.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
