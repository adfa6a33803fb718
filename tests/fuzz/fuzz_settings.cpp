// Settings from arbitrary profile-store text: every entry loads (its default when unreadable) and the
// getters answer.
#include "app/app_settings.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("profile.conf"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    CAppSettings settings;
    LoadSettingsFromFile(path, settings);
    (void)settings.GetPortNumber();
    (void)settings.GetBaudRate();
    (void)settings.GetDataBits();
    if (settings.GetParityIndex() < -1 || settings.GetParityIndex() > 4)
        std::abort();
    if (settings.GetStopBitsIndex() < -1 || settings.GetStopBitsIndex() > 2)
        std::abort();
    return 0;
}
