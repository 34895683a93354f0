// The paper download benchmark's two halves, run as two processes by bench/paper-download:
//   paper_download_bench serve SIZE_BYTES [STALL_AT_BYTES]
//       a content server on 127.0.0.1: the file-name page answers "bench/paper.bin", every /Upload/ path a body of
//       SIZE_BYTES (Content-Length, a strong ETag, large writes, kept-alive connections), or its rest from the byte a
//       Range asks for (206); prints its port, then one line "sent N" per body with the bytes it sent, and serves
//       until killed. With STALL_AT_BYTES, the first whole-paper answer stops after that many bytes and then goes
//       quiet without closing, as a link that was dropped somewhere on the way.
//   paper_download_bench serve SIZE_BYTES paced BYTES_PER_S [SILENT_EVERY_S BREAK_EVERY_S]
//       the same server behind one link that carries every body at BYTES_PER_S. With the two periods, the link goes
//       quiet without closing after every SILENT_EVERY_S of flow (held until the client closes) and breaks every
//       BREAK_EVERY_S of flow, resets and orderly closes in turn; both counted in the link's flow (bytes carried at
//       the rate), so every run meets the same events at the same bytes however long the client takes to recover.
//       When both fall due at once the break comes alone. Prints "page" for every file-name request, and for every
//       event, once the next answer's first body bytes went out, "event <silence|reset|close> <s of flow> <s since>".
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
constexpr const char* kPacedMode = "paced";
// Small enough that a paced body flows evenly (80 pieces a second at 1.25 MiB/s), so the client's silence rule learns
// the rhythm of a steady link, not of bursts.
constexpr std::size_t kPacedPiece = 16 * 1024;
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

