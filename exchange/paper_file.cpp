#include "exchange/paper_file.h"

#include "exchange/download_folder.h"
#include "exchange/server_pages.h"
#include "net/http_client.h"
#include "net/http_text.h"
#include "platform/hidden_file.h"
#include "platform/internet_mark.h"

#include <QDir>
#include <QFileInfo>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

namespace exchange {
namespace {

// The target's name relative to the download folder, which names its partial file; empty when it lies outside.
QString LocalNameIn(const QString& folder, const QString& target) {
  QString base = QDir::cleanPath(folder);
  if (!base.endsWith(QLatin1Char('/'))) base += QLatin1Char('/');
  const QString path = QDir::cleanPath(target);
  return path.startsWith(base) ? path.mid(base.size()) : QString();
}

}  // namespace

PaperFileSink::PaperFileSink(const QString& target, BeginHandler onBegin, const QString& folder)
    : m_target(target), m_programFolder(ProgramFolder(folder)), m_onBegin(std::move(onBegin)) {
  const QString localName = LocalNameIn(folder, target);
  if (localName.isEmpty() || !QFileInfo(QFileInfo(target).absolutePath()).isDir()) throw DownloadFailed();
  m_localName = localName.toStdString();
  m_partial = PartialPaperPath(localName, folder);
  m_recordPath = ResumeRecordPath(m_partial);
  if (std::optional<ResumeRecord> record = ReadResumeRecord(m_recordPath)) m_record = *record;
  const qint64 kept = QFileInfo(m_partial).size();
  if (!m_record.validator.empty() && kept > 0 && (m_record.total < 0 || kept < m_record.total)) m_askedFrom = kept;
}

PaperFileSink::~PaperFileSink() {
  m_file.close();
  if (!m_committed && (m_writeFailed || m_record.validator.empty() || QFileInfo(m_partial).size() == 0)) Discard();
}

HeaderList PaperFileSink::RequestHeaders() const {
  return m_askedFrom < 0 ? HeaderList{} : ResumeHeaders(m_askedFrom, m_record);
}

void PaperFileSink::Begin(const net::ResponseHead& head) {
  const ResumeAnswer answer = ReadResumeAnswer(m_askedFrom, m_record, head.Code, head.HeaderLines, head.ContentLength);
  if (answer == ResumeAnswer::kTooLarge) {
    // Nothing of a paper the program will not take stays, not even what an earlier try kept of it.
    Discard();
    m_record = {};
    throw DownloadFailed();
  }
  if (answer == ResumeAnswer::kRestart) throw StartAgain();
  m_appends = answer == ResumeAnswer::kAppend;
  m_contentType = net::HeaderValue(head.HeaderLines, "Content-Type");
  if (m_appends) {
    m_answerRecord = m_record;
    if (m_answerRecord.total < 0) {
      m_answerRecord.total = ParseContentRange(net::HeaderValue(head.HeaderLines, "Content-Range"))->total;
    }
  } else {
    m_answerRecord = {ValidatorOf(head.HeaderLines), head.ContentLength};
  }
  if (m_onBegin) m_onBegin(m_appends ? m_askedFrom : 0, m_answerRecord.total);
}

void PaperFileSink::OpenPartial() {
  m_opened = true;
  MakeProgramFolder();
  QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered;
  mode |= m_appends ? QIODevice::Append : QIODevice::Truncate;
  const std::int64_t kept = m_appends ? m_askedFrom : 0;
  m_record = m_answerRecord;
  if (!m_appends) {
    // Without a validator nothing of this answer can be resumed: no record, and the partial file goes if it breaks.
    if (m_record.validator.empty()) {
      QFile::remove(m_recordPath);
    } else {
      WriteRecord();
    }
  }
  m_file.setFileName(m_partial);
  if (!m_file.open(mode)) {
    m_writeFailed = true;
    throw DownloadFailed();
  }
  if (kept > 0 && m_file.size() != kept) throw StartAgain();
  m_onDisk = kept;
}

void PaperFileSink::Append(const char* data, std::size_t size) {
  if (!m_opened) {
    if (size == 0) return;
    // Judged before the partial file is touched: a login page answering the request for the rest of a paper would
    // otherwise already have cut away what an earlier try kept.
    if (IsPageInPlaceOfPaper(m_localName, m_contentType, std::string_view(data, size))) throw InterceptedAnswer();
    OpenPartial();
  }
  // A body of unannounced length (read to the close, or chunked) is held to the limit an announced one meets in Begin.
  if (m_onDisk > kLargestPaperBytes ||
      static_cast<std::uint64_t>(size) > static_cast<std::uint64_t>(kLargestPaperBytes - m_onDisk) ||
      m_file.write(data, static_cast<qint64>(size)) != static_cast<qint64>(size)) {
    m_writeFailed = true;
    throw DownloadFailed();
  }
  m_onDisk += static_cast<std::int64_t>(size);
}

// Replaces any file of the target's name: std::filesystem::rename replaces an existing file on every platform
// (MoveFileEx with MOVEFILE_REPLACE_EXISTING on Windows), so there is no moment without a paper under that name.
// The mark of the Internet goes on under the final name, before the row turns "打开" (Wine keeps a stream as a file
// of its own beside the paper, which a rename would leave behind under the temporary name).
void PaperFileSink::Commit(std::string_view sourceUrl) {
  // An empty body is an empty paper.
  if (!m_opened) OpenPartial();
  m_file.close();
  if (m_file.error() != QFileDevice::NoError) {
    m_writeFailed = true;
    throw DownloadFailed();
  }
  if (m_record.total >= 0 && QFileInfo(m_partial).size() != m_record.total) throw StartAgain();
  const std::filesystem::path target = QFileInfo(m_target).filesystemFilePath();
  std::error_code error;
  std::filesystem::rename(QFileInfo(m_partial).filesystemFilePath(), target, error);
  if (error) throw DownloadFailed();
  m_committed = true;
  QFile::remove(m_recordPath);
  LeaveProgramFolderIfEmpty();
  platform::MarkFromInternet(target, sourceUrl);
}

void PaperFileSink::Discard() {
  m_file.close();
  QFile::remove(m_partial);
  QFile::remove(m_recordPath);
  LeaveProgramFolderIfEmpty();
}

// Made only for an answer that is going to be written, and by mkdir, never mkpath: a download folder that went away
// fails the download as it always has, rather than coming back empty.
void PaperFileSink::MakeProgramFolder() {
  QDir().mkdir(m_programFolder);
  if (!QFileInfo(m_programFolder).isDir()) {
    m_writeFailed = true;
    throw DownloadFailed();
  }
  // A folder that stays visible (a file system without the attribute) costs nothing but the sight of it.
  platform::HideFromListings(QFileInfo(m_programFolder).filesystemAbsoluteFilePath());
}

// The download folder shows nothing but papers once no download is under way; only an empty folder goes.
void PaperFileSink::LeaveProgramFolderIfEmpty() { QDir().rmdir(m_programFolder); }

void PaperFileSink::WriteRecord() {
  QFile recordFile(m_recordPath);
  const std::string text = ResumeRecordText(m_record);
  // A record that cannot be written only costs the resume; the download itself goes on.
  if (recordFile.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    recordFile.write(text.data(), static_cast<qint64>(text.size()));
  }
}

}  // namespace exchange
