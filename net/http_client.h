#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/body_sink.h"
#include "net/connection.h"
#include "net/http_text.h"
#include "net/system_proxy.h"
#include "net/tls_channel.h"

namespace net {

class CookieStore;

enum class WorkMode { wmRead, wmWrite };

// Bounds on what a server may make one get hold in memory. A head (interim heads of the same get included) may carry
// this many bytes and lines, which no server of ours comes near (curl allows 300 KB); beyond them the get fails with
// HeadTooLarge. An error or redirect body is kept up to kMaxErrorBodyBytes, which is enough to show what went wrong.
inline constexpr std::size_t kMaxResponseHeadBytes = 256 * 1024;
inline constexpr std::size_t kMaxResponseHeadLines = 1000;
inline constexpr std::size_t kMaxErrorBodyBytes = 64 * 1024;
// With a read limit, an answer must also deliver this many bytes within every stretch of two read limits (1 KiB a
// minute beside the program's 30 s): the limit alone bounds a silence, and a server or proxy trickling a byte every
// 29 s would keep a request alive for ever.
inline constexpr std::size_t kSlowLinkFloorBytes = 1024;
inline constexpr int kProgressFloorReadLimits = 2;
// The cap of GetText and GetIntoBuffer when the caller names none; streaming into a sink has none.
inline constexpr std::size_t kDefaultMaxBodyInMemory = 64 * 1024 * 1024;

// The request headers every get sends.
struct RequestSettings {
  std::string Accept = "text/html, */*";
  std::string ContentType = "text/html";
  std::string UserAgent = "Mozilla/3.0 (compatible; Indy Library)";
};

// The last response head read (overwritten by every head, interim ones included).
struct ResponseHead {
  std::string StatusLine;
  int Code = -1;
  std::vector<std::string> HeaderLines;
  std::int64_t ContentLength = -1;
  std::string Connection;
  std::string ProxyConnection;
  std::string Location;
  std::string TransferEncoding;
};

// A blocking HTTP/1.1 GET client over one kept-alive connection. Gets run on the UI thread and serve the UI through
// the PumpPolicy in force while they wait, so handlers may run inside a get; such a handler must not use the same
// client (it is refused with ClientBusy). Every failure is an HttpClientError.
class HttpClient {
 public:
  HttpClient();
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // The body as bytes, unchanged; a body beyond maxBytes fails with BodyTooLarge.
  std::string GetText(const std::string& url, std::size_t maxBytes = kDefaultMaxBodyInMemory);
  // Appends the body to buffer, which never grows beyond maxBytes (BodyTooLarge).
  void GetIntoBuffer(const std::string& url, std::string& buffer, std::size_t maxBytes = kDefaultMaxBodyInMemory);
  // Streams the body into sink as it arrives.
  void Get(const std::string& url, BodySink& sink);

  // For a handler the pump runs while this client's get waits (a user's "cancel"): the get ends within one pump slice
  // with Cancelled and drops its connection. Nothing happens when no get runs.
  void Cancel();
  bool Busy() const { return m_busy; }
  // For a body sink that learned the link's rhythm: from the next wait of the get under way on, the longest silence
  // its body may keep, never above ReadTimeout (when one is set). The next get starts again from ReadTimeout.
  void LimitBodySilence(int ms);

  // Configuration; the defaults are what every window uses.
  RequestSettings Request;
  HttpVersion ProtocolVersion = HttpVersion::pv1_1;
  bool AllowCookies = true;
  int ReadTimeout = 0;             // ms a wait for data, or for room to send, may last; 0 = no limit
  // Bytes an answer must deliver within each kProgressFloorReadLimits x ReadTimeout (when one is set); 0 = no floor.
  std::size_t ProgressFloorBytes = kSlowLinkFloorBytes;
  std::size_t MaxLineLength = 16384;
  std::size_t RecvBufferSize = 32768;
  int Port = 80;                   // when the URL names none
  // ms a connect may take; it runs on a connect thread when the UI is pumped or a read limit is set. A read limit
  // bounds the silence of a connected server, not how long a handshake may take on a slow network.
  int ConnectTimeLimit = 120000;
  // Which proxy serves each get; empty: what the user's system names (SystemProxyFor). Tests and tools name one.
  std::function<ProxyServer(const ProxyQuery&)> ChooseProxy;
  // Sent after the standard headers with every get until changed (a download's Range and If-Range).
  std::vector<std::pair<std::string, std::string>> ExtraHeaders;

