#include "ui/main_dialog.h"

#include "app/emulator_app.h"
#include "capture/capture_log.h"
#include "res/resource_images.h"
#include "script/pos_catalogue.h"
#include "ui/accessibility.h"
#include "ui/capture_save.h"
#include "ui/comm_settings_page.h"
#include "ui/dialog_builder.h"
#include "ui/message_box.h"
#include "ui/pos_settings_page.h"
#include "ui/send_order_page.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QResizeEvent>
#include <QTabBar>

namespace {
const char ABOUT_ITEM[] = "&About Ordsim...";
const char HINT_SHOW[] = "To see details, click the arrow...";
const char HINT_HIDE[] = "To hide details, click the arrow...";
constexpr int ANIMATION_STEP = 10;
constexpr int LAMP_RAISE = 15;
} // namespace

CMainDialog::CMainDialog(CEmulatorApp* app, QWidget* parent)
    : QDialog(parent), m_finishDialog(this), m_pApp(app) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    BuildDialog(this, *FindDialogTemplate(IDD_MAIN));
    m_staticDetails = Control<QLabel>(this, IDC_MAIN_DETAILS_HINT);
    m_btnSave = Control<QPushButton>(this, IDC_MAIN_SAVE);
    m_iconTx = Control<QLabel>(this, IDC_MAIN_TX_LAMP);
    m_iconRx = Control<QLabel>(this, IDC_MAIN_RX_LAMP);
    m_listTx = Control<QListView>(this, IDC_MAIN_TX_LIST);
    m_listRx = Control<QListView>(this, IDC_MAIN_RX_LIST);
    m_btnDetails = Control<QPushButton>(this, IDC_MAIN_DETAILS);
    m_tabCtrl = Control<QTabBar>(this, IDC_MAIN_TABS);
    m_checkShowWizard = Control<QCheckBox>(this, IDC_MAIN_SHOW_WIZARD);

    for (QListView* list : {m_listTx, m_listRx})
        list->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_modelTx.AttachView(m_listTx, true, QStringLiteral("lines sent"));
    m_modelRx.AttachView(m_listRx, false, QStringLiteral("replies"));
    // The lists live in journals on disk, so that a crash loses nothing shown and memory stays small.
    for (CCaptureListModel* model : {&m_modelTx, &m_modelRx})
        connect(model, &CCaptureListModel::JournalFailed, this, &CMainDialog::ReportJournalFailure,
                Qt::QueuedConnection);
    QString why;
    if (!m_journal.Create(&why) || !m_journal.Attach(m_modelTx.Storage(), m_modelRx.Storage(), &why))
        QMetaObject::invokeMethod(
            this, [this, why] { ReportJournalFailure(why); }, Qt::QueuedConnection);

    for (auto [timer, id] :
         {std::pair{&m_timerExpand, TIMER_EXPAND}, std::pair{&m_timerCollapse, TIMER_COLLAPSE},
          std::pair{&m_timerIndicator, TIMER_INDICATOR}}) {
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, &QTimer::timeout, this, [this, id = id] { OnTimer(id); });
    }
    ConnectSession();

    connect(m_btnDetails, &QPushButton::clicked, this, &CMainDialog::OnDetailsArrow);
    connect(m_btnSave, &QPushButton::clicked, this, &CMainDialog::OnSaveCapture);
    OnInitDialog();
}

CMainDialog::~CMainDialog() {
    // Quitting while an order plays: the link closes before the lists it feeds go.
    m_session.Close();
    EndWaitCursor();
    // A normal end: the journals go (after a crash they stay, and the next start offers them back).
    m_modelTx.CloseJournal();
    m_modelRx.CloseJournal();
    m_journal.Remove();
}

void CMainDialog::ReportJournalFailure(const QString& reason) {
    if (m_bJournalFailureTold)
        return;
    m_bJournalFailureTold = true;
    ShowMessageBox(
        this,
        QStringLiteral("The capture cannot be kept on disk (%1).\n\nFrom now on it is held in memory "
                       "only: nothing captured so far is lost, but it would not survive a crash. Save "
                       "it before you close POS Emulator.")
            .arg(reason),
        QStringLiteral("Capture"), CMessageBox::Ok, CMessageBox::Warning);
}

