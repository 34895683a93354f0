#pragma once

#include "net/http_client.h"
#include "ui/task_window.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <string>
#include <utility>

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

 private:
  // The countdown action. Every failure of the download itself is swallowed: the window then stays on screen.
  void Download();
  // The part whose every error is silenced; returns normally only when the window may hide. A row the user deleted
  // while its requests waited records nothing (UpdateById finds no row) and still counts as done: the file fetched
  // stays in the download folder and the window hides.
  void DownloadCurrentPaper();

  store::ResultSet* m_mainList;
  net::HttpClient m_http;
  std::string m_contentServer;
};

}  // namespace exchange
