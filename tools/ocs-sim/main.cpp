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
#include <memory>
#include <vector>

namespace {

volatile std::sig_atomic_t g_bStop = 0;
void OnSignal(int) {
    g_bStop = 1;
}

const char USAGE[] =
    "Usage: ocs-sim [--listen HOST] [--port N|FIRST-LAST] [--serial COMn] [--reply TEXT]\n"
    "               [--reply-file FILE] [--gap MS] [--record FILE]\n"
    "\n"
    "A simulated OCS (order confirmation display) for the POS Emulator.\n"
    "\n"
    "  --listen HOST     address or name to listen on, TCP port 48501 (default 127.0.0.1); a\n"
    "                    name is resolved, IPv4 addresses first, and the first is used\n"
    "  --port N          listen on port N instead of 48501\n"
    "  --port FIRST-LAST\n"
    "                    listen on every port from FIRST to LAST (at most 1024): a lab of OCS\n"
    "                    units, one a port, each taking any number of connections\n"
    "  --serial COMn     also serve a pseudo-terminal, published as COMn in the ports folder\n"
    "                    (removed again on exit), so that the emulator's serial line reaches it\n"
    "                    (not on Windows)\n"
    "  --reply TEXT      send TEXT back after each frame; TEXT in script notation, e.g. \"<06>\"\n"
    "  --reply-file FILE a reply of its own for some ports: a line \"PORT TEXT\" each (\"48503 <15>\");\n"
    "                    the other ports send the --reply TEXT\n"
    "  --gap MS          a frame ends at the next STX, or after MS milliseconds without a byte\n"
    "                    (default 50)\n"
    "  --record FILE     learn a POS from the wire: write everything received, on every\n"
    "                    connection and the serial line, as a POS definition file that POS Emulator\n"
    "                    and pos-player play back byte for byte; written when a\n"
    "                    connection ends and when ocs-sim ends. With a port range, each connection\n"
    "                    is recorded on its own, to FILE-PORT.vlq (FILE-PORT-2.vlq for the port's\n"
    "                    second one, and so on; FILE-COMn.vlq for the serial line)\n"
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
    "time stamp, the connection (\"TCP 127.0.0.1:40122 on 48501\": the peer, then the port it came\n"
    "to) and the frame in the capture notation (<02>ORDER<03>), followed by the verdict on each\n"
    "checksum byte after an ETX (the XOR from the second byte up to the ETX, without or with the ETX).\n"
    "Ends on Ctrl+C.\n";

struct SSource {
    SocketHandle fd = SOCKET_INVALID;
    QByteArray name;
    QByteArray pending;
    qint64 nLastByteMs = 0;
    QByteArray reply; // sent after each frame
    // With --record: the one recording of everything, or the connection's own, and where it goes.
    std::shared_ptr<CWireRecorder> pRecorder;
    QString strRecordPath;
};

// A port listened on, and how many connections it has taken.
struct SListener {
    SocketHandle fd = SOCKET_INVALID;
    int nPort = 0;
    int nConnections = 0;
};

QElapsedTimer g_clock;

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

// The frame received so far is printed and, unless `answer` is false (the source has ended), answered.
void FlushFrame(SSource& source, bool answer = true) {
    if (source.pending.isEmpty())
        return;
    Print(source.name, DescribeFrame(source.pending));
    const bool onlyEnq = source.pending.count('\x05') == source.pending.size();
    source.pending.clear();
    if (answer && !source.reply.isEmpty() && !onlyEnq)
        WriteAll(source.fd, source.reply);
}

// Takes bytes from a source; false when it has ended. An STX starts a new frame.
bool ReadSource(SSource& source, bool isSocket) {
    char buffer[4096];
    const long n = SimRead(source.fd, isSocket, buffer, sizeof(buffer));
    if (n == -2)
        return true;
    if (n <= 0)
        return false;
    if (source.pRecorder)
        source.pRecorder->Received(source.name, g_clock.elapsed(), QByteArray(buffer, n));
    for (long i = 0; i < n; ++i) {
        if (buffer[i] == 0x02)
            FlushFrame(source);
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
    int nFirstPort = 48501;
    int nLastPort = 48501; // a port range: every port from nFirstPort to this
    QString serialName;
    QByteArray reply;
    std::map<int, QByteArray> portReplies; // --reply-file: a reply of its own for a port
    int gapMs = 50;
    QString recordPath;
    // A lab's simulator keeps one recording a connection.
    bool RecordsEachConnection() const { return nLastPort > nFirstPort; }
};

constexpr int SIM_PORTS_MAX = 1024;

QByteArray ReplyBytes(const QString& text) {
    return PrepareScriptLine(text.toLatin1()).replace(';', '\0');
}

// --port N or FIRST-LAST.
bool ParsePorts(const QString& text, SSimOptions& o) {
    const QStringList parts = text.split(QLatin1Char('-'));
    bool okFirst = false, okLast = parts.size() == 1;
    o.nFirstPort = parts.value(0).toInt(&okFirst);
    o.nLastPort = parts.size() == 2 ? parts[1].toInt(&okLast) : o.nFirstPort;
    return okFirst && okLast && parts.size() <= 2 && o.nFirstPort > 0 && o.nLastPort <= 65535 &&
           o.nFirstPort <= o.nLastPort && o.nLastPort - o.nFirstPort < SIM_PORTS_MAX;
}

// --reply-file: "PORT TEXT" a line; blank lines and lines from '#' on are skipped. False with the
// message when it cannot be taken.
bool ReadPortReplies(const QString& path, SSimOptions& o, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    int number = 0;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        ++number;
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const int space = int(line.indexOf(QLatin1Char(' ')));
        bool ok = false;
        const int port = line.left(space).toInt(&ok);
        if (space < 0 || !ok || port < o.nFirstPort || port > o.nLastPort) {
            error = QStringLiteral("%1:%2: give a port listened on and its reply, e.g. \"%3 <06>\"")
                        .arg(path)
                        .arg(number)
                        .arg(o.nFirstPort);
            return false;
        }
        o.portReplies[port] = ReplyBytes(line.mid(space + 1).trimmed());
    }
    return true;
}

// Reads the command line; -1 to go on, else the exit status (help and version shown, or an error).
int ParseSimArgs(const QStringList& args, SSimOptions& o) {
    QString replyFile;
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
            if (!ParsePorts(args[++i], o)) {
                std::fprintf(stderr, "ocs-sim: --port takes N or FIRST-LAST (1 to 65535, at most %d ports)\n",
                             SIM_PORTS_MAX);
                return 2;
            }
        } else if (arg == QLatin1String("--serial") && hasValue) {
            o.serialName = args[++i].toUpper();
        } else if (arg == QLatin1String("--reply") && hasValue) {
            o.reply = ReplyBytes(args[++i]);
        } else if (arg == QLatin1String("--reply-file") && hasValue) {
            replyFile = args[++i];
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
    QString error;
    if (!replyFile.isEmpty() && !ReadPortReplies(replyFile, o, error)) {
        std::fprintf(stderr, "ocs-sim: %s\n", qUtf8Printable(error));
        return 2;
    }
    return -1;
}

// Where a connection's own recording goes: FILE-PORT.vlq, FILE-PORT-2.vlq for the port's second
// connection, and so on.
QString RecordPathFor(const QString& base, const QString& source, int nth) {
    const QFileInfo info(base);
    QString name = info.completeBaseName() + QLatin1Char('-') + source;
    if (nth > 1)
        name += QLatin1Char('-') + QString::number(nth);
    if (!info.suffix().isEmpty())
        name += QLatin1Char('.') + info.suffix();
    return info.dir().filePath(name);
}

class CSimulator {
public:
    explicit CSimulator(const SSimOptions& options) : m_options(options) {
        if (!options.recordPath.isEmpty() && !options.RecordsEachConnection())
            m_pRecording = std::make_shared<CWireRecorder>();
    }
    // Opens a listener on each port; false (said why) when one cannot be.
    bool Listen(const QString& address);
    // Serves the serial side too.
    void AddSerial(SocketHandle fd, const QByteArray& name) {
        m_serial.fd = fd;
        m_serial.name = name;
        m_serial.reply = m_options.reply;
        Record(m_serial, m_options.serialName, 1);
    }
    // Takes connections and frames until Ctrl+C.
    void Serve();
    // Ends every connection; false when a recording could not be written.
    bool Stop();

private:
    void Record(SSource& source, const QString& sourceName, int nth) {
        if (m_options.recordPath.isEmpty())
            return;
        source.pRecorder = m_pRecording ? m_pRecording : std::make_shared<CWireRecorder>();
        source.strRecordPath =
            m_pRecording ? m_options.recordPath : RecordPathFor(m_options.recordPath, sourceName, nth);
    }
    void Accept(SListener& listener);
    void EndClient(size_t index);
    int PollTimeout() const;
    void FlushQuiet();

