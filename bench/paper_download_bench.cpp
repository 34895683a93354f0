// The paper download benchmark's two halves, run as two processes by bench/paper-download:
//   paper_download_bench serve SIZE_BYTES [STALL_AT_BYTES]
//       a content server on 127.0.0.1: the file-name page answers "bench/paper.bin", every /Upload/ path a body of
//       SIZE_BYTES (Content-Length, a strong ETag, large writes, kept-alive connections), or its rest from the byte a
//       Range asks for (206); prints its port, then one line "sent N" per body with the bytes it sent, and serves
//       until killed. With STALL_AT_BYTES, the first whole-paper answer stops after that many bytes and then goes
//       quiet without closing, as a link that was dropped somewhere on the way.
//   paper_download_bench download ORIGIN SIZE_BYTES [STALL_AT_BYTES]
//       in the current directory (which must hold DownLoad/): one catalogue row, the real download window pointed at
//       ORIGIN, its countdown action run once, offscreen; a 10 ms timer records the longest stretch the UI event queue
//       went unserved. Prints "<action s> <file transfer s> <longest UI gap ms> <gaps over 50 ms>" after checking
//       the result; with STALL_AT_BYTES it prints "<s from the stall to the paper complete> <silent-link limit s>".
#include "exchange/paper_download_window.h"
#include "net/socket_api.h"
#include "store/catalogue.h"
#include "store/result_set.h"
#include "store/statements.h"
#include "ui/countdown.h"
#include "ui/pump.h"
#include "ui/seams.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProgressBar>
#include <QSqlQuery>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t kWriteSize = 1 << 20;
constexpr std::size_t kPatternPeriod = 61;
constexpr int kBacklog = 16;
constexpr const char* kAnswer = "bench/paper.bin";
constexpr const char* kFileNamePage = "/admin/ZPR_BhToDown.asp";
constexpr const char* kUploadPage = "/Upload/";
constexpr const char* kETag = "\"bench-1\"";
constexpr const char* kRangeHeader = "\r\nRange: bytes=";
// A stalled answer is held this long, far beyond any read limit the client may have.
constexpr auto kStalledForSeconds = std::chrono::hours(1);
constexpr int kGapTimerMs = 10;
// The longest the UI event queue may go unserved during a download.
constexpr qint64 kGapGoalNs = 50'000'000;
// Past the 28 reading's start: the countdown fires on the first tick.
constexpr qint64 kAfterShowMs = 1500;

bool SendAll(net::sock::Handle fd, const char* data, std::size_t size) {
  while (size > 0) {
    const long sent = net::sock::Send(fd, data, size);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

std::mutex g_reportMutex;
std::atomic<bool> g_stalledOnce{false};

void ReportSent(std::uint64_t bytes) {
  const std::lock_guard<std::mutex> lock(g_reportMutex);
  std::printf("sent %llu\n", static_cast<unsigned long long>(bytes));
  std::fflush(stdout);
}

// The first byte a request's "Range: bytes=N-" asks for; 0 without one.
std::uint64_t RangeStart(const std::string& request) {
  const std::size_t at = request.find(kRangeHeader);
  return at == std::string::npos ? 0 : std::strtoull(request.c_str() + at + std::strlen(kRangeHeader), nullptr, 10);
}

void Serve(net::sock::Handle fd, std::uint64_t bodySize, std::uint64_t stallAt, const std::vector<char>* pattern) {
  std::string pending;
  char chunk[4096];
  for (;;) {
    std::size_t end;
    while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
      const long got = net::sock::Receive(fd, chunk, sizeof chunk);
      if (got <= 0) {
        net::sock::Close(fd);
        return;
      }
      pending.append(chunk, static_cast<std::size_t>(got));
    }
    const std::string request = pending.substr(0, end + 4);
    const std::string target = pending.substr(pending.find(' ') + 1, pending.find(" HTTP/") - pending.find(' ') - 1);
    pending.erase(0, end + 4);
    std::string head;
    std::uint64_t length = 0;
    std::uint64_t from = 0;
    std::string text;
    if (target.rfind(kFileNamePage, 0) == 0) {
      text = kAnswer;
      length = text.size();
      head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n";
    } else if (target.rfind(kUploadPage, 0) == 0) {
      from = std::min(RangeStart(request), bodySize);
      length = bodySize - from;
      head = from > 0 ? "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(from) + "-" +
                            std::to_string(bodySize - 1) + "/" + std::to_string(bodySize) + "\r\n"
                      : std::string("HTTP/1.1 200 OK\r\n");
      head += "Content-Type: application/octet-stream\r\nETag: " + std::string(kETag) + "\r\n";
    } else {
      head = "HTTP/1.1 404 Not Found\r\n";
    }
    head += "Content-Length: " + std::to_string(length) + "\r\n\r\n" + text;
    if (!SendAll(fd, head.data(), head.size())) break;
    std::uint64_t left = text.empty() ? length : 0;
    const bool stalls = left > 0 && from == 0 && stallAt > 0 && !g_stalledOnce.exchange(true);
    std::uint64_t sent = 0;
    while (left > 0) {
      std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(left, kWriteSize));
      if (stalls) piece = static_cast<std::size_t>(std::min<std::uint64_t>(piece, stallAt - sent));
      if (piece == 0 || !SendAll(fd, pattern->data() + (from + sent) % kPatternPeriod, piece)) break;
      left -= piece;
      sent += piece;
    }
    if (text.empty() && target.rfind(kUploadPage, 0) == 0) ReportSent(sent);
    if (stalls) {
      // Quiet, yet still connected: neither a close nor a reset tells the client anything.
      std::this_thread::sleep_for(kStalledForSeconds);
      break;
    }
    if (left > 0) break;
  }
  net::sock::Close(fd);
}

