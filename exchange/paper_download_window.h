#pragma once

#include "exchange/transfer_meter.h"
#include "net/http_client.h"
#include "ui/task_window.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <functional>
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

  // The text beside the bar: received and total size, speed and time left, or the next try during a pause.
  QString TransferText() const;

  // Waits `ms` before another try of the paper with this F_id; false when the wait was cut short (the row went). Tests
  // replace it to record the pauses instead of sleeping them.
  using RetryPause = std::function<bool(int ms, qint64 id)>;
  void SetRetryPause(RetryPause pause) { m_retryPause = std::move(pause); }

 private:
  // The countdown action: the current paper, tried again after a failure another try may mend, up to three more
  // times with growing pauses, resuming from the bytes kept. Every failure of the download itself is swallowed: the
  // window then stays on screen.
  void Download();
  // One try; returns normally only when the window may hide. A row the user deleted while its requests waited records
  // nothing (UpdateById finds no row) and still counts as done: the file fetched stays in the download folder and the
  // window hides.
  void DownloadPaper(qint64 id);
  bool WaitUnlessPaperGone(int ms, qint64 id);

  void OnTransferBegin(std::int64_t max);
  void OnTransferProgress(std::int64_t count);
  void ShowTransferText(const QString& text);

  QLabel* const m_transferText;
  store::ResultSet* m_mainList;
  net::HttpClient m_http;
  std::string m_contentServer;
  RetryPause m_retryPause;
  exchange::TransferMeter m_meter;
  // Bytes of the paper kept from an earlier try, which the bar and the text count on from.
  std::int64_t m_progressOffset = 0;
  // Whether the transfer under way is the paper's file (not the page that names it).
  bool m_showsTransfer = false;
};

}  // namespace exchange