// One line of the server's account; answers on several connections report at once.
void Report(const std::string& line) {
  const std::lock_guard<std::mutex> lock(g_reportMutex);
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void ReportSent(std::uint64_t bytes) { Report("sent " + std::to_string(bytes)); }

using SteadyClock = std::chrono::steady_clock;

enum class LinkEvent { kNone, kSilence, kBreak };

// What a link does to the bodies it carries; a period of 0 never falls due.
struct LinkPlan {
  std::uint64_t bytesPerSecond = 0;
  std::uint64_t silentEveryBytes = 0;
  std::uint64_t breakEveryBytes = 0;
};

// The one path every connection of a paced server shares: its flow goes on from connection to connection, so an event
// falls due at the same byte of the link whichever connection carries it.
class Link {
 public:
  explicit Link(const LinkPlan& plan)
      : m_plan(plan),
        m_nextSilence(plan.silentEveryBytes > 0 ? plan.silentEveryBytes : kNever),
        m_nextBreak(plan.breakEveryBytes > 0 ? plan.breakEveryBytes : kNever) {}

  std::uint64_t BytesPerSecond() const { return m_plan.bytesPerSecond; }
  // How many of `wanted` body bytes go out before the link's next event.
  std::uint64_t Room(std::uint64_t wanted);
  // Counts bytes carried; the event that falls due after them.
  LinkEvent Carried(std::uint64_t bytes);
  // The event falls due now (the moment the next piece would have gone out); a break says whether it resets.
  bool Befalls(LinkEvent event);
  // A new answer's first body bytes went out: the event before them is over, and what it cost is reported.
  void Resumed();

 private:
  static constexpr std::uint64_t kNever = ~std::uint64_t{0};

  std::mutex m_mutex;
  const LinkPlan m_plan;
  std::uint64_t m_flow = 0;
  std::uint64_t m_nextSilence;
  std::uint64_t m_nextBreak;
  int m_breaks = 0;
  std::string m_pendingName;
  std::uint64_t m_pendingFlow = 0;
  SteadyClock::time_point m_pendingSince;
};

std::uint64_t Link::Room(std::uint64_t wanted) {
  const std::lock_guard<std::mutex> lock(m_mutex);
  return std::min({wanted, m_nextSilence - m_flow, m_nextBreak - m_flow});
}

LinkEvent Link::Carried(std::uint64_t bytes) {
  const std::lock_guard<std::mutex> lock(m_mutex);
  m_flow += bytes;
  LinkEvent event = LinkEvent::kNone;
  if (m_flow == m_nextSilence) {
    m_nextSilence += m_plan.silentEveryBytes;
    event = LinkEvent::kSilence;
  }
  if (m_flow == m_nextBreak) {
    m_nextBreak += m_plan.breakEveryBytes;
    event = LinkEvent::kBreak;
  }
  return event;
}

bool Link::Befalls(LinkEvent event) {
  const std::lock_guard<std::mutex> lock(m_mutex);
  // Resets and orderly closes take turns, so both ways a client learns of a broken link are met.
  const bool resets = event == LinkEvent::kBreak && m_breaks++ % 2 == 0;
  m_pendingName = event == LinkEvent::kSilence ? "silence" : (resets ? "reset" : "close");
  m_pendingFlow = m_flow;
  m_pendingSince = SteadyClock::now();
  return resets;
}

void Link::Resumed() {
  const std::lock_guard<std::mutex> lock(m_mutex);
  if (m_pendingName.empty()) return;
  const std::chrono::duration<double> cost = SteadyClock::now() - m_pendingSince;
  char line[96];
  std::snprintf(line, sizeof line, "event %s %.1f %.3f", m_pendingName.c_str(),
                static_cast<double>(m_pendingFlow) / static_cast<double>(m_plan.bytesPerSecond), cost.count());
  m_pendingName.clear();
  Report(line);
}

enum class BodyEnd { kWhole, kFailed, kSilent, kReset, kClosed };

// Sends a body's `length` bytes from `from` at the link's rate, acting out the link's events on the way.
BodyEnd SendPaced(net::sock::Handle fd, Link& link, std::uint64_t from, std::uint64_t length,
                  const std::vector<char>& pattern, std::uint64_t& sent) {
  const SteadyClock::time_point start = SteadyClock::now();
  // When the piece after `bytes` of this body is due.
  const auto dueAfter = [&](std::uint64_t bytes) {
    return start + std::chrono::duration_cast<SteadyClock::duration>(
                       std::chrono::duration<double>(static_cast<double>(bytes) / link.BytesPerSecond()));
  };
  while (sent < length) {
    std::this_thread::sleep_until(dueAfter(sent));
    const auto piece = static_cast<std::size_t>(link.Room(std::min<std::uint64_t>(length - sent, kPacedPiece)));
    if (!SendAll(fd, pattern.data() + (from + sent) % kPatternPeriod, piece)) return BodyEnd::kFailed;
    if (sent == 0) link.Resumed();
    sent += piece;
    const LinkEvent event = link.Carried(piece);
    if (event == LinkEvent::kNone || sent == length) continue;
    // The link fails where its next piece was due: the client has had the time it always has to take the last one.
    std::this_thread::sleep_until(dueAfter(sent));
    const bool resets = link.Befalls(event);
    if (event == LinkEvent::kBreak) return resets ? BodyEnd::kReset : BodyEnd::kClosed;
    // Quiet, yet connected, until the client gives the connection up: nothing it can read tells it anything.
    char discard[256];
    while (net::sock::Receive(fd, discard, sizeof discard) > 0) {
    }
    return BodyEnd::kSilent;
  }
  return BodyEnd::kWhole;
}

// The first byte a request's "Range: bytes=N-" asks for; 0 without one.
std::uint64_t RangeStart(const std::string& request) {
  const std::size_t at = request.find(kRangeHeader);
  return at == std::string::npos ? 0 : std::strtoull(request.c_str() + at + std::strlen(kRangeHeader), nullptr, 10);
}

void Serve(net::sock::Handle fd, std::uint64_t bodySize, std::uint64_t stallAt, const std::vector<char>* pattern,
           Link* link) {
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
      // Every try of the window asks for the name first.
      Report("page");
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
    if (link != nullptr && left > 0) {
      std::uint64_t sent = 0;
      const BodyEnd ended = SendPaced(fd, *link, from, left, *pattern, sent);
      ReportSent(sent);
      if (ended == BodyEnd::kWhole) continue;
      if (ended == BodyEnd::kReset) {
        net::sock::CloseWithReset(fd);
        return;
      }
      break;
    }
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

// A link plan with a rate puts every body through one paced link; without one, bodies go out as fast as they can.
int RunServer(std::uint64_t bodySize, std::uint64_t stallAt, const LinkPlan& plan) {
  net::sock::EnsureStarted();
  // One period longer than a write, so a body resumed at any byte continues the same pattern.
  static std::vector<char> pattern(kWriteSize + kPatternPeriod);
  for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>('A' + i % kPatternPeriod);
  const net::sock::Handle listener = net::sock::ListenLoopback(kBacklog);
  if (listener == net::sock::kInvalidHandle) {
    std::fputs("paper_download_bench: cannot listen\n", stderr);
    return 1;
  }
  static Link link(plan);
  Link* const paced = plan.bytesPerSecond > 0 ? &link : nullptr;
  std::printf("%d\n", net::sock::LocalPort(listener));
  std::fflush(stdout);
  for (;;) {
    const net::sock::Handle fd = net::sock::Accept(listener);
    if (fd == net::sock::kInvalidHandle) continue;
    std::thread(Serve, fd, bodySize, stallAt, &pattern, paced).detach();
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
  const auto number = [&](int index) { return argc > index ? std::strtoull(argv[index], nullptr, 10) : 0ULL; };
  const bool paced = argc > 3 && std::string(argv[3]) == kPacedMode;
  if (mode == "serve" && paced && (argc == 5 || argc == 7) && number(4) > 0) {
    const std::uint64_t rate = number(4);
    return RunServer(number(2), 0, {rate, number(5) * rate, number(6) * rate});
  }
  if (mode == "serve" && !paced && (argc == 3 || argc == 4)) return RunServer(number(2), number(3), {});
  if (mode == "download" && (argc == 4 || argc == 5)) {
    return RunDownload(argc, argv, argv[2], number(3), number(4));
  }
  std::fputs("usage: paper_download_bench serve SIZE_BYTES [STALL_AT_BYTES | paced BYTES_PER_S [SILENT_EVERY_S "
             "BREAK_EVERY_S]] | download ORIGIN SIZE_BYTES [STALL_AT_BYTES]\n", stderr);
  return 2;
}
