// A simulated OCS: listens where the emulator connects, serves a pseudo-terminal behind a COM name,
// answers ENQ with ACK and prints every frame it receives with its checksum verdicts.
#include "frame_check.h"
#include "sim_platform.h"
#include "wire_recorder.h"

#include "app/app_settings.h"
#include "app/console.h"
#include "capture/capture_file.h"
#include "script/order_script.h"
#include "transport/port_names.h"
#include "transport/socket_compat.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

namespace {

volatile std::sig_atomic_t g_bStop = 0;
void OnSignal(int) {
    g_bStop = 1;
}

const char USAGE[] =
    "Usage: ocs-sim [--listen HOST] [--port N] [--serial COMn] [--reply TEXT] [--gap MS]\n"
    "               [--record FILE]\n"
    "\n"
    "A simulated OCS (order confirmation display) for the POS Emulator.\n"
    "\n"
    "  --listen HOST     address or name to listen on, TCP port 48501 (default 127.0.0.1); a\n"
    "                    name is resolved, IPv4 addresses first, and the first is used\n"
    "  --port N          listen on port N instead of 48501\n"
    "  --serial COMn     also serve a pseudo-terminal, published as COMn in the ports folder\n"
    "                    (removed again on exit), so that the emulator's serial line reaches it\n"
    "                    (not on Windows)\n"
    "  --reply TEXT      send TEXT back after each frame; TEXT in script notation, e.g. \"<06>\"\n"
    "  --gap MS          a frame ends at the next STX, or after MS milliseconds without a byte\n"
    "                    (default 50)\n"
    "  --record FILE     learn a POS from the wire: write everything received, on every\n"
    "                    connection and the serial line, as a POS definition file that POS Emulator\n"
    "                    and pos-player play back byte for byte; written when a\n"
    "                    connection ends and when ocs-sim ends\n"
    "  --help            show this text\n"
    "  --version         show the version\n"
    "\n"
    "Recording: one script line per frame (a frame ends after an ETX and its checksum byte, or after\n"
    "50 ms without a byte), printable bytes as themselves (but \"<\" as <3C>), others as <HH>, and a\n"
    "pause line <p>N where the POS waited beyond the 500 ms that follow every line. When every ETX\n"
    "carries the XOR checksum the emulator sends, the checksum bytes are left out and ocs-sim says\n"
    "how to play the file (checksum on, ETX excluded or included); otherwise they stay in the lines.\n"
    "A byte 0x3B (;) cannot be played (the format reads it as NUL): such lines are warned of.\n"
    "\n"
    "Every ENQ (<05>) is answered with ACK (<06>) at once. Each frame is printed with a millisecond\n"
    "time stamp in the capture notation (<02>ORDER<03>), followed by the verdict on each checksum\n"
    "byte after an ETX (the XOR from the second byte up to the ETX, without or with the ETX).\n"
    "Ends on Ctrl+C.\n";

struct SSource {
    SocketHandle fd = SOCKET_INVALID;
    QByteArray name;
    QByteArray pending;
    qint64 nLastByteMs = 0;
};

QElapsedTimer g_clock;
CWireRecorder* g_pRecorder = nullptr; // with --record

void Print(const QByteArray& what, const QByteArray& text) {
    const QByteArray stamp = QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz")).toLatin1();
    std::printf("%s %-22s %s\n", stamp.constData(), what.constData(), text.constData());
    std::fflush(stdout);
}

void WriteAll(SocketHandle fd, const QByteArray& data) {
    qsizetype done = 0;
    while (done < data.size()) {
        const long n = SimWrite(fd, data.constData() + done, size_t(data.size() - done));
        if (n <= 0)
            return;
        done += n;
    }
}

void FlushFrame(SSource& source, const QByteArray& reply) {
    if (source.pending.isEmpty())
        return;
    Print(source.name, DescribeFrame(source.pending));
    const bool onlyEnq = source.pending.count('\x05') == source.pending.size();
    source.pending.clear();
    if (!reply.isEmpty() && !onlyEnq)
        WriteAll(source.fd, reply);
}

// Takes bytes from a source; false when it has ended. An STX starts a new frame.
bool ReadSource(SSource& source, bool isSocket, const QByteArray& reply) {
    char buffer[4096];
    const long n = SimRead(source.fd, isSocket, buffer, sizeof(buffer));
    if (n == -2)
        return true;
    if (n <= 0)
        return false;
    if (g_pRecorder)
        g_pRecorder->Received(source.name, g_clock.elapsed(), QByteArray(buffer, n));
    for (long i = 0; i < n; ++i) {
        if (buffer[i] == 0x02)
            FlushFrame(source, reply);
        if (buffer[i] == 0x05)
            WriteAll(source.fd, QByteArray(1, 0x06));
        source.pending.append(buffer[i]);
    }
    source.nLastByteMs = g_clock.elapsed();
    return true;
}

QByteArray HowToPlay(ERecordedChecksum rule) {
    switch (rule) {
    case RECORDED_CHECKSUM_WITHOUT_ETX:
        return "with the checksum on, ETX excluded (a POS name holding \"PC-POS\" does that)";
    case RECORDED_CHECKSUM_WITH_ETX:
        return "with the checksum on, ETX included (pos-player --checksum --include-etx)";
    case RECORDED_NO_CHECKSUM:
        break;
    }
    return "with the checksum off (checksum bytes, if any, are in the lines as received)";
}

// Writes the recording and says how to play it; false when the file cannot be written.
bool WriteRecording(const CWireRecorder& recorder, const QString& path) {
    QByteArray sources;
    for (const QByteArray& source : recorder.Sources())
        sources += (sources.isEmpty() ? "" : ", ") + source;
    const QList<QByteArray> remarks{
        "Recorded by ocs-sim on " +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1() +
        (sources.isEmpty() ? QByteArray(", nothing received") : " from " + sources) + "."};
    const SRecording recording = recorder.Finish(
        remarks, [](ERecordedChecksum rule) -> QByteArray { return "Play it " + HowToPlay(rule) + "."; });
    const QByteArray how = HowToPlay(recording.checksum);
    QString why;
    if (WriteCaptureFile(path, recording.text, &why) != CAPTURE_WRITTEN) {
        std::fprintf(stderr, "ocs-sim: cannot write %s: %s\n", qUtf8Printable(path), qUtf8Printable(why));
        return false;
    }
    std::printf("recorded %d frames to %s; play it %s\n", recording.nFrames, qUtf8Printable(path),
                how.constData());
    for (const QString& warning : recording.warnings)
        std::printf("warning: %s\n", qUtf8Printable(warning));
    std::fflush(stdout);
    return true;
}

struct SSimOptions {
    QByteArray listenAddress = "127.0.0.1";
    int port = 48501;
    QString serialName;
    QByteArray reply;
    int gapMs = 50;
    QString recordPath;
};

// Reads the command line; -1 to go on, else the exit status (help and version shown, or an error).
int ParseSimArgs(const QStringList& args, SSimOptions& o) {
    for (int i = 1; i < args.size(); ++i) {
        const QString& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            std::fputs(USAGE, stdout);
            return 0;
        } else if (arg == QLatin1String("--version")) {
            std::printf("ocs-sim %s\n", POSEMU_VERSION);
            return 0;
        } else if (arg == QLatin1String("--listen") && hasValue) {
            o.listenAddress = args[++i].toLatin1();
        } else if (arg == QLatin1String("--port") && hasValue) {
            o.port = args[++i].toInt();
        } else if (arg == QLatin1String("--serial") && hasValue) {
            o.serialName = args[++i].toUpper();
        } else if (arg == QLatin1String("--reply") && hasValue) {
            o.reply = PrepareScriptLine(args[++i].toLatin1()).replace(';', '\0');
        } else if (arg == QLatin1String("--gap") && hasValue) {
            o.gapMs = std::max(1, args[++i].toInt());
        } else if (arg == QLatin1String("--record") && hasValue) {
            o.recordPath = args[++i];
        } else {
            std::fprintf(stderr, "ocs-sim: unknown or incomplete option '%s'\n\n%s", qUtf8Printable(arg),
                         USAGE);
            return 2;
        }
    }
    if (o.port <= 0 || o.port > 65535) {
        std::fprintf(stderr, "ocs-sim: bad port\n");
        return 2;
    }
    return -1;
}

