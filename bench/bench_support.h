#pragma once

#include <QFile>
#include <cstdio>

// A figure of /proc/self/status ("VmRSS:" resident now, "VmHWM:" its peak) in megabytes.
inline double StatusMegabytes(const char* key = "VmRSS:") {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(qsizetype(qstrlen(key))).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}
// Resident memory of this process in megabytes.
inline double ResidentMegabytes() {
    return StatusMegabytes("VmRSS:");
}
// Resident peak since the last ResetResidentPeak.
inline double ResidentPeakMegabytes() {
    return StatusMegabytes("VmHWM:");
}
inline void ResetResidentPeak() {
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

#include "app/app_settings.h"
#include "transport/socket_compat.h"

#include <QDir>
#include <QTemporaryDir>

// Offscreen, with a profile store and a current folder of the benchmark's own (call before the
// application object exists); message boxes print instead of waiting.
inline void PrepareBenchEnvironment(QTemporaryDir& home) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit()); // the capture journals
    QDir::setCurrent(home.path());
}

// Writes POS/<name>.vlq in the current folder.
inline bool WritePosScript(const QString& name, const QByteArray& content) {
    QDir().mkpath(QStringLiteral("POS"));
    QFile file(QStringLiteral("POS/") + name + QStringLiteral(".vlq"));
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// A listening socket on port 48501 of a loopback address, or SOCKET_INVALID.
inline SocketHandle ListenLoopback(const char* address, int backlog = 4) {
    SocketStartup();
    const SocketHandle fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof(yes));
    sockaddr_storage addr;
    socklen_t length = 0;
    SocketAddressOf(address, 48501, &addr, &length);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), length) != 0 || ::listen(fd, backlog) != 0) {
        SocketCloseHandle(fd);
        return SOCKET_INVALID;
    }
    return fd;
}

// Settings that play the named POS over TCP to a peer at address.
inline void PlayOverLoopback(CAppSettings& settings, const char* address, const char* pos) {
    settings.m_bUseNetwork = 1;
    settings.m_bUseSerial = 0;
    settings.m_strIpAddress = QString::fromLatin1(address);
    settings.m_strPosInterface = QString::fromLatin1(pos);
}
