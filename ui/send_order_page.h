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
    // A Run that cannot start, a link lost: the design's text on the status line, said each time,
    // with what to do next when the text does not tell it.
    void TellProblem(const QString& text, const QString& wayOut = QString());
    // The order closed by itself without a line to play (an order file that could not be read).
    void OrderEndedUnplayed();
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

    bool m_bScriptUnreadable = false; // the order loaded was empty because its file could not be read
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