    const SSimOptions& m_options;
    std::shared_ptr<CWireRecorder> m_pRecording; // one recording of everything
    std::vector<SListener> m_listeners;
    std::vector<SSource> m_clients;
    SSource m_serial;
};

bool CSimulator::Listen(const QString& address) {
    for (int port = m_options.nFirstPort; port <= m_options.nLastPort; ++port) {
        sockaddr_storage at;
        socklen_t length = 0;
        const int family =
            SocketAddressOf(address.toLatin1(), static_cast<unsigned short>(port), &at, &length);
        const QByteArray shown = SocketAddressWithPort(address, port).toLatin1();
        const SocketHandle fd = SimOpenSocket(family);
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof(yes));
        if (::bind(fd, reinterpret_cast<sockaddr*>(&at), length) != 0 || ::listen(fd, SOMAXCONN) != 0) {
            std::fprintf(stderr, "ocs-sim: cannot listen on %s: %s\n", shown.constData(),
                         qUtf8Printable(qt_error_string()));
            SocketCloseHandle(fd);
            return false;
        }
        m_listeners.push_back({fd, port, 0});
        Print("listening", shown);
    }
    return true;
}

void CSimulator::Accept(SListener& listener) {
    sockaddr_storage peer{};
    socklen_t len = sizeof(peer);
    const SocketHandle fd = SimAccept(listener.fd, &peer, &len);
    if (fd == SOCKET_INVALID)
        return;
    SSource client;
    client.fd = fd;
    char host[NI_MAXHOST] = "?";
    char service[NI_MAXSERV] = "?";
    ::getnameinfo(reinterpret_cast<sockaddr*>(&peer), len, host, sizeof(host), service, sizeof(service),
                  NI_NUMERICHOST | NI_NUMERICSERV);
    client.name = "TCP " +
                  SocketAddressWithPort(QLatin1String(host), QByteArray(service).toInt()).toLatin1() +
                  " on " + QByteArray::number(listener.nPort);
    const auto own = m_options.portReplies.find(listener.nPort);
    client.reply = own != m_options.portReplies.end() ? own->second : m_options.reply;
    Record(client, QString::number(listener.nPort), ++listener.nConnections);
    Print(client.name, "connected");
    m_clients.push_back(client);
}

