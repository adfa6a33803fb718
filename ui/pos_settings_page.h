#pragma once

#include "ui/config_page.h"

class CEmulatorApp;
class QCheckBox;
class QComboBox;

// Which POS model to emulate, from the POS folder. The checksum options follow the chosen name
// (on for a PC-POS model, ETX excluded) and live in two check boxes that are never shown.
class CPosSettingsPage : public CConfigPage {
    Q_OBJECT
public:
    CPosSettingsPage(CEmulatorApp* app, QWidget* parent);

    void LoadFromSettings() override;
    void SaveToSettings() override;
    QString GetSelectedPos() const;
    void FillPosList();
    void UpdateEtxState();
    void OnPosSelected();
    void OnRefresh() { LoadFromSettings(); }

    QComboBox* PosList() const { return m_pList; }
    QCheckBox* ChecksumBox() const { return m_pChecksum; }
    QCheckBox* EtxBox() const { return m_pEtx; }

protected:
    void OnEnable(bool enabled) override;

private:
    CEmulatorApp* m_pApp;
    QComboBox* m_pList;
    QCheckBox* m_pChecksum;
    QCheckBox* m_pEtx;
};
