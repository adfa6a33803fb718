#include "ui/message_box.h"

#include <cstdio>

namespace {

MessageBoxHandler& Handler() {
    static MessageBoxHandler handler;
    return handler;
}

CMessageBox::StandardButton FirstButton(CMessageBox::StandardButtons buttons) {
    for (auto b : {CMessageBox::Ok, CMessageBox::Yes, CMessageBox::No, CMessageBox::Cancel}) {
        if (buttons & b)
            return b;
    }
    return CMessageBox::NoButton;
}

CMessageBox::StandardButton PrintMessage(const SMessageBox& box) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(box.strCaption), qPrintable(box.strText));
    return FirstButton(box.buttons);
}

} // namespace

CMessageBox::StandardButton ShowMessageBox(QWidget* owner, const QString& text, const QString& caption,
                                           CMessageBox::StandardButtons buttons, CMessageBox::Icon icon) {
    SMessageBox box{owner, text, caption, buttons, icon};
    // Copy, so that a handler may replace itself while it runs.
    const MessageBoxHandler handler = Handler();
    return handler ? handler(box) : PrintMessage(box);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    MessageBoxHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}
