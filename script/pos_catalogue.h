#pragma once

#include <QString>
#include <QStringList>

// The text after the last '/' or '\', or the whole text.
QString StripFolder(const QString& path);
// StripFolder, then the text before the last '.' when that '.' is not the first character.
QString StripFolderAndExtension(const QString& path);

// Appends the POS name of every POS definition file (extension "vlq", any letter case) in the folder.
void EnumPosNamesIn(const QString& folder, QStringList& names);

// The path of a POS's definition file, relative to the current folder.
QString PosScriptPath(const QString& posName);

// The checksum rule of a POS model: a name holding "PC-POS" in any letter case sends a checksum after
// each ETX, the ETX left out of it; every other model sends none.
bool PosUsesChecksum(const QString& posName);

// The sample POS folder of an installed program (share/pos-emulator/POS beside its bin folder);
// empty when the program runs from where it was built.
QString InstalledPosFolder();

// Started from a folder without a POS folder (a desktop menu starts it in the home folder), or from
// its own installation folder (a Windows Start menu entry), an
// installed program works in "POS Emulator" under the home folder instead; the first time, that
// folder is made and the samples copied into its POS folder. Returns the folder to work in, or
// empty to stay where it is.
QString ChooseWorkFolder(const QString& current, const QString& installedPos, const QString& home);
