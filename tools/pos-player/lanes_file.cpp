#include "lanes_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <map>

namespace {

const char* const LANE_KEYS[] = {"pos",       "tcp",       "serial",     "baud",   "parity",
                                 "data-bits", "stop-bits", "flow",       "expect", "reply-timeout",
                                 "passes",    "checksum",  "include-etx"};

bool IsLaneKey(const QString& key) {
    for (const char* known : LANE_KEYS) {
        if (key == QLatin1String(known))
            return true;
    }
    return false;
}

// A lane's name names its capture file too: nothing a file system on either platform refuses, and
// none of Windows' device names ("COM3.txt" would be the port itself there).
bool IsFileNameSafe(const QString& name) {
    static const QString REFUSED = QStringLiteral("\\/:*?\"<>|");
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || REFUSED.contains(c))
            return false;
    }
    static const QRegularExpression DEVICE(QStringLiteral("\\A(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9])\\z"),
                                           QRegularExpression::CaseInsensitiveOption);
    return !name.startsWith(QLatin1Char('.')) && !name.endsWith(QLatin1Char(' ')) &&
           !name.endsWith(QLatin1Char('.')) &&
           !DEVICE.match(name.section(QLatin1Char('.'), 0, 0).trimmed()).hasMatch();
}

QString Unquoted(const QString& value) {
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
        return value.mid(1, value.size() - 2);
    return value;
}

class CLanesReader {
public:
    CLanesReader(const QString& path, const SPlayerOptions& common, std::vector<SLane>& lanes)
        : m_strShown(QDir::toNativeSeparators(path)), m_common(common), m_lanes(lanes) {}

    bool Read(const QByteArray& text, QString& error) {
        QList<QByteArray> lines = text.split('\n');
        if (!lines.isEmpty() && lines.first().startsWith("\xEF\xBB\xBF"))
            lines.first().remove(0, 3);
        for (int i = 0; i < lines.size(); ++i) {
            m_nLine = i + 1;
            const QString line = QString::fromUtf8(lines[i]).trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
                continue;
            const bool ok = line.startsWith(QLatin1Char('[')) ? BeginLane(line) : TakeKey(line);
            if (!ok)
                return Failed(error);
        }
        m_nLine = 0;
        if (!EndLane())
            return Failed(error);
        if (m_lanes.empty()) {
            m_strError = QStringLiteral("no lane in it: give a [lane name] section for each OCS");
            return Failed(error);
        }
        return true;
    }

private:
    bool Failed(QString& error) {
        error = m_nLine ? QStringLiteral("%1:%2: %3").arg(m_strShown).arg(m_nLine).arg(m_strError)
                        : QStringLiteral("%1: %2").arg(m_strShown, m_strError);
        return false;
    }

    bool BeginLane(const QString& line) {
        if (!EndLane())
            return false;
        const QString name = line.mid(1, line.size() - 2).trimmed();
        if (!line.endsWith(QLatin1Char(']')) || name.isEmpty()) {
            m_strError = QStringLiteral("a lane's section is [name]");
            return false;
        }
        if (!IsFileNameSafe(name)) {
            m_strError = QStringLiteral("lane \"%1\": a lane's name names its capture file; leave out "
                                        "\\ / : * ? \" < > |, a dot at either end and device names "
                                        "such as COM3 or NUL")
                             .arg(name);
            return false;
        }
        for (const SLane& lane : m_lanes) {
            if (lane.strName.compare(name, Qt::CaseInsensitive) == 0) {
                m_strError =
                    QStringLiteral("lane \"%1\" is given on line %2 already").arg(name).arg(lane.nLine);
                return false;
            }
        }
        if (int(m_lanes.size()) >= LANES_MAX) {
            m_strError = QStringLiteral("more than %1 lanes").arg(LANES_MAX);
            return false;
        }
        m_lanes.push_back(SLane{name, m_common, m_nLine});
        m_keyLines.clear();
        return true;
    }