int RunServer(std::uint64_t bodySize, std::uint64_t stallAt) {
  net::sock::EnsureStarted();
  // One period longer than a write, so a body resumed at any byte continues the same pattern.
  static std::vector<char> pattern(kWriteSize + kPatternPeriod);
  for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>('A' + i % kPatternPeriod);
  const net::sock::Handle listener = net::sock::ListenLoopback(kBacklog);
  if (listener == net::sock::kInvalidHandle) {
    std::fputs("paper_download_bench: cannot listen\n", stderr);
    return 1;
  }
  std::printf("%d\n", net::sock::LocalPort(listener));
  std::fflush(stdout);
  for (;;) {
    const net::sock::Handle fd = net::sock::Accept(listener);
    if (fd == net::sock::kInvalidHandle) continue;
    std::thread(Serve, fd, bodySize, stallAt, &pattern).detach();
  }
}

// The real clock, moved on so the countdown shows the 28 reading at the next tick.
class ShiftedClock : public ui::Clock {
 public:
  QDateTime Now() const override { return QDateTime::currentDateTime().addMSecs(shiftMs); }
  qint64 shiftMs = 0;
};

int RunDownload(int argc, char** argv, const std::string& origin, std::uint64_t bodySize, std::uint64_t stallAt) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ui::InstallPumpDispatcher();
  ShiftedClock clock;
  ui::SetClock(&clock);

  QSqlDatabase db = store::OpenCatalogue(QStringLiteral("data/data.mdb"), QStringLiteral("bench"));
  QSqlQuery insert(db);
  if (!insert.exec(QStringLiteral("insert into VXT_TM (F_bh, F_SJMC, F_ZT) values ('1001', 'bench', '下载')"))) {
    std::fputs("paper_download_bench: cannot insert the paper\n", stderr);
    return 1;
  }
  store::ResultSet list(db);
  list.SetStatement(store::DefaultListStatement());
  list.Open();
  const qint64 id = list.CurrentId();

  exchange::PaperDownloadWindow form(&list, nullptr);
  form.SetContentServer(origin);
  form.show();
  QCoreApplication::processEvents();

  QElapsedTimer elapsed;
  qint64 lastTick = 0;
  qint64 longestGap = 0;
  qint64 fileStart = -1;
  int gapsOverGoal = 0;
  QTimer gapTimer;
  gapTimer.setInterval(kGapTimerMs);
  gapTimer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&gapTimer, &QTimer::timeout, [&] {
    const qint64 now = elapsed.nsecsElapsed();
    longestGap = std::max(longestGap, now - lastTick);
    if (now - lastTick > kGapGoalNs) ++gapsOverGoal;
    lastTick = now;
  });
  // The stall begins when the last bytes before the silence arrive: the bar's last movement below the stall point (a
  // piece cut off by the silence is kept but never shown; the next try's bar starts at the kept bytes).
  qint64 lastBelowStall = -1;
  qint64 stalledAt = -1;
  QObject::connect(form.ProgressBar, &QProgressBar::valueChanged, [&](int value) {
    // The bar restarts for the file: its first movement against the file's length starts the transfer's clock.
    if (fileStart < 0 && form.ProgressBar->maximum() == static_cast<int>(bodySize)) fileStart = elapsed.nsecsElapsed();
    // Only the paper's own bar counts, and not its start at zero for each try.
    if (stallAt == 0 || stalledAt >= 0 || value <= 0 || form.ProgressBar->maximum() != static_cast<int>(bodySize)) return;
    if (static_cast<std::uint64_t>(value) < stallAt) {
      lastBelowStall = elapsed.nsecsElapsed();
    } else {
      stalledAt = lastBelowStall;
    }
  });

  clock.shiftMs = kAfterShowMs;
  gapTimer.start();
  elapsed.start();
  form.OnCountdownTick();
  const qint64 end = elapsed.nsecsElapsed();
  gapTimer.stop();
  longestGap = std::max(longestGap, end - lastTick);
  if (end - lastTick > kGapGoalNs) ++gapsOverGoal;

  const QFileInfo file(QStringLiteral("DownLoad/paper.bin"));
  if (list.FieldAsText(list.RowOfId(id), QStringLiteral("F_ZT")) != QStringLiteral("打开") || !file.exists() ||
      static_cast<std::uint64_t>(file.size()) != bodySize || form.isVisible()) {
    std::fputs("paper_download_bench: the download did not complete\n", stderr);
    return 1;
  }
  if (stallAt > 0) {
    std::printf("%.3f %.3f\n", stalledAt < 0 ? -1.0 : (end - stalledAt) / 1e9, form.Client().ReadTimeout / 1e3);
  } else {
    std::printf("%.4f %.4f %.1f %d\n", end / 1e9, fileStart < 0 ? 0.0 : (end - fileStart) / 1e9, longestGap / 1e6,
                gapsOverGoal);
  }
  ui::SetClock(nullptr);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  const auto stallAt = [&](int index) { return argc > index ? std::strtoull(argv[index], nullptr, 10) : 0ULL; };
  if (mode == "serve" && (argc == 3 || argc == 4)) return RunServer(std::strtoull(argv[2], nullptr, 10), stallAt(3));
  if (mode == "download" && (argc == 4 || argc == 5)) {
    return RunDownload(argc, argv, argv[2], std::strtoull(argv[3], nullptr, 10), stallAt(4));
  }
  std::fputs("usage: paper_download_bench serve SIZE_BYTES [STALL_AT_BYTES] | download ORIGIN SIZE_BYTES "
             "[STALL_AT_BYTES]\n", stderr);
  return 2;
}
