#include "app/window_feedback.h"

#include "app/message_box.h"
#include "app/wait_cursor.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>

void InstallWindowFeedback() {
    SetMessageBoxHandler([](const SMessageBox& box) {
        QMessageBox dialog(static_cast<QMessageBox::Icon>(box.icon), box.strCaption, box.strText,
                           QMessageBox::StandardButtons(int(box.buttons)), box.pOwner);
        return static_cast<CMessageBox::StandardButton>(dialog.exec());
    });
    SetWaitCursorHandler([](bool waiting) {
        if (waiting)
            QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        else
            QGuiApplication::restoreOverrideCursor();
    });
}
