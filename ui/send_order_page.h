#pragma once

#include <QWidget>

class CAppSettings;
class CMainDialog;
class CRightClickButton;
class QLabel;
class QLineEdit;
class QPushButton;

// The first tab: Run, Stop, the right-click step, a summary of the settings and a red status line.
class CSendOrderPage : public QWidget {
    Q_OBJECT
public:
    CSendOrderPage(CMainDialog* main, CAppSettings* settings, QWidget* parent);

    void SetStatusText(const QString& text);
    QString StatusText() const;
    void SetButtonStates(bool runEnabled, bool stopEnabled);
    bool LoadSelectedScript();
    void OnRun();
    void OnStop();
    void OnRunStep();
    QWidget* RunButton() const;

    int m_bRunEnabled = 1;
    int m_bStopEnabled = 1;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void RefreshSummary();

    CMainDialog* m_pMain;
    CAppSettings* m_pSettings;
    CRightClickButton* m_pRun;
    QPushButton* m_pStop;
    QLabel* m_pStatus;
    QLineEdit* m_pPosName;
    QLabel* m_pIcon;
    QLabel* m_pInterface;
    QLabel* m_pParameter;
};
