#include "script/order_script.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <bitset>

bool FileExists(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

QString ResolveScriptPath(const QString& path) {
    const QFileInfo info(path);
    if (info.exists())
        return path;
    const QDir dir = info.dir();
    const QStringList entries =
        dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& entry : entries) {
        if (entry.compare(info.fileName(), Qt::CaseInsensitive) == 0)
            return dir.filePath(entry);
    }
    return path;
}

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Value of the token that starts at i, or -1.
int TokenAt(const char* p, qsizetype i, qsizetype n) {
    if (i + 3 >= n || p[i] != '<' || p[i + 3] != '>')
        return -1;
    const int hi = HexValue(p[i + 1]);
    const int lo = HexValue(p[i + 2]);
    return (hi < 0 || lo < 0) ? -1 : hi * 16 + lo;
}

char Replacement(int value) {
    return value == 0 ? ';' : static_cast<char>(value);
}

// A replacement can complete a new token only if it yields '<', '>' or an upper-case hex digit.
bool CanCascade(int value) {
    const char c = Replacement(value);
    return c == '<' || c == '>' || HexValue(c) >= 0;
}

using TokenSet = std::bitset<256>;

TokenSet TokensIn(const QByteArray& line) {
    TokenSet set;
    const char* p = line.constData();
    const qsizetype n = line.size();
    for (qsizetype i = line.indexOf('<'); i >= 0 && i + 3 < n; i = line.indexOf('<', i + 1)) {
        const int v = TokenAt(p, i, n);
        if (v >= 0)
            set.set(v);
    }
    return set;
}

// Replaces, left to right and without overlap, every token whose value is in the set.
QByteArray ReplaceTokens(const QByteArray& line, const TokenSet& values) {
    QByteArray out;
    out.reserve(line.size());
    const char* p = line.constData();
    const qsizetype n = line.size();
    qsizetype copied = 0;
    qsizetype i = line.indexOf('<');
    while (i >= 0 && i + 3 < n) {
        const int v = TokenAt(p, i, n);
        if (v >= 0 && values.test(v)) {
            out.append(p + copied, i - copied);
            out.append(Replacement(v));
            copied = i + 4;
            i = line.indexOf('<', copied);
        } else {
            i = line.indexOf('<', i + 1);
        }
    }
    out.append(p + copied, n - copied);
    return out;
}

} // namespace

// Tokens never overlap (none of their last three characters is '<'), so the passes of values that
// cannot cascade run together in one scan; only a pass that can complete new tokens needs a rescan.
QByteArray PrepareScriptLine(const QByteArray& line) {
    QByteArray result = line;
    TokenSet present = TokensIn(result);
    int v = 0;
    while (v < 256) {
        if (!present.test(v)) {
            ++v;
            continue;
        }
        TokenSet batch;
        if (CanCascade(v)) {
            batch.set(v);
            result = ReplaceTokens(result, batch);
            ++v;
            // Tokens of values already passed stay literal.
            present = TokensIn(result);
            for (int w = 0; w < v; ++w)
                present.reset(w);
            continue;
        }
        while (v < 256 && !CanCascade(v)) {
            if (present.test(v))
                batch.set(v);
            ++v;
        }
        result = ReplaceTokens(result, batch);
    }
    return result;
}

QList<QByteArray> PrepareScript(const QByteArray& content) {
    QList<QByteArray> lines;
    const char* p = content.constData();
    const qsizetype n = content.size();
    qsizetype start = 0;
    while (start < n) {
        qsizetype end = content.indexOf('\n', start);
        const qsizetype next = (end < 0) ? n : end + 1;
        if (end < 0)
            end = n;
        qsizetype len = end - start;
        if (end < n && len > 0 && p[end - 1] == '\r')
            --len;
        if (len > 0 && p[start] == '<')
            lines.append(PrepareScriptLine(QByteArray(p + start, len)));
        start = next;
    }
    return lines;
}

bool COrderScript::LoadOrderFile(const QString& path, QString* unreadable) {
    const QString actual = ResolveScriptPath(path);
    if (!FileExists(actual))
        return false;
    m_lines.clear();
    QFile file(actual);
    // A FIFO would block the open for good and a device could be read without end: only a regular
    // file is read.
    if (!QFileInfo(actual).isFile() || !file.open(QIODevice::ReadOnly)) {
        if (unreadable)
            *unreadable = QStringLiteral("Unable to read Order file \"%1\". ").arg(path);
        return true;
    }
    m_lines = PrepareScript(file.readAll());
    return true;
}

bool COrderScript::GetNextLine(QByteArray& line, bool wrap) {
    ++m_nIndex;
    const int count = GetLineCount();
    if (m_nIndex >= count) {
        if (!wrap)
            return false;
        m_nIndex = 0;
    }
    if (m_nIndex < 0 || m_nIndex >= count)
        return false;
    line = m_lines[m_nIndex];
    return true;
}
