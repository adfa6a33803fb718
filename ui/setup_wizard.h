#pragma once

#include "ui/config_page.h"

#include <QDialog>

class CEmulatorApp;
class CCommSettingsPage;
class CPosSettingsPage;
class QCheckBox;
class QPushButton;

class CWelcomePage : public CConfigPage {
    Q_OBJECT
public:
    CWelcomePage(CAppSettings* settings, QWidget* parent);
};

class CSummaryPage : public CConfigPage {
    Q_OBJECT
public:
    CSummaryPage(CAppSettings* settings, QWidget* parent);
    void OnPageShow() override;
};

// The first-run walk through the choices: Welcome, POS, Communications, Summary. Finish stores both
// pages and the start-up box, Skip only the start-up box, quitting nothing (and ends the program).
class QLabel;

class CSetupWizard : public QDialog {
    Q_OBJECT
public:
    explicit CSetupWizard(CEmulatorApp* app, QWidget* parent = nullptr);

    void ShowStep();
    void FillSummary();
    void CommitSettings();
    void OnNext();
    void OnPrev();
    void OnSkip();
    void OnOK();
    void OnCancel();

    CAppSettings* m_pSettings;
    CSummaryPage* m_pageSummary;
    CWelcomePage* m_pageWelcome;
    CPosSettingsPage* m_pagePos;
    CCommSettingsPage* m_pageComm;
    CConfigPage* m_pages[4];
    int m_nStep = 0;
    int m_bCanFinish = 1;
    int m_bQuit = 0;
    int m_bDone = 0;
    QCheckBox* m_checkStartup;
    QPushButton* m_btnPrev;
    QLabel* m_pFinishHint = nullptr;
    QPushButton* m_btnNext;

public slots:
    void reject() override;
    void accept() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};
