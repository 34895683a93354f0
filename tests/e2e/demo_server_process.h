#pragma once

#include <QProcess>
#include <QString>

#include <string>

// The demo server as a child process on a free loopback port, with its paper files under a folder the caller owns.
// Several servers may share one folder one after another: the bank is generated the same way every time, so a later
// server with more records hands out the earlier papers unchanged and only adds newer ones.
class DemoServerProcess {
 public:
  DemoServerProcess() = default;
  ~DemoServerProcess();
  DemoServerProcess(const DemoServerProcess&) = delete;
  DemoServerProcess& operator=(const DemoServerProcess&) = delete;

  // Starts the server with `records` papers and `version` as the version page, and waits for it to listen. Returns an
  // empty text on success, otherwise why it did not start.
  QString Start(const QString& root, int records, const QString& version);
  void Stop();

  int Port() const { return m_port; }
  // "http://127.0.0.1:PORT", as the windows take their origins.
  std::string Origin() const;

 private:
  QProcess m_process;
  int m_port = 0;
};
