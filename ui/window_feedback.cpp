#include "ui/window_feedback.h"

#include "ui/message_box.h"

#include <QApplication>
#include <QMessageBox>

void InstallWindowFeedback() {
    SetMessageBoxHandler([](const SMessageBox& box) {
        QMessageBox dialog(static_cast<QMessageBox::Icon>(box.icon), box.strCaption, box.strText,
                           QMessageBox::StandardButtons(int(box.buttons)), box.pOwner);
        return static_cast<CMessageBox::StandardButton>(dialog.exec());
    });
}
