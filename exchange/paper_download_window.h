#pragma once

#include "download/resumable_fetch.h"
#include "net/http_client.h"
#include "ui/retry_pause.h"
#include "ui/task_window.h"
#include "ui/transfer_text.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

class QLabel;
class QWidget;

namespace store {
class ResultSet;
}

namespace exchange {

// The paper download window ("进度条"): fetches the file of the main list's current paper into the download folder
// and records the result in that row.
class PaperDownloadWindow : public ui::TaskWindow {
  Q_OBJECT

 public:
  PaperDownloadWindow(store::ResultSet* mainList, QWidget* mainWindow);

  store::ResultSet* MainList() const { return m_mainList; }
  net::HttpClient& Client() { return m_http; }

  // "http://host[:port]", without a trailing "/"; the build-time content server unless a test or tool points the
  // window elsewhere.
  void SetContentServer(std::string origin) { m_contentServer = std::move(origin); }
  const std::string& ContentServer() const { return m_contentServer; }

  // Ticks the countdown and downloads at the 28 reading; public so tests and tools can drive it with a fake clock.
  void OnCountdownTick() override;

  // What F_GXSJ records for a download finished at `when`: the short date, a blank and the long time, the time
  // left out at midnight (as the date-time text of the program's era does).
  static QString DownloadTimeText(const QDateTime& when);

  // The text beside the bar: received and total size, speed and time left, the next try during a pause, or, after a
  // download that gave up, what failed and what is kept for the next one.
  QString TransferText() const;

  // Waits `ms` before another try; false when the wait was cut short. Tests replace it to record the pauses instead of
  // sleeping them, or to act inside the real one.
  using RetryPause = std::function<bool(int ms)>;
  void SetRetryPause(RetryPause pause) { m_retryPause = std::move(pause); }
  // The real pause: it serves the UI while it waits and ends at once on a cancel or when the paper is deleted.
  bool PauseBeforeRetry(int ms);

  // "取消" and Escape while a paper downloads: the transfer or the pause before the next try ends within a pump slice,
  // the strip goes, the row stays as it was, and the bytes kept stay for the next download, which asks for the rest.
  void CancelDownload();
  bool Downloading() const;

 private:
  // The countdown action: the current paper, tried again after a failure another try may mend (download::Tries:
  // while tries move it on, and up to three more that do not), resuming from the bytes kept. No failure of the
  // download is reported in a dialog: the window stays on screen and says beside the bar what failed.
  void Download();
  // One try. A row the user deleted while its requests waited records nothing (UpdateById finds no row) and still
  // counts as done: a file already fetched stays in the download folder and the window hides.
  download::TryResult DownloadPaper(qint64 id);
  // Ends the request or the pause under way, for a cancel or a deleted paper.
  void EndTheWait();

  void OnTransferBegin(std::int64_t max);
  void OnTransferProgress(std::int64_t count);

  QLabel* const m_transferLabel;
  ui::TransferText m_transferText;
  store::ResultSet* m_mainList;
  net::HttpClient m_http;
  std::string m_contentServer;
  RetryPause m_retryPause;
  ui::RetryPause m_pause;
  // Bytes of the paper kept from an earlier try, which the bar and the text count on from.
  std::int64_t m_progressOffset = 0;
  // Whether the transfer under way is the paper's file (not the page that names it).
  bool m_showsTransfer = false;
  // The paper being downloaded, -1 between downloads; why its download ended early; the pause under way, if any.
  qint64 m_paperId = -1;
  bool m_cancelled = false;
  bool m_paperGone = false;
  // The file the download fetches, once the server named it: what a deletion of the paper removes the kept part of.
  std::optional<download::FetchTarget> m_target;
};

}  // namespace exchange
