#pragma once

#include "capture/capture_journal.h"
#include "script/order_session.h"
#include "ui/capture_list_model.h"
#include "ui/config_page.h"
#include "ui/small_dialogs.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QRect>
#include <QTimer>
#include <atomic>

class CEmulatorApp;
class CSendOrderPage;
class QCheckBox;
class QLabel;
class QListView;
class QPushButton;
class QTabBar;

// States of an activity lamp; each indicator-timer tick moves a lamp one step.
enum { IND_IDLE = -1, IND_OFF = 0, IND_FLASH = 100, IND_ALARM_ON = 200, IND_ALARM_OFF = 201 };

// The main window's timers.
enum { TIMER_EXPAND = 1, TIMER_COLLAPSE = 2, TIMER_INDICATOR = 3, TIMER_ORDER = 4 };

// The main window: three tab pages, the capture lists in a details area that slides open, the
// activity lamps, and the face of the order session that plays a script to the OCS (defined in
// ui/order_engine.cpp).
class CMainDialog : public QDialog {
    Q_OBJECT
public:
    explicit CMainDialog(CEmulatorApp* app, QWidget* parent = nullptr);
    ~CMainDialog() override;

    // Order engine.
    bool OpenConnection(QString* why = nullptr);
    void CloseConnection();
    void OnOrderTimer();
    bool StepOnce();
    void StopOrder();
    bool IsConnected() const;
    bool IsConnecting() const { return m_session.IsConnecting(); }
    bool IsRunning() const { return m_session.IsRunning(); }
    bool IsStepMode() const { return m_session.IsStepMode(); }
    COrderSession& Session() { return m_session; }
    const CCaptureListModel& TxModel() const { return m_modelTx; }
    const CCaptureListModel& RxModel() const { return m_modelRx; }

    // Capture.
    void AddTxLine(const QByteArray& text, int kind);
    void AddRxLine(const QByteArray& text, bool serial);
    void OnSaveCapture();

    // Window.
    void OnDetailsArrow();
    void OnTabSelChanging(int leaving);
    void OnTabSelChange(int index);
    void OnTimer(int id);
    void LoadShowWizardCheck();
    void StoreShowWizardCheck();
    void ShowAboutBox();
    int CurrentTab() const;
    void SelectTab(int index);

    COrderSession m_session;
    CFinishOrderDialog m_finishDialog;
    std::atomic<int> m_nRxIndicator{IND_OFF};
    std::atomic<int> m_nTxIndicator{IND_OFF};
    CEmulatorApp* m_pApp;
    CConfigPage* m_pagePos = nullptr;
    CConfigPage* m_pageComm = nullptr;
    int m_bExpanded = 0;
    CSendOrderPage* m_pageSendOrder = nullptr;
    int m_nCollapseBy = 0;
    QRect m_rcCollapsed;
    QRect m_rcExpanded;
    // The details area as the template places it; a window made bigger gives the lists the rest.
    QRect m_rcTxList;
    QRect m_rcRxList;
    QRect m_rcSave;
    QRect m_rcRxCaption;
    QLabel* m_staticRxCaption = nullptr;
    QLabel* m_staticDetails = nullptr;
    QPushButton* m_btnSave = nullptr;
    QLabel* m_iconTx = nullptr;
    QLabel* m_iconRx = nullptr;
    QListView* m_listTx = nullptr;
    QListView* m_listRx = nullptr;
    CCaptureListModel m_modelTx;
    CCaptureListModel m_modelRx;
    CCaptureJournal m_journal; // where the two lists are kept on disk while the program runs
    bool m_bJournalFailureTold = false;
    QPushButton* m_btnDetails = nullptr;
    QTabBar* m_tabCtrl = nullptr;
    int m_bShowWizardCheck = 0;
    QCheckBox* m_checkShowWizard = nullptr;
    // The controls of the details area, below the collapsed window's edge.
    QList<QWidget*> m_detailControls;
    bool m_bShownOnce = false;
    // Whether the settings pages may be used; applied to a page as it is shown, so that an order's
    // start and end do not flood screen readers with the state of every hidden control.
    bool m_bSettingsEnabled = true;
    // Said once the finishing dialog has gone: said while it closes, a screen reader drops it.
    bool m_bStopUnsaid = false;
    int m_nStepsTaken = 0;   // in this order, for telling the wrap back to line 1
    int m_nLastLineKind = 0; // of the line last told; a data line without a link was not sent
    void ShowDetailControls(bool show);
    void AnnounceOrderStarted();
    void SetDetailsHint(bool expanded);
    bool SettingsEnabled() const { return m_bSettingsEnabled; }

    // Tells once that the capture is held in memory only from now on.
    void ReportJournalFailure(const QString& reason);

    // Replaces a settings page (tab 1 or 2) by the real one; the window owns it.
    void SetSettingsPage(int tab, CConfigPage* page);

public slots:
    void reject() override; // Escape and the close box: the quit question

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void OnInitDialog();
    void ConnectSession();
    void EnableSettingsPages(bool enable);
    void EndWaitCursor();
    void HandleConnectOutcome();
    QPoint PageOrigin() const;
    void RaiseAbovePages();
    void StepDetailsAnimation(bool expand);
    void LayOutDetails();

    QTimer m_timerExpand;
    QTimer m_timerCollapse;
    QTimer m_timerIndicator;
    bool m_bWaitCursor = false;
    int m_nLastTab = 0;
};