void CMainDialog::OnInitDialog() {
    m_bExpanded = 0;
    setWindowIcon(ResourceIcon(IDR_MAINFRAME));
    m_btnSave->setIcon(ResourceIcon(IDI_SAVE));
    m_rcExpanded = rect();
    m_rcCollapsed = m_rcExpanded;

    m_tabCtrl->addTab(QStringLiteral("Send Order"));
    m_tabCtrl->addTab(QStringLiteral("POS Settings"));
    m_tabCtrl->addTab(QStringLiteral("Communications"));
    m_tabCtrl->setAccessibleName(QStringLiteral("Pages"));

    auto* sendOrder = new CSendOrderPage(this, m_pApp ? &m_pApp->m_settings : nullptr, this);
    m_pageSendOrder = sendOrder;
    sendOrder->move(PageOrigin());
    sendOrder->show();
    SetSettingsPage(1, new CPosSettingsPage(m_pApp, this));
    SetSettingsPage(2, new CCommSettingsPage(m_pApp, this));
    connect(m_tabCtrl, &QTabBar::currentChanged, this, [this](int index) {
        OnTabSelChanging(m_nLastTab);
        m_nLastTab = index;
        OnTabSelChange(index);
    });

    for (QLabel* label : findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (label->text() == QLatin1String("[Rx] Data received from OCS:"))
            m_staticRxCaption = label;
    }
    m_rcTxList = m_listTx->geometry();
    m_rcRxList = m_listRx->geometry();
    m_rcSave = m_btnSave->geometry();
    m_rcRxCaption = m_staticRxCaption ? m_staticRxCaption->geometry() : QRect();

    // The collapsed window ends a little below the arrow, cutting off the whole details area.
    m_nCollapseBy = m_listRx->geometry().bottom() - m_btnDetails->geometry().bottom() - 3;
    setFixedSize(m_rcExpanded.width(), m_rcExpanded.height() - m_nCollapseBy);
    m_rcCollapsed.setBottom(m_rcExpanded.bottom() - m_nCollapseBy);
    m_btnDetails->setIcon(ResourceIcon(IDI_ARROW_DOWN));

    // Only the lower part of each lamp (the lamp and its label) shows, at the end of the tab row.
    for (QLabel* lamp : {m_iconRx, m_iconTx}) {
        lamp->move(lamp->x(), lamp->y() - LAMP_RAISE);
        lamp->raise();
    }
    m_iconRx->setAccessibleName(QStringLiteral("Rx"));
    m_iconTx->setAccessibleName(QStringLiteral("Tx"));
    m_btnDetails->setAccessibleName(QStringLiteral("Details"));
    m_btnSave->setAccessibleName(QStringLiteral("Save"));
    m_listTx->setAccessibleName(QStringLiteral("[Tx] Data transmitted to OCS:"));
    m_listRx->setAccessibleName(QStringLiteral("[Rx] Data received from OCS:"));

    m_pageSendOrder->SetStatusText(QString());
    SetDetailsHint(false);
    m_btnDetails->setToolTip(QStringLiteral("Click to show/hide raw data"));
    m_btnSave->setToolTip(QStringLiteral("Click to save raw data to disk"));
    LoadShowWizardCheck();

    // What lies below the collapsed window's edge is hidden with it: out of the tab chain and out of
    // a screen reader's view. The Details button says which state the area is in.
    for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!child->isWindow() && child->geometry().top() >= m_rcCollapsed.height() &&
            !qobject_cast<CConfigPage*>(child) && child != m_pageSendOrder)
            m_detailControls << child;
    }
    ShowDetailControls(false);
    SetExpandedState(m_btnDetails, false, QStringLiteral("the raw data"));
    // Top to bottom: the tabs, the page shown, the Details button, then the details area.
    SetTabChain({m_tabCtrl, m_pageSendOrder, m_pagePos, m_pageComm, m_btnDetails, m_btnSave, m_listTx,
                 m_listRx, m_checkShowWizard});

    if (m_pApp) {
        QString& pos = m_pApp->m_settings.m_strPosInterface;
        if (!FileExists(ResolveScriptPath(PosScriptPath(pos))))
            pos.clear();
    }
    m_timerIndicator.start(100);
}

QPoint CMainDialog::PageOrigin() const {
    return QPoint(m_tabCtrl->x() + 2, m_tabCtrl->geometry().bottom() + 3);
}

void CMainDialog::SetSettingsPage(int tab, CConfigPage* page) {
    CConfigPage*& slot = tab == 1 ? m_pagePos : m_pageComm;
    delete slot;
    slot = page;
    page->setParent(this);
    page->move(PageOrigin());
    if (tab == 2)
        page->resize(m_pageSendOrder->size());
    page->setEnabled(m_bSettingsEnabled);
    page->ShowPage(CurrentTab() == tab);
    RaiseAbovePages();
}

// The pages reach down to the arrow; the arrow, its hint and the lamps stay clickable above them.
void CMainDialog::RaiseAbovePages() {
    for (QWidget* w : {static_cast<QWidget*>(m_staticDetails), static_cast<QWidget*>(m_btnDetails),
                       static_cast<QWidget*>(m_iconRx), static_cast<QWidget*>(m_iconTx)})
        w->raise();
}

