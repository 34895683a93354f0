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
// folder. Empty when the name is unusable (see IsSafeLocalName): the caller treats that like a file that cannot be
// written or opened. A character GBK cannot write (a U+FFFD a broken name decoded to) counts as a plain letter.
QString PaperFilePath(const QString& localName, const QString& folder = DownloadFolder());

// Makes the download folder when it is missing, as an installer would have, and clears out (sub-folders included)
// what interrupted downloads left behind: a partial paper stays only while it can still be resumed (its record names
// a validator, it is not longer than the paper, and it is at most a week old); every other partial paper, and every
// record without its partial paper, goes. Files of any other name stay, whatever they are.
void PrepareDownloadFolder(const QString& folder, const QDateTime& now = QDateTime::currentDateTime());

// Where a paper streams in before it is whole: ".vextal-" and eight hex digits of the target's file name, then
// ".part", in the target's folder; the same paper always gets the same partial file, so a retry after a restart finds
// what arrived. Beside it, its record (".resume" for ".part") keeps what the next attempt needs to ask for the rest.
QString PartialPaperPath(const QString& target);
QString ResumeRecordPath(const QString& partialPath);
bool IsTemporaryPaperName(const QString& fileName);
bool IsResumeRecordName(const QString& fileName);

// How long a partial paper is kept for a resume.
inline constexpr int kPartialPaperDays = 7;

}  // namespace exchange