// Takes connections and frames until Ctrl+C; the clients still connected are left in `clients`.
void Serve(SocketHandle listener, SSource& serial, std::vector<SSource>& clients, const SSimOptions& o) {
    const QByteArray& reply = o.reply;
    const int gapMs = o.gapMs;
    const QString& recordPath = o.recordPath;
    while (!g_bStop) {
        std::vector<SSimPoll> fds;
        fds.push_back({listener, SIM_POLLIN, 0});
        if (serial.fd != SOCKET_INVALID)
            fds.push_back({serial.fd, SIM_POLLIN, 0});
        for (const SSource& client : clients)
            fds.push_back({client.fd, SIM_POLLIN, 0});
        int timeout = 200;
        auto consider = [&](const SSource& s) {
            if (!s.pending.isEmpty())
                timeout =
                    std::min<int>(timeout, std::max<qint64>(0, s.nLastByteMs + gapMs - g_clock.elapsed()));
        };
        consider(serial);
        for (const SSource& client : clients)
            consider(client);
        const int ready = SimPoll(fds.data(), fds.size(), timeout);
        if (ready < 0 && !SimInterrupted())
            break;
        if (ready > 0) {
            if (fds[0].revents & SIM_POLLIN) {
                sockaddr_storage peer{};
                socklen_t len = sizeof(peer);
                const SocketHandle fd = SimAccept(listener, &peer, &len);
                if (fd != SOCKET_INVALID) {
                    SSource client;
                    client.fd = fd;
                    char host[NI_MAXHOST] = "?";
                    char service[NI_MAXSERV] = "?";
                    ::getnameinfo(reinterpret_cast<sockaddr*>(&peer), len, host, sizeof(host), service,
                                  sizeof(service), NI_NUMERICHOST | NI_NUMERICSERV);
                    client.name =
                        "TCP " +
                        SocketAddressWithPort(QLatin1String(host), QByteArray(service).toInt()).toLatin1();
                    Print(client.name, "connected");
                    clients.push_back(client);
                }
            }
            size_t index = 1;
            if (serial.fd != SOCKET_INVALID) {
                // A closed slave side gives POLLHUP on Linux; the slave we hold keeps it from happening.
                if (fds[index].revents & SIM_POLLIN)
                    ReadSource(serial, false, reply);
                ++index;
            }
            for (size_t c = 0; c < clients.size() && index < fds.size(); ++index) {
                if (fds[index].revents & (SIM_POLLIN | SIM_POLLHUP | SIM_POLLERR)) {
                    if (!ReadSource(clients[c], true, reply)) {
                        FlushFrame(clients[c], QByteArray());
                        Print(clients[c].name, "disconnected");
                        // The recording so far is kept at each end of a connection: a console closed
                        // or a simulator killed later loses none of it.
                        if (g_pRecorder)
                            WriteRecording(*g_pRecorder, recordPath);
                        SocketCloseHandle(clients[c].fd);
                        clients.erase(clients.begin() + static_cast<long>(c));
                        continue;
                    }
                }
                ++c;
            }
        }
        const qint64 now = g_clock.elapsed();
        if (!serial.pending.isEmpty() && now - serial.nLastByteMs >= gapMs)
            FlushFrame(serial, reply);
        for (SSource& client : clients) {
            if (!client.pending.isEmpty() && now - client.nLastByteMs >= gapMs)
                FlushFrame(client, reply);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    UseUtf8Console();
    QCoreApplication app(argc, argv);
    SSimOptions options;
    const int parsed = ParseSimArgs(app.arguments(), options);
    if (parsed >= 0)
        return parsed;
    const QByteArray& listenAddress = options.listenAddress;
    const int port = options.port;
    const QString& serialName = options.serialName;
    const QString& recordPath = options.recordPath;
    CWireRecorder recorder;
    if (!recordPath.isEmpty()) {
        // Found out now, not after a long recording.
        const QFileInfo target(recordPath);
        if (!target.absoluteDir().exists() || (target.exists() && !target.isFile())) {
            std::fprintf(stderr, "ocs-sim: cannot record to %s\n", qUtf8Printable(recordPath));
            return 2;
        }
        g_pRecorder = &recorder;
    }

    // A name is resolved once, here; the first address it stands for (IPv4 ones first) is listened on.
    QString why;
    const QStringList resolved = SocketResolve(QString::fromLatin1(listenAddress), &why);
    if (resolved.isEmpty()) {
        std::fprintf(stderr, "ocs-sim: '%s' cannot be resolved: %s\n", listenAddress.constData(),
                     qUtf8Printable(why));
        return 2;
    }
    sockaddr_storage address;
    socklen_t addressLength = 0;
    const int family = SocketAddressOf(resolved.constFirst().toLatin1(), static_cast<unsigned short>(port),
                                       &address, &addressLength);
    const QByteArray shownAddress = SocketAddressWithPort(resolved.constFirst(), port).toLatin1();

    if (!serialName.isEmpty() && !SimCanServeSerial()) {
        std::fprintf(stderr, "ocs-sim: --serial needs pseudo-terminals, which Windows does not have; use the "
                             "TCP side\n");
        return 2;
    }
    if (!SocketStartup()) {
        std::fprintf(stderr, "ocs-sim: cannot start the socket library\n");
        return 1;
    }
    SimCatchStopSignals(OnSignal);
    const SocketHandle listener = SimOpenSocket(family);
    g_clock.start();
    const int yes = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof(yes));
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), addressLength) != 0 ||
        ::listen(listener, 8) != 0) {
        std::fprintf(stderr, "ocs-sim: cannot listen on %s: %s\n", shownAddress.constData(),
                     qUtf8Printable(qt_error_string()));
        return 1;
    }
    Print("listening", shownAddress);

    std::vector<SSource> clients;
    SSource serial;
    CSimSerial serialPort;
    if (!serialName.isEmpty()) {
        QString error;
        int status = 1;
        if (!serialPort.Open(serialName, error, status)) {
            std::fprintf(stderr, "ocs-sim: %s\n", qUtf8Printable(error));
            return status;
        }
        serial.fd = serialPort.Handle();
        serial.name = "SERIAL " + serialName.toLatin1();
        Print("serial", serialPort.Description());
    }

    Serve(listener, serial, clients, options);

    for (SSource& client : clients) {
        FlushFrame(client, QByteArray());
        SocketCloseHandle(client.fd);
    }
    SocketCloseHandle(listener);
    if (serial.fd != SOCKET_INVALID)
        FlushFrame(serial, QByteArray());
    SocketCleanup();
    Print("stopped", "");
    if (g_pRecorder && !WriteRecording(recorder, recordPath))
        return 1;
    return 0;
}
