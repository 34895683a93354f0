#pragma once

#include <QDateTime>
#include <QString>


// The download folder and where a paper's file lies in it: one module for the download that writes the file and the
// command that opens it, so both apply the same checks to a name the server chose.
namespace exchange {

inline constexpr const char* kDownloadFolderName = "DownLoad";

// The process's current directory followed by "/DownLoad", read now (the current directory may change).
QString DownloadFolder();

// The file-system path of a paper's local name (as the catalogue's F_BDWJ holds it, "/" between folders) under the
// folder. Empty when the name is unusable (see IsSafeLocalName, which also keeps every name out of the program's own
// folder): the caller treats that like a file that cannot be written or opened. A character GBK cannot write (a
// U+FFFD a broken name decoded to) counts as a plain letter.
QString PaperFilePath(const QString& localName, const QString& folder = DownloadFolder());

// Makes the download folder when it is missing, as an installer would have, and clears out of the program's own
// folder in it what interrupted downloads left behind (download::RemoveStalePartials: a partial paper stays only while
// it can still be resumed), and the program's folder with them when nothing is left.
// Nothing outside the program's folder is touched: whatever lies there is a paper or the user's.
void PrepareDownloadFolder(const QString& folder, const QDateTime& now = QDateTime::currentDateTime());

// The program's own folder in the download folder (hidden): partial papers and their records, and nothing else.
QString ProgramFolder(const QString& folder = DownloadFolder());

}  // namespace exchange
