#pragma once

#include <QWidget>

class CAppSettings;

// A page of settings inside a host window (the main window's tabs, the setup wizard's steps).
// Pages write the settings record only when their host tells them to store.
class CConfigPage : public QWidget {
    Q_OBJECT
public:
    CConfigPage(CAppSettings* settings, QWidget* parent);

    // Runs OnPageShow() before showing; hosts show and hide pages only through here.
    void ShowPage(bool show);
    virtual void OnPageShow() {}
    virtual void LoadFromSettings() {}
    virtual void SaveToSettings() {}

    int m_bModified = 0;
    CAppSettings* m_pSettings;
    QWidget* m_pOwner;

protected:
    // Enter inside a page neither closes nor changes anything; Escape is the host window's.
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    virtual void OnEnable(bool /*enabled*/) {}
};