int CMainDialog::CurrentTab() const {
    return m_tabCtrl->currentIndex();
}
void CMainDialog::SelectTab(int index) {
    m_tabCtrl->setCurrentIndex(index);
}

void CMainDialog::OnTabSelChanging(int leaving) {
    if (leaving == 1 && m_pagePos->m_bModified)
        m_pagePos->SaveToSettings();
    else if (leaving == 2 && m_pageComm->m_bModified)
        m_pageComm->SaveToSettings();
}

void CMainDialog::OnTabSelChange(int index) {
    switch (index) {
    case 0:
        m_pagePos->ShowPage(false);
        m_pageComm->ShowPage(false);
        m_pageSendOrder->show();
        break;
    case 1:
        m_pageSendOrder->hide();
        m_pageComm->ShowPage(false);
        m_pagePos->LoadFromSettings();
        m_pagePos->setEnabled(m_bSettingsEnabled);
        m_pagePos->ShowPage(true);
        break;
    case 2:
        m_pageSendOrder->hide();
        m_pagePos->ShowPage(false);
        m_pageComm->LoadFromSettings();
        m_pageComm->setEnabled(m_bSettingsEnabled);
        m_pageComm->ShowPage(true);
        break;
    default:
        break;
    }
}

// The hint speaks of an arrow, a picture: by ear it says which button that is.
void CMainDialog::SetDetailsHint(bool expanded) {
    const QString hint = QString::fromLatin1(expanded ? HINT_HIDE : HINT_SHOW);
    m_staticDetails->setText(hint);
    m_staticDetails->setAccessibleName(hint + QStringLiteral(" (the arrow is the Details button)"));
}

void CMainDialog::ShowDetailControls(bool show) {
    for (QWidget* control : m_detailControls)
        control->setVisible(show);
}

void CMainDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_bShownOnce) {
        m_bShownOnce = true;
        m_pageSendOrder->RunButton()->setFocus(Qt::OtherFocusReason); // the window's first task
        // Presented as a window, it is not introduced with its labels: the page's hint is said once,
        // after the window and the focused button have been.
        QTimer::singleShot(1500, this, [this] {
            Announce(this, QStringLiteral("Click the Run button to send order data to the OCS.  Click the "
                                          "Stop button to finish sending the current order and close the "
                                          "connection."));
        });
    }
}

void CMainDialog::OnDetailsArrow() {
    if (!m_bExpanded && !m_timerExpand.isActive())
        ShowDetailControls(true); // they come into view as the window grows
    if (m_bExpanded && !m_timerCollapse.isActive()) {
        // A window made bigger goes back to the template's width at once; the height slides as ever.
        setFixedSize(m_rcExpanded.width(), std::max(height(), m_rcCollapsed.height()));
    }
    QTimer& timer = m_bExpanded ? m_timerCollapse : m_timerExpand;
    timer.start(1);
}

// One tick of the details animation: 10 pixels a tick, the rest on the last; the end state is set on
// the tick after the last resize.
void CMainDialog::StepDetailsAnimation(bool expand) {
    const int target = expand ? m_rcExpanded.height() : m_rcCollapsed.height();
    const int remaining = expand ? target - height() : height() - target;
    if (remaining > 0) {
        const int step = std::min(remaining, ANIMATION_STEP);
        setFixedSize(width(), height() + (expand ? step : -step));
        return;
    }
    (expand ? m_timerExpand : m_timerCollapse).stop();
    m_bExpanded = expand ? 1 : 0;
    if (expand) {
        // With the details shown the window may be made bigger, never smaller than the template.
        setMinimumSize(m_rcExpanded.size());
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
    m_btnDetails->setIcon(ResourceIcon(expand ? IDI_ARROW_UP : IDI_ARROW_DOWN));
    SetDetailsHint(expand);
    if (!expand)
        ShowDetailControls(false);
    SetExpandedState(m_btnDetails, expand, QStringLiteral("the raw data"));
}

void CMainDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    LayOutDetails();
}

// The lists share the height beyond the template's and take the width beyond it; the Save button and
// the [Rx] caption move with them; everything above stays where the template puts it.
void CMainDialog::LayOutDetails() {
    if (!m_listTx || m_rcTxList.isNull())
        return;
    const int extraWidth = std::max(0, width() - m_rcExpanded.width());
    const int extraHeight = std::max(0, height() - m_rcExpanded.height());
    const int txShare = extraHeight / 2;
    m_listTx->setGeometry(m_rcTxList.adjusted(0, 0, extraWidth, txShare));
    m_btnSave->setGeometry(m_rcSave.translated(extraWidth, txShare));
    if (m_staticRxCaption)
        m_staticRxCaption->setGeometry(m_rcRxCaption.translated(0, txShare));
    m_listRx->setGeometry(
        m_rcRxList.translated(0, txShare).adjusted(0, 0, extraWidth, extraHeight - txShare));
}

