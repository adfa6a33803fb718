#pragma once

#include "app/app_settings.h"
#include "ui/config_page.h"

class CEmulatorApp;
class COcsSearch;
struct SDetectResult;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

// How the OCS is reached: serial (port and line settings, or auto-detected) or network (IP address).
class CCommSettingsPage : public CConfigPage {
    Q_OBJECT
public:
    CCommSettingsPage(CEmulatorApp* app, QWidget* parent);

    void LoadFromSettings() override;
    void SaveToSettings() override;
    bool IsSerialSelected() const;
    bool IsNetworkSelected() const;
    void UpdateControlStates();
    void OnExpandDetails();
    // Starts the search on a worker; the page stays responsive, a small dialog shows each try and
    // cancels it.
    void OnDetectNow();
    bool IsDetecting() const;
    void OnSettingChanged();
    // A chosen port whose device is not there gives way to the first USB adapter that is (the wizard's
    // serial step: a technician setting up has the adapter plugged in).
    void PreferPresentAdapter();

protected:
    void OnEnable(bool enabled) override;
    void OnPageShow() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct SListBinding {
        int nId;
        QString CAppSettings::*pField;
    };
    static const SListBinding LISTS[6];
    QComboBox* List(int id) const;
    void ShowPortDevice();
    void LabelPorts();
    QStringList m_adapterNotes;
    void OnDetectFinished(const SDetectResult& result, bool serialBefore);

    CEmulatorApp* m_pApp;
    QRadioButton* m_pSerial;
    QRadioButton* m_pNetwork;
    QPushButton* m_pExpand;
    QCheckBox* m_pAutodetect;
    QPushButton* m_pDetectNow;
    QLineEdit* m_pIpAddress;
    COcsSearch* m_pSearch = nullptr;
};