void CSimulator::EndClient(size_t index) {
    SSource& client = m_clients[index];
    FlushFrame(client, false);
    Print(client.name, "disconnected");
    // The recording so far is kept at each end of a connection: a console closed or a simulator
    // killed later loses none of it.
    if (client.pRecorder)
        WriteRecording(*client.pRecorder, client.strRecordPath);
    SocketCloseHandle(client.fd);
    m_clients.erase(m_clients.begin() + static_cast<long>(index));
}

// Until the first frame waiting for its gap to pass is due.
int CSimulator::PollTimeout() const {
    int timeout = 200;
    const auto consider = [&](const SSource& s) {
        if (!s.pending.isEmpty())
            timeout = std::min<int>(timeout,
                                    std::max<qint64>(0, s.nLastByteMs + m_options.gapMs - g_clock.elapsed()));
    };
    consider(m_serial);
    for (const SSource& client : m_clients)
        consider(client);
    return timeout;
}

// Frames whose gap has passed are complete.
void CSimulator::FlushQuiet() {
    const qint64 now = g_clock.elapsed();
    if (!m_serial.pending.isEmpty() && now - m_serial.nLastByteMs >= m_options.gapMs)
        FlushFrame(m_serial);
    for (SSource& client : m_clients) {
        if (!client.pending.isEmpty() && now - client.nLastByteMs >= m_options.gapMs)
            FlushFrame(client);
    }
}

