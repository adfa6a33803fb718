#pragma once

#include <QString>
#include <array>

class QSettings;

// The operator's choices, shared in place by the pages, the engine and the auto-detection.
// Serial parameters stay in the texts the pages show; the getters convert on demand.
class CAppSettings {
public:
    int m_bShowWizard = 1;
    QString m_strPort;
    QString m_strBaud;
    QString m_strParity;
    QString m_strDataBits;
    QString m_strStopBits;
    QString m_strFlowControl;
    int m_bCalcChecksum = 0;
    int m_bIncludeEtx = 0;
    int m_bUseNetwork = 0;
    int m_bUseSerial = 0;
    int m_bAutodetect = 0;
    QString m_strPosInterface = QStringLiteral("None");
    QString m_strIpAddress = QStringLiteral("127.0.0.1");
    QString m_strPosFolder; // never persisted

    int GetPortNumber() const;
    int GetBaudRate() const;
    int GetParityIndex() const;
    int GetDataBits() const;
    int GetStopBitsIndex() const;
};

enum ESettingType { SETTING_INT, SETTING_STRING };

// One persisted entry; an empty section addresses the application key itself.
struct SSettingEntry {
    const char* pszSection;
    const char* pszEntry;
    ESettingType type;
    const char* pszDefault; // the default as text, for both types
    int CAppSettings::*pnField;
    QString CAppSettings::*pstrField;
};

constexpr int SETTINGS_ENTRY_COUNT = 14;

// The entries in the order they are read.
const std::array<SSettingEntry, SETTINGS_ENTRY_COUNT>& SettingsTable();
// Indices into SettingsTable() in the order they are written.
const std::array<int, SETTINGS_ENTRY_COUNT>& SettingsSaveOrder();

// The store key of an entry ("Communications/Use Serial", or the bare entry name).
QString SettingKey(const SSettingEntry& entry);

void LoadSettingsFrom(QSettings& store, CAppSettings& settings);

// The profile text without lines whose value is a serialized "@Variant(...)": the store would rebuild
// any type from them, with sizes taken from the file (a damaged file could ask for gigabytes). None of
// the program's entries is stored that way.
QByteArray SanitizeProfileText(const QByteArray& text);
// Loads from a profile file in the INI format, read through SanitizeProfileText.
void LoadSettingsFromFile(const QString& path, CAppSettings& settings);
void SaveSettingsTo(QSettings& store, const CAppSettings& settings);

// atoi(): leading blanks, optional sign, digits up to the first non-digit; no digits give 0.
int AtoiLike(const QString& text);

// Parity and stop-bit names in code order.
extern const char* const SETTINGS_PARITY_NAMES[5];
extern const char* const SETTINGS_STOPBITS_NAMES[3];

// The serial line choices, as the Communications page lists them and pos-player's options take them:
// one table for both.
constexpr char SERIAL_BAUD_ITEMS[] = "9600\n19200";
constexpr char SERIAL_PARITY_ITEMS[] = "None\nOdd\nEven\nMark\nSpace";
constexpr char SERIAL_DATABITS_ITEMS[] = "5\n6\n7\n8";
constexpr char SERIAL_STOPBITS_ITEMS[] = "1\n1.5\n2";
constexpr char SERIAL_FLOW_ITEMS[] = "None\nHardware\nSoftware";
// The rates pos-player takes; the window keeps and uses any rate stored, though its list offers two.
constexpr char SERIAL_STANDARD_BAUDS[] = "1200\n2400\n4800\n9600\n19200\n38400\n57600\n115200";
struct SSerialChoice {
    const char* pszOption; // pos-player's option
    const char* pszItems;  // the list's items, separated by '\n'
    QString CAppSettings::*pstrField;
    const char* pszTaken; // what pos-player takes, when more than the list offers
};
extern const SSerialChoice SERIAL_CHOICES[5];