void CMainDialog::OnTimer(int id) {
    switch (id) {
    case TIMER_EXPAND:
        StepDetailsAnimation(true);
        break;
    case TIMER_COLLAPSE:
        StepDetailsAnimation(false);
        break;
    case TIMER_INDICATOR: {
        struct SLamp {
            std::atomic<int>* pState;
            QLabel* pLabel;
            int idle, activity, alarm;
        };
        const SLamp lamps[] = {{&m_nRxIndicator, m_iconRx, IDI_RX_IDLE, IDI_RX_ACTIVITY, IDI_RX_ALARM},
                               {&m_nTxIndicator, m_iconTx, IDI_TX_IDLE, IDI_TX_ACTIVITY, IDI_TX_ALARM}};
        for (const SLamp& lamp : lamps) {
            int icon = 0;
            int next = 0;
            int state = lamp.pState->load();
            switch (state) {
            case IND_OFF:
                icon = lamp.idle, next = IND_IDLE;
                break;
            case IND_FLASH:
                icon = lamp.activity, next = IND_OFF;
                break;
            case IND_ALARM_ON:
                icon = lamp.alarm, next = IND_ALARM_OFF;
                break;
            case IND_ALARM_OFF:
                icon = lamp.idle, next = IND_ALARM_ON;
                break;
            default:
                continue;
            }
            lamp.pLabel->setPixmap(ResourcePixmap(icon));
            lamp.pLabel->setProperty("iconId", icon);
            // A state the client's threads wrote meanwhile wins over this tick's step.
            lamp.pState->compare_exchange_strong(state, next);
        }
        break;
    }
    case TIMER_ORDER:
        OnOrderTimer();
        break;
    default:
        break;
    }
}

void CMainDialog::LoadShowWizardCheck() {
    if (!m_pApp)
        return;
    m_bShowWizardCheck = m_pApp->m_settings.m_bShowWizard;
    m_checkShowWizard->setChecked(m_bShowWizardCheck != 0);
}

void CMainDialog::StoreShowWizardCheck() {
    if (!m_pApp)
        return;
    m_bShowWizardCheck = m_checkShowWizard->isChecked() ? 1 : 0;
    m_pApp->m_settings.m_bShowWizard = m_bShowWizardCheck;
}

void CMainDialog::reject() {
    const auto answer =
        ShowMessageBox(this, QStringLiteral("Are you sure you want to quit?"), QStringLiteral("Quit"),
                       CMessageBox::Yes | CMessageBox::No | CMessageBox::Cancel, CMessageBox::Question);
    if (answer != CMessageBox::Yes)
        return;
    StoreShowWizardCheck();
    done(QDialog::Accepted);
}

void CMainDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept(); // Enter never closes the window
        return;
    }
    if (event->key() == Qt::Key_F1) {
        ShowAboutBox();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CMainDialog::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addSeparator();
    menu.addAction(QString::fromLatin1(ABOUT_ITEM), this, &CMainDialog::ShowAboutBox);
    menu.exec(event->globalPos());
}

void CMainDialog::ShowAboutBox() {
    CAboutDialog about(this);
    about.exec();
}

void CMainDialog::AddTxLine(const QByteArray& text, int kind) {
    m_modelTx.Append(FormatTxLine(text, kind));
}

void CMainDialog::AddRxLine(const QByteArray& text, bool serial) {
    m_modelRx.Append(FormatRxLine(text, serial));
}

void CMainDialog::OnSaveCapture() {
    if (m_modelTx.Lines().Count() <= 0 && m_modelRx.Lines().Count() <= 0) {
        ShowMessageBox(this,
                       QStringLiteral("There is no data to save.\n\nSend orders to the OCS to capture data."),
                       QStringLiteral("No Data Captured"), CMessageBox::Ok, CMessageBox::Information);
        return;
    }
    QString path;
    if (SaveCaptureAs(this, m_modelTx.Lines(), m_modelRx.Lines(), &path) == SAVE_WRITTEN)
        Announce(this, QStringLiteral("Capture saved to %1").arg(QFileInfo(path).fileName()));
    // Back from the dialogs (a replace question among them), the keyboard is the window's again.
    activateWindow();
    m_btnSave->setFocus(Qt::OtherFocusReason);
}
