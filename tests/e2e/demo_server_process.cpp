#include "tests/e2e/demo_server_process.h"

#include <QRegularExpression>
#include <QStringList>

#ifdef Q_OS_LINUX
#include <sys/prctl.h>

#include <csignal>
#endif

namespace {

// Generating a first bank of files is the slow part of a start; it stays well under this.
constexpr int kStartTimeoutMs = 20'000;
constexpr int kStopTimeoutMs = 5'000;

}  // namespace

DemoServerProcess::~DemoServerProcess() { Stop(); }

QString DemoServerProcess::Start(const QString& root, int records, const QString& version) {
  Stop();
  // No rate limit: the tests want the round trips, not a watchable progress bar.
  m_process.setProgram(QStringLiteral(VEXTAL_DEMO_SERVER_PATH));
  m_process.setArguments({"--port", "0", "--root", root, "--records", QString::number(records), "--version", version,
                          "--rate", "0", "--quiet"});
  m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
#ifdef Q_OS_LINUX
  // A test binary that crashes must not leave its server listening for ever.
  m_process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
#endif
  m_process.start();
  if (!m_process.waitForStarted(kStartTimeoutMs)) {
    return QStringLiteral("cannot start %1: %2").arg(m_process.program(), m_process.errorString());
  }
  const QRegularExpression listening(QStringLiteral("^listening on 127\\.0\\.0\\.1:(\\d+)\\s*$"));
  while (!m_process.canReadLine()) {
    if (!m_process.waitForReadyRead(kStartTimeoutMs)) {
      const QString why = m_process.state() == QProcess::NotRunning
                              ? QStringLiteral("it ended with code %1").arg(m_process.exitCode())
                              : QStringLiteral("no answer within %1 ms").arg(kStartTimeoutMs);
      Stop();
      return QStringLiteral("the demo server did not start listening: ") + why;
    }
  }
  const QString line = QString::fromLatin1(m_process.readLine());
  const QRegularExpressionMatch match = listening.match(line);
  if (!match.hasMatch()) {
    Stop();
    return QStringLiteral("unexpected first line from the demo server: ") + line;
  }
  m_port = match.captured(1).toInt();
  return {};
}

void DemoServerProcess::Stop() {
  if (m_process.state() != QProcess::NotRunning) {
    m_process.terminate();
    if (!m_process.waitForFinished(kStopTimeoutMs)) {
      m_process.kill();
      m_process.waitForFinished(kStopTimeoutMs);
    }
  }
  m_port = 0;
}

std::string DemoServerProcess::Origin() const { return "http://127.0.0.1:" + std::to_string(m_port); }
