#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// True when the path names an existing entry that is not a folder.
bool FileExists(const QString& path);

// The path under which a script file is found: the path itself when it exists, else the one entry of
// its folder whose name matches ignoring letter case, else the path unchanged.
QString ResolveScriptPath(const QString& path);

// Turns one script line into its prepared form: the 256 byte tokens "<00>".."<FF>" replaced in the
// order 0x00..0xFF, each pass over the result of the one before; "<00>" becomes ';'.
QByteArray PrepareScriptLine(const QByteArray& line);

// The prepared lines of one POS definition file and the position of the line returned last.
class COrderScript {
public:
    // False when there is no such file. A file that cannot be read loads as an empty order (true),
    // with what to tell the user in `unreadable`.
    bool LoadOrderFile(const QString& path, QString* unreadable = nullptr);
    bool GetNextLine(QByteArray& line, bool wrap);
    int GetLineIndex() const { return m_nIndex; }
    int GetLineCount() const { return static_cast<int>(m_lines.size()); }
    // A pass played to its end: the next order starts at the first line, whatever it loads.
    void Rewind() { m_nIndex = -1; }
    const QList<QByteArray>& Lines() const { return m_lines; }

private:
    QList<QByteArray> m_lines;
    int m_nIndex = -1;
};

// Splits file content into script lines (LF ends a line, a CR before it is dropped, remark lines skipped)
// and prepares each.
QList<QByteArray> PrepareScript(const QByteArray& content);
