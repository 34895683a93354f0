#pragma once

#include <QString>

// The download folder and where a paper's file lies in it: one module for the download that writes the file and the
// command that opens it, so both apply the same checks to a name the server chose.
namespace exchange {

inline constexpr const char* kDownloadFolderName = "DownLoad";

// The process's current directory followed by "/DownLoad", read now (the current directory may change).
QString DownloadFolder();

// The file-system path of a paper's local name (as the catalogue's F_BDWJ holds it, "/" between folders) under the
// folder. Empty when the name is unusable (see IsSafeLocalName): the caller treats that like a file that cannot be
// written or opened. A character GBK cannot write (a U+FFFD a broken name decoded to) counts as a plain letter.
QString PaperFilePath(const QString& localName, const QString& folder = DownloadFolder());

// Makes the download folder when it is missing, as an installer would have, and removes from it (sub-folders
// included) the temporary files interrupted downloads left behind. Files of any other name stay, whatever they are.
void PrepareDownloadFolder(const QString& folder);

// A fresh temporary name for a paper streaming in, from a random number, and whether a file name is one of them.
QString TemporaryPaperName(quint32 random);
bool IsTemporaryPaperName(const QString& fileName);

}  // namespace exchange
