#pragma once

#include "app/app_settings.h"
#include "transport/ocs_detector.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QSettings;

constexpr const char* PROFILE_COMPANY = "Veltrin Applications";
constexpr const char* PROFILE_APPLICATION = "pos-emulator";

// The per-user profile store of the program.
std::unique_ptr<QSettings> OpenProfileStore();
// What differs by platform in the profile (emulator_app_posix.cpp, emulator_app_win.cpp):
// The folder that holds the profile store's file (on Windows, the folder such a file would have).
QString ProfileFolder();
// Reads and writes the settings in the profile store (on POSIX through a file that is sanitized
// first; on Windows the registry).
void LoadProfileSettings(CAppSettings& settings);
void SaveProfileSettings(const CAppSettings& settings);
// Where a user's own folders are: the home folder, or on Windows the documents folder.
QString UserWorkParent();

// The application object: owns the settings record and runs the program's whole life.
class CEmulatorApp {
public:
    CEmulatorApp();

    // Runs start-up, the windows and shutdown; returns the process exit code.
    int InitInstance();

    void LoadSettings();
    void SaveSettings();

    // Appends the name of every POS definition file in the POS folder.
    void EnumPosNames(QStringList& names) const;

    // Probes COM1..COM11 (adapters first) for an OCS, on this thread; on success the serial settings
    // take the ones that worked. `trying` hears of each port and baud rate before it is probed.
    bool AutoDetectSerial(const DetectProgress& trying = DetectProgress());

    CAppSettings m_settings;
    COcsDetector m_ocsDetector;
};

extern CEmulatorApp theApp;