void CSimulator::Serve() {
    while (!g_bStop) {
        std::vector<SSimPoll> fds;
        for (const SListener& listener : m_listeners)
            fds.push_back({listener.fd, SIM_POLLIN, 0});
        if (m_serial.fd != SOCKET_INVALID)
            fds.push_back({m_serial.fd, SIM_POLLIN, 0});
        for (const SSource& client : m_clients)
            fds.push_back({client.fd, SIM_POLLIN, 0});
        const int ready = SimPoll(fds.data(), fds.size(), PollTimeout());
        if (ready < 0 && !SimInterrupted())
            break;
        if (ready > 0) {
            size_t index = 0;
            const size_t clientsBefore = m_clients.size();
            for (SListener& listener : m_listeners) {
                if (fds[index++].revents & SIM_POLLIN)
                    Accept(listener);
            }
            // A closed slave side gives POLLHUP on Linux; the slave we hold keeps it from happening.
            if (m_serial.fd != SOCKET_INVALID && (fds[index++].revents & SIM_POLLIN))
                ReadSource(m_serial, false);
            for (size_t c = 0; c < clientsBefore && index < fds.size(); ++index) {
                if ((fds[index].revents & (SIM_POLLIN | SIM_POLLHUP | SIM_POLLERR)) &&
                    !ReadSource(m_clients[c], true)) {
                    EndClient(c);
                    continue;
                }
                ++c;
            }
        }
        FlushQuiet();
    }
}

bool CSimulator::Stop() {
    bool written = true;
    for (SSource& client : m_clients) {
        FlushFrame(client, false);
        SocketCloseHandle(client.fd);
        if (client.pRecorder && !m_pRecording)
            written = WriteRecording(*client.pRecorder, client.strRecordPath) && written;
    }
    for (const SListener& listener : m_listeners)
        SocketCloseHandle(listener.fd);
    if (m_serial.fd != SOCKET_INVALID) {
        FlushFrame(m_serial, false);
        if (m_serial.pRecorder && !m_pRecording)
            written = WriteRecording(*m_serial.pRecorder, m_serial.strRecordPath) && written;
    }
    if (m_pRecording)
        written = WriteRecording(*m_pRecording, m_options.recordPath) && written;
    return written;
}

} // namespace

int main(int argc, char** argv) {
    UseUtf8Console();
    QCoreApplication app(argc, argv);
    SSimOptions options;
    const int parsed = ParseSimArgs(app.arguments(), options);
    if (parsed >= 0)
        return parsed;
    const QString& recordPath = options.recordPath;
    if (!recordPath.isEmpty()) {
        // Found out now, not after a long recording.
        const QFileInfo target(recordPath);
        if (!target.absoluteDir().exists() || (target.exists() && !target.isFile())) {
            std::fprintf(stderr, "ocs-sim: cannot record to %s\n", qUtf8Printable(recordPath));
            return 2;
        }
    }

    // A name is resolved once, here; the first address it stands for (IPv4 ones first) is listened on.
    QString why;
    const QStringList resolved = SocketResolve(QString::fromLatin1(options.listenAddress), &why);
    if (resolved.isEmpty()) {
        std::fprintf(stderr, "ocs-sim: '%s' cannot be resolved: %s\n", options.listenAddress.constData(),
                     qUtf8Printable(why));
        return 2;
    }
    if (!options.serialName.isEmpty() && !SimCanServeSerial()) {
        std::fprintf(stderr, "ocs-sim: --serial needs pseudo-terminals, which Windows does not have; use the "
                             "TCP side\n");
        return 2;
    }
    if (!SocketStartup()) {
        std::fprintf(stderr, "ocs-sim: cannot start the socket library\n");
        return 1;
    }
    SimCatchStopSignals(OnSignal);
    g_clock.start();
    CSimulator simulator(options);
    if (!simulator.Listen(resolved.constFirst()))
        return 1;
    CSimSerial serialPort;
    if (!options.serialName.isEmpty()) {
        QString error;
        int status = 1;
        if (!serialPort.Open(options.serialName, error, status)) {
            std::fprintf(stderr, "ocs-sim: %s\n", qUtf8Printable(error));
            return status;
        }
        simulator.AddSerial(serialPort.Handle(), "SERIAL " + options.serialName.toLatin1());
        Print("serial", serialPort.Description());
    }
    simulator.Serve();
    const bool recorded = simulator.Stop();
    SocketCleanup();
    Print("stopped", "");
    return recorded ? 0 : 1;
}
