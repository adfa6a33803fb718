// The window's face of the order session: it opens and closes orders as the Send Order page asks,
// and shows what the session reports in the lists, the status line, the lamps and by voice.
#include "app/emulator_app.h"
#include "capture/capture_log.h"
#include "ui/accessibility.h"
#include "ui/main_dialog.h"
#include "ui/message_box.h"
#include "ui/send_order_page.h"

#include <QGuiApplication>
#include <QProgressBar>

namespace {
const char CONNECT_FAILED_TEXT[] =
    "Unable to connect to OCS.  Check to make sure the OCS exists on the same subnet on the network, "
    "and the the specified IP address is correct.\n\nAlso, verify the integrity of the connection by "
    "'ping'ing the OCS from a DOS prompt (for example, if the OCS IP address is 192.168.21.1, type "
    "\"ping 192.168.21.1\" at the DOS prompt to see if the OCS replies.";
} // namespace

void CMainDialog::ConnectSession() {
    connect(&m_session, &COrderSession::Connecting, this, [this](const QString& address) {
        Announce(this, QStringLiteral("Connecting to the OCS at %1").arg(address), QStringLiteral("Status"));
        if (!m_bWaitCursor) {
            m_bWaitCursor = true;
            QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        }
    });
    connect(&m_session, &COrderSession::Connected, this, [this] {
        EndWaitCursor();
        EnableSettingsPages(false);
        AnnounceOrderStarted();
    });
    connect(&m_session, &COrderSession::ConnectFailed, this, &CMainDialog::HandleConnectOutcome);
    connect(&m_session, &COrderSession::LinkLost, this, [this](const QString& reason) {
        CloseConnection();
        // The capture shows where the link ended, after the last line that went out whole.
        AddTxLine("Connection Error!", TXLINE_COMMENT);
        // The link ended in the middle of an order: say so, the lamps alone do not.
        m_pageSendOrder->TellProblem(reason, QStringLiteral("Press Stop, then Run to start again."));
    });
    connect(&m_session, &COrderSession::LineSent, this, [this](const SSentLine& line) {
        if (line.IsData())
            m_nTxIndicator = IND_FLASH;
        m_nLastLineKind = line.nKind;
        AddTxLine(line.text, line.nKind);
    });
    connect(&m_session, &COrderSession::ReplyReceived, this, [this](const QByteArray& text, bool serial) {
        m_nRxIndicator = IND_FLASH;
        AddRxLine(text, serial);
    });
    connect(&m_session, &COrderSession::FinishProgress, this, [this](int index, int count) {
        // A progress bar repaints at once when its text changes; that waits until the line is out.
        if (m_finishDialog.m_bFinishShown)
            m_finishDialog.SetProgress(count, index);
    });
    connect(&m_session, &COrderSession::Finished, this, [this] {
        const bool stopped = m_session.IsFinishing(); // until the close: the pass ends after a Stop
        CloseConnection();
        // An order that ended by itself had nothing to play: Run is usable again, and why is said.
        if (!stopped)
            m_pageSendOrder->OrderEndedUnplayed();
    });
}

bool CMainDialog::IsConnected() const {
    return m_session.IsOpen();
}

void CMainDialog::EnableSettingsPages(bool enable) {
    m_bSettingsEnabled = enable;
    // A hidden page takes its state when it is shown (OnTabSelChange).
    for (CConfigPage* page : {m_pagePos, m_pageComm}) {
        if (page->isVisible())
            page->setEnabled(enable);
    }
}

void CMainDialog::EndWaitCursor() {
    if (m_bWaitCursor) {
        m_bWaitCursor = false;
        QGuiApplication::restoreOverrideCursor();
    }
}

bool CMainDialog::OpenConnection(QString* why) {
    if (!m_session.Open(m_pApp->m_settings, why))
        return false;
    m_nStepsTaken = 0;
    m_modelRx.Clear();
    m_modelTx.Clear();
    return true;
}

void CMainDialog::HandleConnectOutcome() {
    m_pageSendOrder->SetStatusText(QStringLiteral("Connection Error!"));
    m_nRxIndicator = IND_ALARM_ON;
    m_nTxIndicator = IND_ALARM_ON;
    EndWaitCursor();
    m_pageSendOrder->SetButtonStates(true, false);
    ShowMessageBox(this, QString::fromLatin1(CONNECT_FAILED_TEXT), QStringLiteral("Unable to connect to OCS"),
                   CMessageBox::Ok, CMessageBox::Warning);
}

void CMainDialog::CloseConnection() {
    m_session.Close();
    EndWaitCursor();
    // Nothing is left to finish once the line is closed, also when the OCS closed it.
    if (m_finishDialog.m_bFinishShown)
        QMetaObject::invokeMethod(&m_finishDialog, "close", Qt::QueuedConnection);
    EnableSettingsPages(true);
    // The order has ended: its capture goes to the disk now, not a second later.
    m_modelTx.SyncToDisk();
    m_modelRx.SyncToDisk();
    m_nRxIndicator = IND_OFF;
    m_nTxIndicator = IND_OFF;
    m_pageSendOrder->SetStatusText(QString());
    if (m_finishDialog.m_bFinishShown)
        m_bStopUnsaid = true;
    else
        Announce(this, QStringLiteral("Order stopped, connection closed"), QStringLiteral("Status"));
}

// By ear the page's pictures say nothing: the start of an order is told in words.
void CMainDialog::AnnounceOrderStarted() {
    Announce(this,
             m_session.IsStepMode()
                 ? QStringLiteral("Connected: each right click, Shift+F10 or Menu key on Run plays one line")
                 : QStringLiteral("Order running"),
             QStringLiteral("Status"));
}

void CMainDialog::OnOrderTimer() {
    m_session.OnTick();
}

bool CMainDialog::StepOnce() {
    if (!m_session.Step())
        return false;
    const COrderScript& script = m_session.Script();
    const int line = script.GetLineIndex() + 1;
    QString told = QStringLiteral("Line %1 of %2").arg(line).arg(script.GetLineCount());
    if (m_nLastLineKind == TXLINE_PLAIN)
        told += QStringLiteral(" not sent: the connection is still being made");
    else if (line == 1 && m_nStepsTaken > 0)
        told += QStringLiteral(" played, back at the start");
    else
        told += QStringLiteral(" played");
    ++m_nStepsTaken;
    Announce(this, told, QStringLiteral("Status"));
    return true;
}

void CMainDialog::StopOrder() {
    if (m_session.IsConnecting()) {
        m_session.Stop();
        EndWaitCursor();
        return;
    }
    if (!m_session.Stop())
        return;
    m_finishDialog.m_bFinishShown = 1;
    m_finishDialog.ProgressBar()->setValue(0);
    m_finishDialog.exec();
    if (m_bStopUnsaid) {
        m_bStopUnsaid = false;
        // After the window is back in front: its return is spoken first, and would cut this off.
        QTimer::singleShot(300, this, [this] {
            Announce(this, QStringLiteral("Order stopped, connection closed"), QStringLiteral("Status"));
        });
    }
}