  // Progress of body transfers; AWorkCount is cumulative within one transfer (a body, or one chunk).
  std::function<void(HttpClient& sender, WorkMode mode, std::int64_t max)> OnWorkBegin;
  std::function<void(HttpClient& sender, WorkMode mode, std::int64_t count)> OnWork;
  std::function<void(HttpClient& sender, WorkMode mode)> OnWorkEnd;

  // Null until the first response head has been read (and always with AllowCookies false).
  CookieStore* Cookies() { return m_cookies.get(); }
  const ResponseHead& Response() const { return m_response; }
  // Whether a connection is open and would be offered to the next get.
  bool Connected() const { return m_connection.IsOpen(); }
  const Connection& GetConnection() const { return m_connection; }
  // The proxy the last get went through; empty when it went to the server itself.
  const ProxyServer& ProxyInUse() const { return m_proxy; }

 private:
  struct WorkCounter {
    int level = 0;
    std::int64_t current = 0;
    std::int64_t max = 0;
  };

  // One request and its answer, with the connection left as the answer allows.
  void GetOnce(const UrlParts& url, int port, BodySink& sink);
  void RunGet(const UrlParts& url, int port, BodySink& sink);
  // An open connection that leads where this get goes, or a new one: to the server or the proxy, a tunnel through
  // the proxy for https, TLS over it.
  void ChooseConnection(const UrlParts& url, int port, bool secure);
  void OpenConnection(const UrlParts& url, int port, bool secure, TlsCheck check);
  void OpenTunnel(const UrlParts& url, int port);
  // The Date of the server's answer over TLS that checks nothing (its head alone is read), when it comes in time.
  std::optional<std::int64_t> AskServerClock(const UrlParts& url, int port);
  void AddProxyAuthorization(std::vector<std::pair<std::string, std::string>>& headers) const;
  std::string BuildRequest(const UrlParts& url, bool secure);
  // After a 407 from the proxy in use: true when the user gave a login worth another try.
  bool LoginToProxy();
  // A proxy's answer to CONNECT sets no cookie of the server's.
  void ReadResponseHead(const UrlParts& url, bool storeCookies);
  // A head line counted against the get's head bounds.
  void ReadHeadLine(std::string& line);
  void ReadBody(BodySink& sink);
  void ReadErrorBody(std::string& body);
  // One wmRead transfer: begin, read, end; the end event fires also when reading fails.
  void Transfer(std::int64_t max, const std::function<void()>& read);
  void ReadCount(BodySink& sink, std::uint64_t count);
  void ReadUntilClose(BodySink& sink);
  void ReadChunked(BodySink& sink);
  bool ReadLine(std::string& line);
  bool KeepAliveAfterLastResponse() const;

  void BeginWork(WorkMode mode, std::int64_t max);
  void DoWork(WorkMode mode, std::int64_t count);
  void EndWork(WorkMode mode);
  WorkCounter& Counter(WorkMode mode);

  Connection m_connection;
  ProxyServer m_proxy;
  std::string m_route;  // where the open connection leads (see ChooseConnection)
  std::unique_ptr<CookieStore> m_cookies;
  ResponseHead m_response;
  bool m_haveResponse = false;
  bool m_basicCredentials = false;       // a 401 asked for Basic: send Authorization from now on
  bool m_proxyBasicCredentials = false;  // a 407 asked for Basic: send Proxy-Authorization from now on
  bool m_busy = false;
  int m_waitLimit = 0;                   // ReadTimeout, or the shorter limit of an error-body read
  std::size_t m_headBytes = 0;           // head bytes and lines read by this get so far
  std::size_t m_headLines = 0;
  WorkCounter m_readCounter;
  WorkCounter m_writeCounter;
};

}  // namespace net
