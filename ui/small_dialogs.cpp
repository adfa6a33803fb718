#include "ui/small_dialogs.h"

#include "res/resource_images.h"
#include "ui/dialog_builder.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QProgressBar>
#include <QPushButton>

CFinishOrderDialog::CFinishOrderDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::FramelessWindowHint) {
    BuildDialog(this, *FindDialogTemplate(IDD_FINISH_ORDER));
    m_pProgress = Control<QProgressBar>(this, IDC_FINISH_PROGRESS);
    m_pProgress->setAccessibleName(QStringLiteral("Progress"));
    setAccessibleName(QStringLiteral("Please wait while the order is being finished..."));
    setModal(true);
}

void CFinishOrderDialog::SetProgress(int count, int position) {
    if (m_bFinishShown)
        m_pProgress->setRange(0, count);
    if (m_bFinishShown)
        m_pProgress->setValue(position);
}

void CFinishOrderDialog::done(int result) {
    m_bFinishShown = 0;
    QDialog::done(result);
}

void CFinishOrderDialog::closeEvent(QCloseEvent* event) {
    m_bFinishShown = 0;
    QDialog::closeEvent(event);
}

// Enter closes it as Escape does; the order finishes behind it either way.
void CFinishOrderDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        reject();
        return;
    }
    QDialog::keyPressEvent(event);
}

CAboutDialog::CAboutDialog(QWidget* parent) : QDialog(parent) {
    BuildDialog(this, *FindDialogTemplate(IDD_ABOUTBOX));
    setWindowIcon(ResourceIcon(IDR_MAINFRAME));
    auto* ok = Control<QPushButton>(this, IDC_OK);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
