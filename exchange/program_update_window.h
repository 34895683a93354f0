#pragma once

#include "net/http_client.h"
#include "ui/task_window.h"

#include <string>

class QWidget;

namespace exchange {

// The program update window ("更新程序"): compares the version server's text with our own and, when they differ,
// starts the updater and closes the main window. Unlike the other task windows it shows its countdown.
class ProgramUpdateWindow : public ui::TaskWindow {
  Q_OBJECT

 public:
  explicit ProgramUpdateWindow(QWidget* mainWindow);

  // Origin ("http://host[:port]") the version page is asked from; the build-time version server by default.
  void SetVersionServer(std::string origin) { m_versionServer = std::move(origin); }
  const std::string& VersionServer() const { return m_versionServer; }

  // At the 28 reading: the version comparison, and the hand-over to the updater when the versions differ.
  void OnCountdownTick() override;

  net::HttpClient& Client() { return m_http; }

 private:
  net::HttpClient m_http;
  std::string m_versionServer;
};

}  // namespace exchange