    bool TakeKey(const QString& line) {
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals < 0) {
            m_strError = QStringLiteral("neither [lane name] nor key = value: %1").arg(line);
            return false;
        }
        const QString key = line.left(equals).trimmed().toLower();
        const QString value = Unquoted(line.mid(equals + 1).trimmed());
        if (m_lanes.empty() || m_nLaneEnded == int(m_lanes.size())) {
            m_strError = QStringLiteral("%1 before the first [lane name]").arg(key);
            return false;
        }
        SLane& lane = m_lanes.back();
        if (!IsLaneKey(key)) {
            m_strError = QStringLiteral("lane \"%1\": unknown key %2").arg(lane.strName, key);
            return false;
        }
        const auto given = m_keyLines.find(key);
        if (given != m_keyLines.end()) {
            m_strError = QStringLiteral("lane \"%1\": %2 is given on line %3 already")
                             .arg(lane.strName, key)
                             .arg(given->second);
            return false;
        }
        m_keyLines[key] = m_nLine;
        QString why;
        if (key == QLatin1String("pos")) {
            lane.options.strScript = value;
            if (value.isEmpty())
                why = QStringLiteral("pos needs a POS definition file or name");
        } else {
            TakePlayerOption(QStringLiteral("--") + key, value, lane.options, why);
        }
        if (!why.isEmpty())
            m_strError = QStringLiteral("lane \"%1\": %2").arg(lane.strName, why);
        return why.isEmpty();
    }

    // What keeps a lane from being played; empty when nothing does.
    QString LaneProblem(SLane& lane) {
        SPlayerOptions& o = lane.options;
        const CAppSettings& s = o.settings;
        QString why;
        if (o.strScript.isEmpty())
            return QStringLiteral("no pos given, here or on the command line");
        if (s.m_bUseNetwork == s.m_bUseSerial)
            return QStringLiteral("give tcp or serial, here or on the command line");
        o.bReconnect = o.bReconnect && s.m_bUseSerial; // the command line's, for the serial lanes
        if (!FinishPlayerOptions(o, why))
            return why;
        if (!s.m_bUseSerial)
            return QString();
        const auto used = m_serialLanes.find(s.m_strPort);
        if (used == m_serialLanes.end()) {
            m_serialLanes[s.m_strPort] = lane.strName;
            return QString();
        }
        const auto key = m_keyLines.find(QStringLiteral("serial"));
        if (key != m_keyLines.end())
            m_nLine = key->second;
        return QStringLiteral("%1 is lane \"%2\"'s already").arg(s.m_strPort, used->second);
    }

    // The lane just read is checked whole; an error names the line of its key, else of its section.
    bool EndLane() {
        if (m_lanes.empty() || m_nLaneEnded == int(m_lanes.size()))
            return true;
        m_nLaneEnded = int(m_lanes.size());
        SLane& lane = m_lanes.back();
        SPlayerOptions& o = lane.options;
        const int atLine = m_nLine;
        m_nLine = lane.nLine;
        o.strLane = lane.strName;
        const QString why = LaneProblem(lane);
        if (!why.isEmpty()) {
            m_strError = QStringLiteral("lane \"%1\": %2").arg(lane.strName, why);
            return false;
        }
        m_nLine = atLine;
        return true;
    }

    QString m_strShown;
    const SPlayerOptions& m_common;
    std::vector<SLane>& m_lanes;
    int m_nLine = 0;
    int m_nLaneEnded = 0; // how many lanes are checked whole
    QString m_strError;
    std::map<QString, int> m_keyLines;        // the lane's keys, by the line that gives each
    std::map<QString, QString> m_serialLanes; // a serial port, by the lane that has it
};

} // namespace

bool ReadLanesFile(const QString& path, const SPlayerOptions& common, std::vector<SLane>& lanes,
                   QString& error) {
    lanes.clear();
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("%1: cannot read the lanes file: %2")
                    .arg(QDir::toNativeSeparators(path),
                         file.errorString().isEmpty() ? QStringLiteral("not a file") : file.errorString());
        return false;
    }
    constexpr qint64 LARGEST = 1024 * 1024; // far beyond LANES_MAX lanes; anything longer is no lanes file
    if (file.size() > LARGEST) {
        error =
            QStringLiteral("%1: not a lanes file (larger than 1 MiB)").arg(QDir::toNativeSeparators(path));
        return false;
    }
    return CLanesReader(path, common, lanes).Read(file.read(LARGEST), error);
}
