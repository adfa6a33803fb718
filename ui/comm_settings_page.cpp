#include "ui/comm_settings_page.h"

#include "app/emulator_app.h"
#include "transport/ocs_detector.h"
#include "transport/port_names.h"
#include "ui/accessibility.h"
#include "ui/dialog_builder.h"
#include "ui/message_box.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>

const CCommSettingsPage::SListBinding CCommSettingsPage::LISTS[6] = {
    {IDC_COMM_PORT, &CAppSettings::m_strPort},          {IDC_COMM_BAUD, &CAppSettings::m_strBaud},
    {IDC_COMM_PARITY, &CAppSettings::m_strParity},      {IDC_COMM_DATA_BITS, &CAppSettings::m_strDataBits},
    {IDC_COMM_STOP_BITS, &CAppSettings::m_strStopBits}, {IDC_COMM_FLOW, &CAppSettings::m_strFlowControl},
};

namespace {
// A list's value: the stored text its item stands for (the port list shows more than the name).
QString ListValue(const QComboBox* list) {
    const QVariant value = list->currentData();
    return value.isValid() ? value.toString() : list->currentText();
}
int FindListValue(const QComboBox* list, const QString& value) {
    for (int i = 0; i < list->count(); ++i) {
        const QVariant data = list->itemData(i);
        if ((data.isValid() ? data.toString() : list->itemText(i)).compare(value, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

// The serial details, shown in the expanded view and hidden in the collapsed one.
const int DETAIL_IDS[] = {
    IDC_COMM_SERIAL_GROUP, IDC_COMM_AUTODETECT,      IDC_COMM_DETECT_NOW, IDC_COMM_PORT_LABEL,
    IDC_COMM_PORT,         IDC_COMM_BAUD_LABEL,      IDC_COMM_BAUD,       IDC_COMM_PARITY_LABEL,
    IDC_COMM_PARITY,       IDC_COMM_DATA_BITS_LABEL, IDC_COMM_DATA_BITS,  IDC_COMM_STOP_BITS_LABEL,
    IDC_COMM_STOP_BITS,    IDC_COMM_FLOW_LABEL,      IDC_COMM_FLOW};
const int LIST_AND_LABEL_IDS[] = {IDC_COMM_PORT,
                                  IDC_COMM_BAUD,
                                  IDC_COMM_PARITY,
                                  IDC_COMM_DATA_BITS,
                                  IDC_COMM_STOP_BITS,
                                  IDC_COMM_FLOW,
                                  IDC_COMM_PORT_LABEL,
                                  IDC_COMM_BAUD_LABEL,
                                  IDC_COMM_PARITY_LABEL,
                                  IDC_COMM_DATA_BITS_LABEL,
                                  IDC_COMM_STOP_BITS_LABEL,
                                  IDC_COMM_FLOW_LABEL};
} // namespace

CCommSettingsPage::CCommSettingsPage(CEmulatorApp* app, QWidget* parent)
    : CConfigPage(app ? &app->m_settings : nullptr, parent), m_pApp(app) {
    BuildDialog(this, *FindDialogTemplate(IDD_COMM_SETTINGS));
    m_pSerial = Control<QRadioButton>(this, IDC_COMM_SERIAL);
    m_pNetwork = Control<QRadioButton>(this, IDC_COMM_NETWORK);
    m_pExpand = Control<QPushButton>(this, IDC_COMM_EXPAND);
    m_pAutodetect = Control<QCheckBox>(this, IDC_COMM_AUTODETECT);
    m_pDetectNow = Control<QPushButton>(this, IDC_COMM_DETECT_NOW);
    m_pIpAddress = Control<QLineEdit>(this, IDC_COMM_IP_ADDRESS);

    // Lists are read by their value and then their label (tied by the builder); the pictures are
    // named by what they show.
    // The expand button is announced by its ">>" or "<<"; what it shows or hides comes as its state and
    // description.
    SetExpandedState(m_pExpand, false, QStringLiteral("the serial details"));
    for (QLabel* label : findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (label->objectName().isEmpty() && label->text().isEmpty())
            label->setAccessibleName(label->y() < 100 ? QStringLiteral("Serial cable")
                                                      : QStringLiteral("Network"));
    }

    connect(m_pSerial, &QRadioButton::clicked, this, &CCommSettingsPage::OnSettingChanged);
    connect(m_pNetwork, &QRadioButton::clicked, this, &CCommSettingsPage::OnSettingChanged);
    connect(m_pAutodetect, &QCheckBox::clicked, this, &CCommSettingsPage::OnSettingChanged);
    connect(m_pIpAddress, &QLineEdit::textChanged, this, &CCommSettingsPage::OnSettingChanged);
    for (const SListBinding& list : LISTS)
        connect(List(list.nId), QOverload<int>::of(&QComboBox::activated), this,
                &CCommSettingsPage::OnSettingChanged);
    connect(List(IDC_COMM_PORT), QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &CCommSettingsPage::ShowPortDevice);
    List(IDC_COMM_PORT)->view()->installEventFilter(this); // the list opening
    connect(m_pExpand, &QPushButton::clicked, this, &CCommSettingsPage::OnExpandDetails);
    connect(m_pDetectNow, &QPushButton::clicked, this, &CCommSettingsPage::OnDetectNow);

    // Ports above COM14 that the system has (Windows numbers USB adapters itself), with what they are.
    QComboBox* ports = List(IDC_COMM_PORT);
    for (const SPresentPort& port : OfferedComPorts()) {
        const QString name = QStringLiteral("COM%1").arg(port.nNumber);
        int index = FindStringExact(ports, name);
        if (index < 0) {
            ports->addItem(name);
            index = ports->count() - 1;
        }
        if (!port.strDescription.isEmpty())
            ports->setItemData(index, port.strDescription, Qt::ToolTipRole);
    }
    LabelPorts();
    LoadFromSettings();
    m_pExpand->setToolTip(QStringLiteral("Click to show/hide details"));
    m_pDetectNow->setToolTip(QStringLiteral("Click to auto-detect serial settings"));
    m_pSerial->setToolTip(QStringLiteral("Serial connection to OCS"));
    m_pNetwork->setToolTip(QStringLiteral("Network connection to OCS"));
}

QComboBox* CCommSettingsPage::List(int id) const {
    return Control<QComboBox>(this, id);
}

void CCommSettingsPage::LoadFromSettings() {
    if (!m_pSettings)
        return;
    const CAppSettings& s = *m_pSettings;
    (s.m_bUseNetwork ? m_pNetwork : m_pSerial)->setChecked(true);
    m_pAutodetect->setChecked(s.m_bAutodetect != 0);
    for (const SListBinding& binding : LISTS) {
        QComboBox* list = List(binding.nId);
        const QString& stored = s.*binding.pField;
        int index = FindListValue(list, stored);
        if (index < 0) {
            list->addItem(stored); // stays for the life of the page
            index = list->count() - 1;
            if (binding.nId == IDC_COMM_PORT)
                LabelPorts();
        }
        list->setCurrentIndex(index);
    }
    m_pIpAddress->setText(s.m_strIpAddress);
    UpdateControlStates();
    ShowPortDevice(); // also when the stored port is the list's first item and nothing changed
    m_bModified = 0;
}

void CCommSettingsPage::SaveToSettings() {
    if (!m_pSettings)
        return;
    CAppSettings& s = *m_pSettings;
    s.m_bUseSerial = IsSerialSelected() ? 1 : 0;
    s.m_bUseNetwork = IsNetworkSelected() ? 1 : 0;
    s.m_bAutodetect = m_pAutodetect->isChecked() ? 1 : 0;
    for (const SListBinding& binding : LISTS)
        s.*binding.pField = ListValue(List(binding.nId));
    s.m_strIpAddress = m_pIpAddress->text();
    m_bModified = 0;
}

bool CCommSettingsPage::IsSerialSelected() const {
    return m_pSerial->isChecked();
}
bool CCommSettingsPage::IsNetworkSelected() const {
    return m_pNetwork->isChecked();
}

void CCommSettingsPage::OnSettingChanged() {
    if (!m_pSettings)
        return;
    const CAppSettings& s = *m_pSettings;
    bool differs =
        (IsSerialSelected() ? 1 : 0) != s.m_bUseSerial || (IsNetworkSelected() ? 1 : 0) != s.m_bUseNetwork ||
        (m_pAutodetect->isChecked() ? 1 : 0) != s.m_bAutodetect || m_pIpAddress->text() != s.m_strIpAddress;
    for (const SListBinding& binding : LISTS)
        differs = differs || ListValue(List(binding.nId)) != s.*binding.pField;
    if (differs)
        m_bModified = 1;
    UpdateControlStates();
}

void CCommSettingsPage::UpdateControlStates() {
    const bool serial = IsSerialSelected();
    // Tab stops at the chosen connection only; the arrow keys move between the two.
    m_pSerial->setFocusPolicy(serial ? Qt::StrongFocus : Qt::ClickFocus);
    m_pNetwork->setFocusPolicy(serial ? Qt::ClickFocus : Qt::StrongFocus);
    const bool listsOn = serial && !m_pAutodetect->isChecked();
    m_pAutodetect->setEnabled(serial);
    m_pDetectNow->setEnabled(serial);
    for (int id : LIST_AND_LABEL_IDS)
        FindControl(this, id)->setEnabled(listsOn);
    m_pIpAddress->setEnabled(!serial);
}

void CCommSettingsPage::OnExpandDetails() {
    const bool expanded = m_pExpand->isChecked();
    m_pExpand->setText(expanded ? QStringLiteral("<<") : QStringLiteral(">>"));
    SetExpandedState(m_pExpand, expanded, QStringLiteral("the serial details"));
    FindControl(this, IDC_COMM_SERIAL_NOTE)->setVisible(!expanded);
    for (int id : DETAIL_IDS)
        FindControl(this, id)->setVisible(expanded);
}

void CCommSettingsPage::OnEnable(bool enabled) {
    if (enabled) {
        UpdateControlStates();
        return;
    }
    // A disabled page (a connection is open) shows every serial detail, greyed.
    m_pExpand->setChecked(true);
    OnExpandDetails();
}

bool CCommSettingsPage::IsDetecting() const {
    return m_pSearch && m_pSearch->IsRunning();
}

void CCommSettingsPage::OnDetectNow() {
    if (!m_pApp || IsDetecting())
        return;
    const bool serialBefore = IsSerialSelected();
    const QString searching = QStringLiteral("Searching the serial ports for an OCS");
    Announce(this, searching, QStringLiteral("Detect Now"));
    if (!m_pSearch)
        m_pSearch = new COcsSearch(m_pApp->m_ocsDetector, this);
    auto* progress = new QProgressDialog(searching, QStringLiteral("Cancel"), 0, SearchTryCount(), this);
    progress->setWindowTitle(QStringLiteral("Detect Now"));
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(0);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setAttribute(Qt::WA_DeleteOnClose);
    // The wait cursor lasts as long as the search's dialog, also when the page goes first.
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    connect(progress, &QObject::destroyed, [] { QGuiApplication::restoreOverrideCursor(); });
    connect(progress, &QProgressDialog::canceled, m_pSearch, &COcsSearch::Cancel);
    connect(m_pSearch, &COcsSearch::Trying, progress,
            [this, progress](const QString& port, const QString& baud, int index) {
                const QString trying = QStringLiteral("Trying %1 at %2 baud").arg(port, baud);
                progress->setLabelText(trying);
                Announce(this, trying);
                // A modal dialog's setValue runs the event loop, and with it the next ports' calls:
                // said before it, the ports are heard in the order they are tried.
                progress->setValue(index);
            });
    connect(m_pSearch, &COcsSearch::Skipped, progress, [this, progress](const QString& port) {
        progress->setLabelText(SkippedPortText(port));
        Announce(this, SkippedPortText(port));
    });
    connect(
        m_pSearch, &COcsSearch::Finished, this,
        [this, progress, serialBefore](const SDetectResult& result) {
            disconnect(m_pSearch, nullptr, progress, nullptr);
            disconnect(m_pSearch, &COcsSearch::Finished, this, nullptr);
            progress->close();
            OnDetectFinished(result, serialBefore);
        },
        Qt::QueuedConnection);
    m_pSearch->Start();
    progress->show();
}

void CCommSettingsPage::OnDetectFinished(const SDetectResult& result, bool serialBefore) {
    if (result.bCancelled) {
        Announce(this, QStringLiteral("Search cancelled; the settings are as they were"));
    } else if (result.bFound) {
        ApplyDetectResult(m_pApp->m_settings, result);
        ShowMessageBox(nullptr,
                       QStringLiteral("An OCS unit has been found. \n\nYour connection settings have been "
                                      "changed to match the detected OCS's settings.\n\nFound on ") +
                           DescribeDetectResult(result) + QLatin1Char('.'),
                       QStringLiteral("OCS Found"), CMessageBox::Ok, CMessageBox::Information);
    } else {
        ShowMessageBox(
            nullptr,
            QStringLiteral("No OCS unit was found.\n\nPlease make sure you are connected to an OCS "
                           "via serial cable and that the connection is sound."),
            QStringLiteral("OCS Not Found"), CMessageBox::Ok, CMessageBox::Warning);
    }
    // Nothing found, nothing changed: what the user set and has not applied yet stays.
    if (!result.bFound) {
        m_pDetectNow->setFocus(Qt::OtherFocusReason);
        return;
    }
    LoadFromSettings();
    UpdateControlStates();
    // What the page changed back to is said, and the focus stays where it can.
    if (IsSerialSelected() != serialBefore)
        Announce(this, IsSerialSelected() ? QStringLiteral("The connection is Serial again")
                                          : QStringLiteral("The connection is Network again"));
    if (m_pDetectNow->isEnabled() && m_pDetectNow->isVisible())
        m_pDetectNow->setFocus(Qt::OtherFocusReason);
    else
        (IsSerialSelected() ? m_pSerial : m_pNetwork)->setFocus(Qt::OtherFocusReason);
}

// Which device the COM name stands for on this machine, and whether it is there.
void CCommSettingsPage::ShowPortDevice() {
    const QString name = ListValue(List(IDC_COMM_PORT));
    const QString device = PortDeviceShown(name);
    const QString adapter = PortAdapter(name);
    const QString what = adapter.isEmpty() ? device : QStringLiteral("the USB adapter ") + adapter;
    // A name just given to another adapter says so, for as long as the page is open.
    QString note;
    for (const QString& told : m_adapterNotes) {
        if (told.startsWith(name + QStringLiteral(" now names")))
            note = QStringLiteral(" (") + told + QLatin1Char(')');
    }
    const QString tip = device.isEmpty() ? QStringLiteral("%1 names no serial device").arg(name)
                        : PortPresent(name)
                            ? QStringLiteral("%1 is %2 on this machine").arg(name, what)
                            : QStringLiteral("%1 stands for %2, which is not connected").arg(name, what);
    List(IDC_COMM_PORT)->setToolTip(tip + note);
}

// Each name shows its adapter, or that its device is not there; the value stays the name.
void CCommSettingsPage::LabelPorts() {
    QComboBox* ports = List(IDC_COMM_PORT);
    for (int i = 0; i < ports->count(); ++i) {
        const QVariant data = ports->itemData(i);
        const QString name = data.isValid() ? data.toString() : ports->itemText(i);
        ports->setItemData(i, name);
        ports->setItemText(i, PortItemText(name));
    }
}

void CCommSettingsPage::PreferPresentAdapter() {
    QComboBox* ports = List(IDC_COMM_PORT);
    if (PortPresent(ListValue(ports)))
        return;
    for (const int n : AdapterPortNumbers()) {
        const QString name = QStringLiteral("COM%1").arg(n);
        const int index = FindListValue(ports, name);
        if (PortPresent(name) && index >= 0) {
            ports->setCurrentIndex(index);
            OnSettingChanged();
            return;
        }
    }
}

// An adapter plugged in while the program runs gets its name when the page or the list is looked at.
void CCommSettingsPage::OnPageShow() {
    AssignAdapterPorts();
    m_adapterNotes << TakeAdapterNotes();
    LabelPorts();
    ShowPortDevice();
}

bool CCommSettingsPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == List(IDC_COMM_PORT)->view() && event->type() == QEvent::Show)
        OnPageShow();
    return CConfigPage::eventFilter(watched, event);
}
