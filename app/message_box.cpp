#include "app/message_box.h"

#include <QApplication>
#include <QPointer>
#include <cstdio>

namespace {

MessageBoxHandler& Handler() {
    static MessageBoxHandler handler;
    return handler;
}

QMessageBox::StandardButton FirstButton(QMessageBox::StandardButtons buttons) {
    for (auto b : {QMessageBox::Ok, QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel}) {
        if (buttons & b)
            return b;
    }
    return QMessageBox::NoButton;
}

QMessageBox::StandardButton DefaultHandler(const SMessageBox& box) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(box.strCaption), qPrintable(box.strText));
        return FirstButton(box.buttons);
    }
    QMessageBox dialog(box.icon, box.strCaption, box.strText, box.buttons, box.pOwner);
    return static_cast<QMessageBox::StandardButton>(dialog.exec());
}

} // namespace

QMessageBox::StandardButton ShowMessageBox(QWidget* owner, const QString& text, const QString& caption,
                                           QMessageBox::StandardButtons buttons, QMessageBox::Icon icon) {
    SMessageBox box{owner, text, caption, buttons, icon};
    // Copy, so that a handler may replace itself while it runs.
    const MessageBoxHandler handler = Handler();
    return handler ? handler(box) : DefaultHandler(box);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    MessageBoxHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}
