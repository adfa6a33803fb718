#include "ui/pos_settings_page.h"

#include "app/emulator_app.h"
#include "script/pos_catalogue.h"
#include "ui/dialog_builder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QPushButton>

CPosSettingsPage::CPosSettingsPage(CEmulatorApp* app, QWidget* parent)
    : CConfigPage(app ? &app->m_settings : nullptr, parent), m_pApp(app) {
    BuildDialog(this, *FindDialogTemplate(IDD_POS_SETTINGS));
    m_pList = Control<QComboBox>(this, IDC_POS_LIST);
    m_pChecksum = Control<QCheckBox>(this, IDC_POS_CHECKSUM);
    m_pEtx = Control<QCheckBox>(this, IDC_POS_INCLUDE_ETX);
    // The box keeps the program's own text on screen; a screen reader hears what it means.
    m_pEtx->setAccessibleDescription(QStringLiteral("Include ETX in checksum"));
    connect(m_pList, QOverload<int>::of(&QComboBox::activated), this, &CPosSettingsPage::OnPosSelected);
    connect(m_pChecksum, &QCheckBox::clicked, this, &CPosSettingsPage::UpdateEtxState);
    connect(Control<QPushButton>(this, IDC_POS_REFRESH), &QPushButton::clicked, this,
            &CPosSettingsPage::OnRefresh);
    LoadFromSettings();
}

void CPosSettingsPage::LoadFromSettings() {
    if (!m_pSettings)
        return;
    m_pChecksum->setChecked(m_pSettings->m_bCalcChecksum != 0);
    m_pEtx->setChecked(m_pSettings->m_bIncludeEtx != 0);
    FillPosList();
    // A stored name that is not listed leaves the list without a selection; it is not added.
    m_pList->setCurrentIndex(FindStringExact(m_pList, m_pSettings->m_strPosInterface));
    m_bModified = 0;
}

void CPosSettingsPage::FillPosList() {
    QStringList names;
    if (m_pApp) {
        QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); // a folder on a slow share
        m_pApp->EnumPosNames(names);
        QGuiApplication::restoreOverrideCursor();
    }
    m_pList->clear();
    for (const QString& name : names)
        InsertSorted(m_pList, name);
}

void CPosSettingsPage::OnPosSelected() {
    const int index = m_pList->currentIndex();
    if (index < 0)
        return;
    const QString name = m_pList->itemText(index);
    m_pChecksum->setChecked(PosUsesChecksum(name));
    m_pEtx->setChecked(false);
    UpdateEtxState();
    if (m_pSettings && m_pSettings->m_strPosInterface.compare(name, Qt::CaseInsensitive) != 0)
        m_bModified = 1;
}

void CPosSettingsPage::UpdateEtxState() {
    if (m_pChecksum->isChecked()) {
        m_pEtx->setEnabled(true);
    } else {
        m_pEtx->setEnabled(false);
        m_pEtx->setChecked(false);
    }
}

QString CPosSettingsPage::GetSelectedPos() const {
    return m_pList->currentIndex() >= 0 ? m_pList->currentText() : QString();
}

void CPosSettingsPage::SaveToSettings() {
    if (!m_pSettings)
        return;
    m_pSettings->m_strPosInterface = GetSelectedPos();
    m_pSettings->m_bCalcChecksum = m_pChecksum->isChecked() ? 1 : 0;
    m_pSettings->m_bIncludeEtx = m_pEtx->isChecked() ? 1 : 0;
    m_bModified = 0;
}

void CPosSettingsPage::OnEnable(bool enabled) {
    QWidget* refresh = FindControl(this, IDC_POS_REFRESH);
    if (enabled) {
        m_pChecksum->setEnabled(true);
        m_pList->setEnabled(true);
        refresh->setEnabled(true);
        UpdateEtxState();
    } else {
        for (QWidget* w : {static_cast<QWidget*>(m_pList), static_cast<QWidget*>(m_pChecksum),
                           static_cast<QWidget*>(m_pEtx), refresh})
            w->setEnabled(false);
    }
}
