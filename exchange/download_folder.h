#pragma once

#include "exchange/resumable_download.h"

#include <QDateTime>
#include <QString>

#include <optional>

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
// folder in it what interrupted downloads left behind: a partial paper stays only while it can still be resumed (its
// record names a validator, it is not longer than the paper, and it is at most a week old); every other partial
// paper, and every record without its partial paper, goes, and the program's folder with them when nothing is left.
// Nothing outside the program's folder is touched: whatever lies there is a paper or the user's.
void PrepareDownloadFolder(const QString& folder, const QDateTime& now = QDateTime::currentDateTime());

// The program's own folder in the download folder (hidden): partial papers and their records, and nothing else.
QString ProgramFolder(const QString& folder = DownloadFolder());

// Where the paper of this local name streams in before it is whole: sixteen hex digits of a hash of the name (its
// sub-folders included), then ".part", in the program's folder, where no name a server sends can reach; the same
// paper always gets the same partial file, so a retry after a restart finds what arrived. Beside it, its record
// (".resume" for ".part") keeps what the next attempt needs to ask for the rest.
QString PartialPaperPath(const QString& localName, const QString& folder = DownloadFolder());
QString ResumeRecordPath(const QString& partialPath);
// The record at that path; nothing when it is missing or is not such a record.
std::optional<ResumeRecord> ReadResumeRecord(const QString& recordPath);
// Whether a file name in the program's folder is a partial paper's or a record's.
bool IsTemporaryPaperName(const QString& fileName);
bool IsResumeRecordName(const QString& fileName);

// How long a partial paper is kept for a resume.
inline constexpr int kPartialPaperDays = 7;

}  // namespace exchange
