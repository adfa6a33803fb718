#include "app/app_settings.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryFile>
#include <climits>

const char* const SETTINGS_PARITY_NAMES[5] = {"None", "Odd", "Even", "Mark", "Space"};
const char* const SETTINGS_STOPBITS_NAMES[3] = {"1", "1.5", "2"};

namespace {

constexpr SSettingEntry IntEntry(const char* section, const char* entry, const char* def,
                                 int CAppSettings::*field) {
    return {section, entry, SETTING_INT, def, field, nullptr};
}
constexpr SSettingEntry StrEntry(const char* section, const char* entry, const char* def,
                                 QString CAppSettings::*field) {
    return {section, entry, SETTING_STRING, def, nullptr, field};
}

const char* const COMM = "Communications";
const char* const POS = "Point of Sale";

const std::array<SSettingEntry, SETTINGS_ENTRY_COUNT> g_table = {{
    IntEntry(COMM, "Use Network", "0", &CAppSettings::m_bUseNetwork),
    IntEntry(COMM, "Use Serial", "0", &CAppSettings::m_bUseSerial),
    StrEntry(COMM, "IP Address", "127.0.0.1", &CAppSettings::m_strIpAddress),
    StrEntry(COMM, "Baud Selection", "9600", &CAppSettings::m_strBaud),
    StrEntry(COMM, "Databits Selection", "8", &CAppSettings::m_strDataBits),
    StrEntry(COMM, "Flowcontrol Selection", "None", &CAppSettings::m_strFlowControl),
    StrEntry(COMM, "Parity Selection", "None", &CAppSettings::m_strParity),
    StrEntry(COMM, "Port Selection", "COM1", &CAppSettings::m_strPort),
    StrEntry(COMM, "Stopbits Selection", "1", &CAppSettings::m_strStopBits),
    IntEntry(COMM, "Autodetect", "1", &CAppSettings::m_bAutodetect),
    IntEntry("", "Show Wizard on Startup", "1", &CAppSettings::m_bShowWizard),
    StrEntry(POS, "POS Interface", "", &CAppSettings::m_strPosInterface),
    IntEntry(POS, "Calculate Checksum", "0", &CAppSettings::m_bCalcChecksum),
    IntEntry(POS, "Include ETX in Checksum", "0", &CAppSettings::m_bIncludeEtx),
}};

// Use Network, Use Serial, Port, IP Address, then the rest in read order.
const std::array<int, SETTINGS_ENTRY_COUNT> g_saveOrder = {{0, 1, 7, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13}};

// A stored int is a whole number or it reads as the default (text in an INI file, DWORD in the registry).
int ReadInt(const QVariant& value, int def) {
    if (!value.isValid())
        return def;
    bool ok = false;
    const qlonglong n = value.toString().trimmed().toLongLong(&ok);
    if (!ok || n < INT_MIN || n > INT_MAX)
        return def;
    return static_cast<int>(n);
}

} // namespace

const std::array<SSettingEntry, SETTINGS_ENTRY_COUNT>& SettingsTable() {
    return g_table;
}
const std::array<int, SETTINGS_ENTRY_COUNT>& SettingsSaveOrder() {
    return g_saveOrder;
}

QString SettingKey(const SSettingEntry& entry) {
    const QString name = QString::fromLatin1(entry.pszEntry);
    if (entry.pszSection[0] == '\0')
        return name;
    return QString::fromLatin1(entry.pszSection) + QLatin1Char('/') + name;
}

void LoadSettingsFrom(QSettings& store, CAppSettings& settings) {
    for (const SSettingEntry& entry : g_table) {
        const QVariant value = store.value(SettingKey(entry));
        if (entry.type == SETTING_INT) {
            settings.*entry.pnField = ReadInt(value, QByteArray(entry.pszDefault).toInt());
        } else {
            // A list or other non-text value is not a string entry; take the default.
            const bool isText = value.isValid() && value.canConvert<QString>() &&
                                value.metaType().id() != QMetaType::QStringList;
            settings.*entry.pstrField = isText ? value.toString() : QString::fromLatin1(entry.pszDefault);
        }
    }
}

QByteArray SanitizeProfileText(const QByteArray& text) {
    if (!text.contains("@Variant("))
        return text;
    QByteArray out;
    for (const QByteArray& line : text.split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals >= 0 && line.mid(equals + 1).trimmed().startsWith("@Variant("))
            continue;
        out += line + '\n';
    }
    out.chop(1);
    return out;
}

void LoadSettingsFromFile(const QString& path, CAppSettings& settings) {
    QFile file(path);
    const QByteArray text = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const QByteArray safe = SanitizeProfileText(text);
    if (safe == text) {
        QSettings store(path, QSettings::IniFormat);
        LoadSettingsFrom(store, settings);
        return;
    }
    QTemporaryFile copy;
    if (copy.open()) {
        copy.write(safe);
        copy.flush();
    }
    QSettings store(copy.fileName(), QSettings::IniFormat);
    LoadSettingsFrom(store, settings);
}

void SaveSettingsTo(QSettings& store, const CAppSettings& settings) {
    for (int index : g_saveOrder) {
        const SSettingEntry& entry = g_table[index];
        if (entry.type == SETTING_INT)
            store.setValue(SettingKey(entry), settings.*entry.pnField);
        else
            store.setValue(SettingKey(entry), settings.*entry.pstrField);
    }
}

int AtoiLike(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    int i = 0;
    const int n = bytes.size();
    while (i < n && (bytes[i] == ' ' || (bytes[i] >= '\t' && bytes[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < n && (bytes[i] == '+' || bytes[i] == '-')) {
        negative = bytes[i] == '-';
        ++i;
    }
    long long value = 0;
    while (i < n && bytes[i] >= '0' && bytes[i] <= '9') {
        // Saturate rather than overflow; atoi itself leaves this undefined.
        if (value < 10'000'000'000LL)
            value = value * 10 + (bytes[i] - '0');
        ++i;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

namespace {
template <size_t N> int IndexOfExact(const QString& text, const char* const (&names)[N]) {
    for (size_t i = 0; i < N; ++i) {
        if (text == QLatin1String(names[i]))
            return static_cast<int>(i);
    }
    return -1;
}
} // namespace

int CAppSettings::GetPortNumber() const {
    return AtoiLike(m_strPort.mid(3));
}
int CAppSettings::GetBaudRate() const {
    return AtoiLike(m_strBaud);
}
int CAppSettings::GetParityIndex() const {
    return IndexOfExact(m_strParity, SETTINGS_PARITY_NAMES);
}
int CAppSettings::GetDataBits() const {
    return AtoiLike(m_strDataBits);
}
int CAppSettings::GetStopBitsIndex() const {
    return IndexOfExact(m_strStopBits, SETTINGS_STOPBITS_NAMES);
}

const SSerialChoice SERIAL_CHOICES[5] = {
    {"--baud", SERIAL_BAUD_ITEMS, &CAppSettings::m_strBaud, SERIAL_STANDARD_BAUDS},
    {"--parity", SERIAL_PARITY_ITEMS, &CAppSettings::m_strParity, nullptr},
    {"--data-bits", SERIAL_DATABITS_ITEMS, &CAppSettings::m_strDataBits, nullptr},
    {"--stop-bits", SERIAL_STOPBITS_ITEMS, &CAppSettings::m_strStopBits, nullptr},
    {"--flow", SERIAL_FLOW_ITEMS, &CAppSettings::m_strFlowControl, nullptr},
};
