// The order engine: members of the main window that open the connection, pace the script's lines on
// the order timer, put their bytes on the wire and close the connection again.
#include "app/emulator_app.h"
#include "app/message_box.h"
#include "capture/capture_log.h"
#include "script/order_line.h"
#include "ui/accessibility.h"
#include "ui/main_dialog.h"
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

bool CMainDialog::IsConnected() const {
    const CAppSettings& s = m_pApp->m_settings;
    return (s.m_bUseSerial && m_bSerialOpen) || (s.m_bUseNetwork && m_ocsClient.IsConnected());
}

void CMainDialog::EnableSettingsPages(bool enable) {
    m_pagePos->setEnabled(enable);
    m_pageComm->setEnabled(enable);
}

void CMainDialog::EndWaitCursor() {
    if (m_bWaitCursor) {
        m_bWaitCursor = false;
        QGuiApplication::restoreOverrideCursor();
    }
}

void CMainDialog::StartOrderTimer(int delayMs) {
    m_timerOrder.start(m_pacer.Schedule(delayMs));
}

bool CMainDialog::OpenConnection() {
    CAppSettings& s = m_pApp->m_settings;
    if (s.m_bUseSerial) {
        if (m_bSerialOpen)
            CloseConnection();
        ApplyPortSettings(m_portCtl, s);
        if (m_portCtl.OpenPort() < 1)
            return false;
        ++m_nLinkGeneration;
        m_bSerialOpen = 1;
        m_bRunning = 1;
        EnableSettingsPages(false);
        StartOrderTimer(ORDER_IDLE_DELAY_MS);
        AnnounceOrderStarted();
    } else if (s.m_bUseNetwork) {
        if (m_ocsClient.IsConnected() || m_bConnecting)
            return false;
        ++m_nLinkGeneration;
        // Replies of earlier links are dropped from here on; those of the new one are drained only
        // after the lists are emptied below (the drain runs on this thread), so a greeting on connect
        // shows too.
        ++m_nCaptureGeneration;
        if (m_ocsClient.Connect(s.m_strIpAddress, OCS_TCP_PORT) != 0)
            return false;
        m_bConnecting = true;
        Announce(this, QStringLiteral("Connecting to the OCS at %1").arg(s.m_strIpAddress),
                 QStringLiteral("Status"));
        if (!m_bWaitCursor) {
            m_bWaitCursor = true;
            QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        }
    } else {
        return false;
    }
    m_modelRx.Clear();
    m_modelTx.Clear();
    return true;
}

void CMainDialog::OnOcsConnect(const QString&, int, int error) {
    const unsigned generation = m_nLinkGeneration;
    m_handoff.Post([this, generation, error] {
        if (generation == m_nLinkGeneration)
            HandleConnectOutcome(error);
    });
}

void CMainDialog::HandleConnectOutcome(int error) {
    m_bConnecting = false;
    if (error == 0) {
        EndWaitCursor();
        m_bRunning = 1;
        EnableSettingsPages(false);
        StartOrderTimer(ORDER_IDLE_DELAY_MS);
        AnnounceOrderStarted();
        return;
    }
    m_pageSendOrder->SetStatusText(QStringLiteral("Connection Error!"));
    CloseClient();
    ++m_nLinkGeneration;
    m_nRxIndicator = IND_ALARM_ON;
    m_nTxIndicator = IND_ALARM_ON;
    EndWaitCursor();
    m_bStepMode = 0;
    m_pageSendOrder->SetButtonStates(true, false);
    ShowMessageBox(this, QString::fromLatin1(CONNECT_FAILED_TEXT), QStringLiteral("Unable to connect to OCS"),
                   CMessageBox::Ok, CMessageBox::Warning);
}

void CMainDialog::OnOcsReceive(const QString&, int, char* data, int length, int) {
    m_nRxIndicator = IND_FLASH;
    // The chunk whole is its [Rx] line: every byte shows, 0x00 as "<00>".
    if (m_replies.Push(m_nCaptureGeneration, QByteArray(data, std::max(0, length))))
        m_handoff.Post([this] { DrainReceived(); });
}

void CMainDialog::DrainReceived() {
    for (const SReplyChunk& chunk : m_replies.Take()) {
        if (chunk.nGeneration == m_nCaptureGeneration)
            AddRxLine(chunk.text, false);
    }
}

// Every close of the client goes through here: a receive thread waiting for the window must not hold
// up the Close that waits for it.
void CMainDialog::CloseClient() {
    m_replies.CloseSender([this] { m_ocsClient.Close(); });
}

void CMainDialog::OnOcsDisconnect(const QString&, int, int) {
    const unsigned generation = m_nLinkGeneration;
    m_handoff.Post([this, generation] {
        if (generation != m_nLinkGeneration)
            return;
        CloseConnection();
        // The OCS ended the link in the middle of an order: say so, the lamps alone do not.
        m_pageSendOrder->SetStatusText(QStringLiteral("Connection Error!"));
    });
}

