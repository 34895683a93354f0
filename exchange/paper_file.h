#pragma once

#include "exchange/download_folder.h"
#include "exchange/resumable_download.h"
#include "net/body_sink.h"

#include <QFile>
#include <QString>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace exchange {

// A failure of the download that the window swallows; it carries no text because nobody ever shows it.
class DownloadFailed : public std::runtime_error {
 public:
  DownloadFailed() : std::runtime_error("paper download failed") {}
};

// The server's answer cannot continue the bytes kept (a range that starts elsewhere, another total, a range not asked
// for, a paper of another length): what was kept goes, and the paper is asked for once more from its first byte.
class StartAgain : public std::runtime_error {
 public:
  StartAgain() : std::runtime_error("paper download starts again") {}
};

// Streams a paper into its partial file (in the program's own folder, see PartialPaperPath) and puts it in place
// under its final name by a rename only once it is whole: a broken transfer never leaves a truncated paper under the
// name "打开试卷" opens, nor spoils the copy an earlier download left there. A transfer that breaks keeps what arrived,
// with the record the next attempt needs to ask for the rest, when the server gave a validator; otherwise, or after a
// failed write, the partial file goes.
// Not QSaveFile: its commit forces the whole file to the disk (fdatasync), which for a large paper stalls the UI
// thread for longer than the download itself took, where the program has always relied on the system's own write-back.
class PaperFileSink : public net::BodySink {
 public:
  // Called once the answer's head is accepted: the bytes kept from an earlier try and the paper's whole length
  // (-1: unknown).
  using BeginHandler = std::function<void(std::int64_t kept, std::int64_t total)>;

  // The target is a paper's path under the download folder (PaperFilePath). Throws DownloadFailed when the target's
  // folder is missing or the target lies outside the download folder: nothing is fetched for a file that could not be
  // kept.
  PaperFileSink(const QString& target, BeginHandler onBegin, const QString& folder = DownloadFolder());
  ~PaperFileSink() override;

  PaperFileSink(const PaperFileSink&) = delete;
  PaperFileSink& operator=(const PaperFileSink&) = delete;

  // Range and If-Range for the rest of what an earlier try kept; none when nothing can be resumed.
  HeaderList RequestHeaders() const;
  bool AskedForTheRest() const { return m_askedFrom >= 0; }

  // Throws StartAgain when the answer cannot continue the kept bytes, DownloadFailed (keeping nothing of the paper)
  // when it announces a paper larger than kLargestPaperBytes. The partial file and its record are left as they are
  // until the body's first byte shows the answer is not the network's page (OpenPartial).
  void Begin(const net::ResponseHead& head) override;
  // Throws InterceptedAnswer, with the kept bytes and their record untouched, when the body is a page the network put
  // in the paper's place (IsPageInPlaceOfPaper); DownloadFailed when the bytes cannot be written or the paper grows
  // past kLargestPaperBytes.
  void Append(const char* data, std::size_t size) override;

  // Puts the whole paper under its final name and marks it as coming from `sourceUrl`. Throws StartAgain when the
  // file is not the paper's announced length, DownloadFailed when it cannot be put in place.
  void Commit(std::string_view sourceUrl);
  // Drops what was kept, with its record.
  void Discard();

 private:
  // Opens the partial file for the answer Begin accepted: appending to the kept bytes, or in place of them with the
  // answer's own record.
  void OpenPartial();
  void MakeProgramFolder();
  void WriteRecord();
  void LeaveProgramFolderIfEmpty();

  QString m_target;
  QString m_programFolder;
  QString m_partial;
  QString m_recordPath;
  BeginHandler m_onBegin;
  // The target's name under the download folder, whose ending says whether the paper is a web page itself.
  std::string m_localName;
  ResumeRecord m_record;
  std::int64_t m_askedFrom = -1;
  // What Begin read of the answer, for OpenPartial: whether it continues the kept bytes, its record when it does not,
  // and its media type.
  bool m_appends = false;
  ResumeRecord m_answerRecord;
  std::string m_contentType;
  bool m_opened = false;
  QFile m_file;
  // What the partial file holds: the bytes kept and those appended since.
  std::int64_t m_onDisk = 0;
  bool m_committed = false;
  bool m_writeFailed = false;
};

}  // namespace exchange
