#include "ui/send_order_page.h"

#include "app/app_settings.h"
#include "res/resource_images.h"
#include "script/pos_catalogue.h"
#include "ui/accessibility.h"
#include "ui/dialog_builder.h"
#include "ui/main_dialog.h"
#include "ui/message_box.h"
#include "ui/right_click_button.h"

#include "transport/port_names.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

CSendOrderPage::CSendOrderPage(CMainDialog* main, CAppSettings* settings, QWidget* parent)
    : QWidget(parent), m_pMain(main), m_pSettings(settings), m_pRun(new CRightClickButton) {
    BuildDialog(this, *FindDialogTemplate(IDD_SEND_ORDER), {{IDC_ORDER_RUN, m_pRun}});
    m_pStop = Control<QPushButton>(this, IDC_ORDER_STOP);
    m_pStatus = Control<QLabel>(this, IDC_ORDER_STATUS);
    m_pPosName = Control<QLineEdit>(this, IDC_ORDER_POS_NAME);
    m_pIcon = Control<QLabel>(this, IDC_ORDER_LINK_ICON);
    m_pInterface = Control<QLabel>(this, IDC_ORDER_LINK_KIND);
    m_pParameter = Control<QLabel>(this, IDC_ORDER_LINK_DETAIL);

    m_pRun->setAccessibleName(QStringLiteral("Run"));
    m_pStop->setAccessibleName(QStringLiteral("Stop"));
    // The status line is announced by the text it shows; what it is comes as its description.
    m_pStatus->setAccessibleDescription(QStringLiteral("Status"));
    m_pPosName->setAccessibleName(QStringLiteral("POS Interface:"));
    m_pIcon->setAccessibleName(QStringLiteral("Connection type"));
    // Shown enabled: a disabled label would draw the red text grey.
    m_pStatus->setEnabled(true);
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(10);
    font.setBold(true);
    m_pStatus->setFont(font);
    QPalette palette = m_pStatus->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    m_pStatus->setPalette(palette);

    SetButtonStates(true, false);
    m_pRun->setToolTip(QStringLiteral("Send order data to OCS"));
    m_pStop->setToolTip(QStringLiteral("Stop sending order data"));
    connect(m_pRun, &QPushButton::clicked, this, &CSendOrderPage::OnRun);
    connect(m_pStop, &QPushButton::clicked, this, &CSendOrderPage::OnStop);
    connect(m_pRun, &CRightClickButton::StepRequested, this, &CSendOrderPage::OnRunStep);
}

void CSendOrderPage::SetStatusText(const QString& text) {
    AnnounceStatus(m_pStatus, text);
    m_pStatus->setToolTip(text); // the whole of a text longer than the line
}
void CSendOrderPage::TellProblem(const QString& text, const QString& wayOut) {
    m_pStatus->setText(text);
    m_pStatus->setToolTip(wayOut.isEmpty() ? text : text + QLatin1Char(' ') + wayOut);
    Announce(m_pStatus, m_pStatus->toolTip(), m_pStatus->accessibleDescription());
}

void CSendOrderPage::OrderEndedUnplayed() {
    SetButtonStates(true, false);
    m_pRun->setFocus(Qt::OtherFocusReason);
    SetStatusText(m_bScriptUnreadable ? QStringLiteral("Nothing was sent: the order file could not be read.")
                                      : QStringLiteral("Nothing was sent: the order has no lines to play."));
}

QWidget* CSendOrderPage::RunButton() const {
    return m_pRun;
}

QString CSendOrderPage::StatusText() const {
    return m_pStatus->text();
}

void CSendOrderPage::SetButtonStates(bool runEnabled, bool stopEnabled) {
    m_bRunEnabled = runEnabled;
    m_bStopEnabled = stopEnabled;
    // The button that cannot be used is insensitive for screen readers too; the focus goes over to
    // the one that can, so that Enter on Run then Enter again stops.
    // (The window's focus: a dialog in front, the finishing one, may hold the keyboard meanwhile.)
    QWidget* focus = window()->focusWidget();
    const bool runHadFocus = focus == m_pRun;
    const bool stopHadFocus = focus == m_pStop;
    m_pRun->setEnabled(runEnabled);
    m_pStop->setEnabled(stopEnabled);
    if (runHadFocus && !runEnabled && stopEnabled)
        m_pStop->setFocus(Qt::OtherFocusReason);
    else if (stopHadFocus && runEnabled && !stopEnabled)
        m_pRun->setFocus(Qt::OtherFocusReason);
    m_pRun->setIcon(ResourceIcon(runEnabled ? IDB_RUN : IDB_RUN_OFF));
    m_pStop->setIcon(ResourceIcon(stopEnabled ? IDB_STOP : IDB_STOP_OFF));
    m_pRun->setProperty("imageId", runEnabled ? IDB_RUN : IDB_RUN_OFF);
    m_pStop->setProperty("imageId", stopEnabled ? IDB_STOP : IDB_STOP_OFF);
}

void CSendOrderPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    RefreshSummary();
}

void CSendOrderPage::RefreshSummary() {
    if (!m_pSettings)
        return;
    QString link = QStringLiteral("no connection chosen");
    if (m_pSettings->m_bUseSerial) {
        m_pIcon->setPixmap(ResourcePixmap(IDI_SERIAL));
        m_pInterface->setText(QStringLiteral("Serial Interface"));
        m_pParameter->setText(m_pSettings->m_strBaud + QStringLiteral(" Baud"));
        const QString adapter = PortAdapter(m_pSettings->m_strPort);
        link = QStringLiteral("Serial %1%2 at %3 baud")
                   .arg(m_pSettings->m_strPort,
                        adapter.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(AdapterLabel(adapter)),
                        m_pSettings->m_strBaud);
    } else if (m_pSettings->m_bUseNetwork) {
        m_pIcon->setPixmap(ResourcePixmap(IDI_NETWORK));
        m_pInterface->setText(QStringLiteral("Network Interface"));
        m_pParameter->setText(m_pSettings->m_strIpAddress);
        link = QStringLiteral("Network %1").arg(m_pSettings->m_strIpAddress);
    }
    // The summary's labels cannot be reached with Tab: Run tells the connection it will use.
    m_pRun->setAccessibleDescription(QStringLiteral("Send order data to OCS: ") + link);
    m_pPosName->setText(m_pSettings->m_strPosInterface);
    // One-line texts keep their whole line in fonts wider than the template's.
    for (QLabel* label : {m_pInterface, m_pParameter})
        label->resize(std::max(label->width(), label->sizeHint().width()), label->height());
}

bool CSendOrderPage::LoadSelectedScript() {
    if (!m_pSettings || !m_pMain)
        return false;
    if (m_pSettings->m_strPosInterface.isEmpty()) {
        TellProblem(QStringLiteral("Warning: Go to POS Settings to select POS"));
        return false;
    }
    const QString path = PosScriptPath(m_pSettings->m_strPosInterface);
    if (!FileExists(ResolveScriptPath(path))) {
        TellProblem(QStringLiteral("Error: Unable to find POS data"),
                    QStringLiteral("The file %1 is gone: choose a POS on the POS Settings page.")
                        .arg(QDir::toNativeSeparators(path)));
        return false;
    }
    QString unreadable;
    if (!m_pMain->Session().Script().LoadOrderFile(path, &unreadable)) {
        TellProblem(QStringLiteral("Error: Unable to load POS data"),
                    QStringLiteral("Check the file %1, or choose another POS on the POS Settings page.")
                        .arg(QDir::toNativeSeparators(path)));
        return false;
    }
    m_bScriptUnreadable = !unreadable.isEmpty();
    if (!unreadable.isEmpty())
        ShowMessageBox(nullptr, unreadable, QStringLiteral("Warning"), CMessageBox::Ok,
                       CMessageBox::Information);
    return true;
}

void CSendOrderPage::OnRun() {
    if (!m_bRunEnabled || !m_pMain)
        return;
    if (m_pMain->IsStepMode()) {
        Announce(this, QStringLiteral("Stepping: each right click, Shift+F10 or Menu key on Run plays one "
                                      "line; Stop ends the order"));
        return;
    }
    if (m_pMain->IsRunning() || m_pMain->IsConnecting())
        return;
    if (!LoadSelectedScript())
        return;
    QString why;
    if (m_pMain->OpenConnection(&why)) {
        SetButtonStates(false, true);
        SetStatusText(QString());
    } else {
        TellProblem(QStringLiteral("Unable to Initiate Comms! ") + why);
        SetButtonStates(true, false);
    }
}

void CSendOrderPage::OnStop() {
    if (!m_bStopEnabled || !m_pMain)
        return;
    m_pMain->StopOrder();
    SetButtonStates(true, false);
}

void CSendOrderPage::OnRunStep() {
    if (!m_bRunEnabled || !m_pMain)
        return;
    if (m_pMain->IsRunning() && !m_pMain->IsStepMode())
        return;
    if (!m_pMain->IsStepMode()) {
        if (!LoadSelectedScript())
            return;
        m_pMain->Session().SetStepMode(true);
        QString why;
        if (!m_pMain->OpenConnection(&why)) {
            m_pMain->Session().SetStepMode(false);
            TellProblem(QStringLiteral("Unable to Initiate Comms! ") + why);
            return;
        }
        SetButtonStates(true, true);
        SetStatusText(QString());
    }
    SetStatusText(m_pMain->StepOnce() ? QString() : QStringLiteral("Unable to send order data"));
}