void CMainDialog::CloseConnection() {
    const CAppSettings& s = m_pApp->m_settings;
    if (s.m_bUseSerial) {
        FinishSerialPass();
        m_portCtl.ClosePort();
        m_bSerialOpen = 0;
    } else if (s.m_bUseNetwork) {
        CloseClient();
        m_bConnecting = false;
        EndWaitCursor();
    }
    ++m_nLinkGeneration;
    // Nothing is left to finish once the line is closed, also when the OCS closed it.
    if (m_finishDialog.m_bFinishShown)
        QMetaObject::invokeMethod(&m_finishDialog, "close", Qt::QueuedConnection);
    EnableSettingsPages(true);
    m_bRunning = 0;
    m_pacer.Idle();
    // The order has ended: its capture goes to the disk now, not a second later.
    m_modelTx.SyncToDisk();
    m_modelRx.SyncToDisk();
    m_nRxIndicator = IND_OFF;
    m_nTxIndicator = IND_OFF;
    m_pageSendOrder->SetStatusText(QString());
    Announce(this, QStringLiteral("Order stopped, connection closed"), QStringLiteral("Status"));
}

// By ear the page's pictures say nothing: the start of an order is told in words.
void CMainDialog::AnnounceOrderStarted() {
    Announce(this,
             m_bStepMode
                 ? QStringLiteral("Connected: each right click, Shift+F10 or Menu key on Run plays one line")
                 : QStringLiteral("Order running"),
             QStringLiteral("Status"));
}

void CMainDialog::OnOrderTimer() {
    m_timerOrder.stop();
    const COrderPacer::CTick tick(m_pacer);

    if (m_bStepMode || !IsConnected()) {
        StartOrderTimer(ORDER_IDLE_DELAY_MS);
        return;
    }
    const bool wrap = m_bRunning;
    // A progress bar repaints at once when its text changes; that waits until the line is out.
    const bool progress = !m_bRunning && m_finishDialog.m_bFinishShown;
    const int index = m_script.GetLineIndex();
    QByteArray line;
    if (m_script.GetNextLine(line, wrap)) {
        const qint64 delay = PlayLine(line);
        StartOrderTimer(wrap ? ContinuousDelay(delay) : ORDER_FINISH_DELAY_MS);
        if (progress && m_finishDialog.m_bFinishShown)
            m_finishDialog.SetProgress(m_script.GetLineCount(), index);
        return;
    }
    if (progress)
        m_finishDialog.SetProgress(m_script.GetLineCount(), index);
    m_script.Rewind();
    CloseConnection();
}

qint64 CMainDialog::PlayLine(const QByteArray& line) {
    const SLinePlan plan = PlanLine(line);
    const CAppSettings& s = m_pApp->m_settings;
    int link = TXLINE_PLAIN;
    if (s.m_bUseSerial && m_bSerialOpen)
        link = TXLINE_SERIAL;
    else if (s.m_bUseNetwork && m_ocsClient.IsConnected())
        link = TXLINE_NETWORK;
    const int kind = TxLineKind(plan, link);
    AddTxLine(plan.text, kind);
    if (kind != TXLINE_SERIAL && kind != TXLINE_NETWORK)
        return plan.nDelayMs;
    for (const char byte : EncodeLineBytes(line, s.m_bCalcChecksum != 0, s.m_bIncludeEtx != 0)) {
        if (!SendByte(static_cast<unsigned char>(byte))) {
            // The OCS has stopped taking data: waiting on would freeze the window, so the link goes.
            CloseConnection();
            m_pageSendOrder->SetStatusText(QStringLiteral("Connection Error!"));
            break;
        }
    }
    return plan.nDelayMs;
}

bool CMainDialog::SendByte(int value) {
    const CAppSettings& s = m_pApp->m_settings;
    const char byte = static_cast<char>(value & 0xFF);
    if (s.m_bUseSerial && m_bSerialOpen) {
        m_portCtl.WriteByte(value & 0xFF);
        m_nTxIndicator = IND_FLASH;
    }
    if (s.m_bUseNetwork && m_ocsClient.IsConnected()) {
        m_nTxIndicator = IND_FLASH;
        // Not connected any more is no stall: the OCS closed, and its own event reports that.
        const int result = m_ocsClient.Send(&byte, 1);
        return result == TCP_OK || result == TCP_NOT_CONNECTED;
    }
    return true;
}

bool CMainDialog::StepOnce() {
    QByteArray line;
    if (!m_script.GetNextLine(line, true))
        return false;
    const bool played = PlayLine(line) >= 0;
    if (played && IsConnected())
        Announce(this,
                 QStringLiteral("Line %1 of %2 played")
                     .arg(m_script.GetLineIndex() + 1)
                     .arg(m_script.GetLineCount()),
                 QStringLiteral("Status"));
    return played;
}

void CMainDialog::StopOrder() {
    m_bStepMode = 0;
    if (m_bConnecting) {
        // Stop while connecting ends the attempt; its late outcome is dropped.
        CloseClient();
        ++m_nLinkGeneration;
        m_bConnecting = false;
        EndWaitCursor();
        return;
    }
    if (!m_bRunning)
        return;
    m_bRunning = 0;
    m_timerOrder.stop();
    StartOrderTimer(ORDER_FINISH_DELAY_MS);
    m_finishDialog.m_bFinishShown = 1;
    m_finishDialog.ProgressBar()->setValue(0);
    m_finishDialog.exec();
}

void CMainDialog::OnSerialInput() {
    m_serialGather.OnInput();
}

void CMainDialog::FinishSerialPass() {
    m_serialGather.Finish();
}

void CMainDialog::OnSerialReply(const QByteArray& text) {
    m_nRxIndicator = IND_FLASH;
    AddRxLine(text, true);
}

void CMainDialog::OnSerialPortLost() {
    if (!m_bSerialOpen)
        return;
    CloseConnection();
    m_pageSendOrder->SetStatusText(QStringLiteral("Connection Error!"));
}
