#include "net/http_client.h"

#include <algorithm>
#include <limits>

#include "net/cookie_store.h"
#include "net/http_error.h"
#include "net/internet_date.h"
#include "net/tls_channel.h"

namespace net {

namespace {

constexpr int kMaxPort = 65535;
constexpr std::size_t kDefaultRecvBufferSize = 32768;
// An error or redirect body is read with this limit, so a server that never sends it cannot hold the user.
constexpr int kErrorBodyTimeoutMs = 2000;
constexpr int kStatusContinue = 100;
constexpr int kStatusNoContent = 204;
constexpr int kStatusNotModified = 304;
constexpr int kStatusUnauthorized = 401;
constexpr int kStatusProxyAuthRequired = 407;

constexpr int kHttpsPort = 443;
const char kBusyMessage[] = "The HTTP client is still busy with another request.";
const char kMalformedChunkMessage[] = "Malformed chunked body: a chunk size is not a hexadecimal number.";
const char kUndefinedSituation[] = "Undefined situation";
const char kClosedGracefully[] = "Connection Closed Gracefully.";
const char kHeadTooLarge[] = "The server's response head is too large.";
const char kProxyAuthUnsupported[] = "The proxy asks for a login this program cannot give: ";
// A proxy that refuses every login offered is asked this often in one get, then its 407 stands.
constexpr int kMaxProxyLogins = 3;
constexpr std::size_t kLineEndBytes = 2;

// The port to connect to; throws for schemes this client does not speak and for port texts that are no port.
int PortFor(const UrlParts& url, int defaultPort) {
  if (url.portText.empty()) {
    if (EqualsNoCase(url.scheme, "https")) return kHttpsPort;
    if (!EqualsNoCase(url.scheme, "http")) throw HttpClientError(ErrorKind::UnsupportedScheme, "");
    return defaultPort;
  }
  int port = 0;
  for (char c : url.portText) {
    if (c < '0' || c > '9' || port > kMaxPort) throw HttpClientError(ErrorKind::InvalidUrl, "Invalid port: " + url.portText);
    port = port * 10 + (c - '0');
  }
  if (port < 1 || port > kMaxPort) throw HttpClientError(ErrorKind::InvalidUrl, "Invalid port: " + url.portText);
  return port;
}

bool FirstWordIsBasic(const std::string& value) {
  std::string word = value.substr(0, value.find(' '));
  return EqualsNoCase(word, "Basic");
}

// realm="..." of a challenge, what the login dialog shows the proxy as; empty when it names none.
std::string ChallengeRealm(const std::string& challenge) {
  const std::string lower = LowerCase(challenge);
  const std::size_t at = lower.find("realm=");
  if (at == std::string::npos) return {};
  std::size_t start = at + 6;
  if (start < challenge.size() && challenge[start] == '"') {
    const std::size_t end = challenge.find('"', start + 1);
    return challenge.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
  }
  const std::size_t end = challenge.find_first_of(", ", start);
  return challenge.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// An error or redirect body, kept up to kMaxErrorBodyBytes: a larger one announced is read up to the cap rather than
// refused outright, since its start is what tells what went wrong.
class ErrorBodySink : public BufferSink {
 public:
  explicit ErrorBodySink(std::string& body) : BufferSink(body, kMaxErrorBodyBytes) {}
  void Reserve(std::uint64_t) override {}
};

// Clears the busy flag however the get ends.
class BusyGuard {
 public:
  explicit BusyGuard(bool& busy) : m_busy(busy) { m_busy = true; }
  ~BusyGuard() { m_busy = false; }
  BusyGuard(const BusyGuard&) = delete;
  BusyGuard& operator=(const BusyGuard&) = delete;

 private:
  bool& m_busy;
};

}  // namespace

HttpClient::HttpClient() = default;

HttpClient::~HttpClient() = default;

std::string HttpClient::GetText(const std::string& url, std::size_t maxBytes) {
  std::string body;
  GetIntoBuffer(url, body, maxBytes);
  return body;
}

void HttpClient::LimitBodySilence(int ms) {
  if (ms <= 0) return;
  m_waitLimit = ReadTimeout > 0 ? std::min(ms, ReadTimeout) : ms;
}

void HttpClient::GetIntoBuffer(const std::string& url, std::string& buffer, std::size_t maxBytes) {
  BufferSink sink(buffer, maxBytes);
  Get(url, sink);
}

void HttpClient::Get(const std::string& url, BodySink& sink) {
  // A handler run by the pump inside one of our own gets would interleave two responses on one connection.
  if (m_busy) throw HttpClientError(ErrorKind::ClientBusy, kBusyMessage);
  BusyGuard busy(m_busy);
  m_connection.ClearCancel();
  UrlParts parts = SplitUrl(url);
  int port = PortFor(parts, Port);
  m_waitLimit = ReadTimeout;
  if (RecvBufferSize == 0) RecvBufferSize = kDefaultRecvBufferSize;  // a zero piece size would never finish a body
  // Armed once the request is sent; the next get arms its own, and a probe or connect is never held to it.
  struct FloorGuard {
    Connection& connection;
    ~FloorGuard() { connection.DisarmProgressFloor(); }
  } floorGuard{m_connection};
  // Decided by name, before anything is resolved: behind a proxy the name may mean nothing to the local resolver.
  const ProxyQuery query{LowerCase(parts.scheme), parts.host, port, [this] { return m_connection.CancelRequested(); }};
  m_proxy = ChooseProxy ? ChooseProxy(query) : SystemProxyFor(query);
  try {
    for (int logins = 0;;) {
      try {
        GetOnce(parts, port, sink);
        return;
      } catch (const HttpClientError& error) {
        const bool proxyRefused = error.Kind() == ErrorKind::ProtocolError && error.Code() == kStatusProxyAuthRequired;
        if (!proxyRefused || m_proxy.Empty() || logins == kMaxProxyLogins || !LoginToProxy()) throw;
        ++logins;
      }
    }
  } catch (HttpClientError& error) {
    // Behind a proxy, what failed may be the proxy: the user must be able to tell which.
    if (!m_proxy.Empty()) error.SetProxyName(m_proxy.Name());
    // A certificate out of its dates is as often a computer whose clock is wrong: the server's clock tells which.
    const bool dates = error.Code() == static_cast<int>(TlsFailure::Expired) ||
                       error.Code() == static_cast<int>(TlsFailure::NotYetValid);
    if (error.Kind() == ErrorKind::TlsFailed && dates) {
      if (const std::optional<UnixSeconds> clock = AskServerClock(parts, port)) error.SetServerClock(*clock);
    }
    throw;
  }
}

void HttpClient::GetOnce(const UrlParts& parts, int port, BodySink& sink) {
  try {
    RunGet(parts, port, sink);
  } catch (const HttpClientError& error) {
    // Only a ProtocolError comes after a response read to its end; after anything else the connection may hold
    // unread bytes of this response, so it is never offered to the next get.
    if (error.Kind() != ErrorKind::ProtocolError || !KeepAliveAfterLastResponse()) m_connection.Release();
    throw;
  } catch (...) {
    m_connection.Release();
    throw;
  }
  if (!KeepAliveAfterLastResponse()) m_connection.Release();
}

bool HttpClient::LoginToProxy() {
  std::vector<std::string> challenges;
  for (const std::string& line : m_response.HeaderLines) {
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos && EqualsNoCase(TrimBlanks(line.substr(0, colon)), "Proxy-Authenticate")) {
      challenges.push_back(TrimBlanks(line.substr(colon + 1)));
    }
  }
  std::string others;
  for (const std::string& challenge : challenges) {
    if (FirstWordIsBasic(challenge)) {
      const std::optional<ProxyLogin> login = AskProxyLogin(m_proxy.Name(), ChallengeRealm(challenge));
      if (!login) return false;
      RememberProxyLogin(m_proxy.Name(), *login);
      return true;
    }
    others += (others.empty() ? "" : ", ") + challenge.substr(0, challenge.find(' '));
  }
  // A Windows domain's own schemes need the logon of a domain member; naming them tells the user what to ask for.
  if (!others.empty()) {
    // The schemes alone ride in the body, for a window that says it in the user's words.
    throw HttpClientError(ErrorKind::ProxyAuthUnsupported, kProxyAuthUnsupported + others, kStatusProxyAuthRequired,
                          others);
  }
  return false;
}

void HttpClient::Cancel() {
  if (m_busy) m_connection.Cancel();
}

bool HttpClient::KeepAliveAfterLastResponse() const {
  // Bytes the response did not account for (a body after a 204, a chunked body behind a Content-Length) would be
  // read as the next response; a connection holding any is never offered again.
  return m_connection.IsOpen() && m_connection.Buffered() == 0 && m_haveResponse &&
         KeepAliveAllowed(ProtocolVersion, m_response.Connection, m_response.ProxyConnection);
}

void HttpClient::RunGet(const UrlParts& url, int port, BodySink& sink) {
  const bool secure = EqualsNoCase(url.scheme, "https");
  ChooseConnection(url, port, secure);
  m_connection.Send(BuildRequest(url, secure), ReadTimeout);
  // Over two read limits, a silence always meets the read limit first and is told as one; only a link that went on
  // trickling for longer than a read limit meets the floor.
  if (ReadTimeout > 0 && ProgressFloorBytes > 0) {
    m_connection.ArmProgressFloor({ProgressFloorBytes, kProgressFloorReadLimits * ReadTimeout});
  }
  m_headBytes = 0;
  m_headLines = 0;
  do {
    ReadResponseHead(url, true);
  } while (m_response.Code == kStatusContinue);

  int code = m_response.Code;
  bool redirect = (code / 100 == 3 && code != kStatusNotModified) || !m_response.Location.empty();
  if (redirect || code / 100 != 2) {
    std::string body;
    ReadErrorBody(body);
    throw HttpClientError(ErrorKind::ProtocolError, m_response.StatusLine, code, std::move(body));
  }
  if (!m_connection.IsOpen()) throw HttpClientError(ErrorKind::UndefinedSituation, kUndefinedSituation);
  sink.Begin(m_response);
  if (code != kStatusNoContent) ReadBody(sink);
}

void HttpClient::ChooseConnection(const UrlParts& url, int port, bool secure) {
  // What an open connection leads to: a plain proxy carries any origin's requests, a tunnel or a direct connection
  // only its own origin's.
  const std::string origin = LowerCase(url.host) + ":" + std::to_string(port);
  std::string route;
  if (m_proxy.Empty()) {
    route = (secure ? "https://" : "http://") + origin;
  } else {
    route = (secure ? "https://" + origin + " through " : "proxy ") + m_proxy.Name();
  }
  if (m_connection.IsOpen() && route != m_route) m_connection.Release();
  if (!KeepAliveAfterLastResponse()) m_connection.Release();
  if (m_connection.IsOpen()) m_connection.Probe();
  if (m_connection.IsOpen()) return;
  m_route.clear();
  OpenConnection(url, port, secure, TlsCheck::Certificate);
  m_route = route;
}

void HttpClient::OpenConnection(const UrlParts& url, int port, bool secure, TlsCheck check) {
  const std::string& host = m_proxy.Empty() ? url.host : m_proxy.host;
  const int connectPort = m_proxy.Empty() ? port : m_proxy.port;
  // Handing the connect limit over as its read limit keeps the connect on its own limit when a read limit is set.
  m_connection.Connect(host, connectPort, ReadTimeout > 0 ? ConnectTimeLimit : 0, ConnectTimeLimit);
  if (secure) {
    if (!m_proxy.Empty()) OpenTunnel(url, port);
    m_connection.StartTls(url.host, ReadTimeout, check);
  }
}

std::optional<UnixSeconds> HttpClient::AskServerClock(const UrlParts& url, int port) {
  std::optional<UnixSeconds> clock;
  try {
    // The same request again, of which only the head is read: every server answers that one.
    OpenConnection(url, port, true, TlsCheck::None);
    std::vector<std::pair<std::string, std::string>> headers;
    headers.emplace_back("Host", url.host + (url.portText.empty() ? "" : ":" + url.portText));
    headers.emplace_back("User-Agent", Request.UserAgent);
    headers.emplace_back("Connection", "close");
    m_connection.Send(BuildRequestHead(url.target, HttpVersion::pv1_1, headers), ReadTimeout);
    m_headBytes = 0;
    m_headLines = 0;
    ReadResponseHead(url, false);
    clock = ParseInternetDate(HeaderValue(m_response.HeaderLines, "Date"));
  } catch (const HttpClientError&) {
    // No clock to tell of: the certificate's own failure is what the user hears.
  }
  // Nothing read over an unchecked connection is ever used again.
  m_connection.Release();
  m_route.clear();
  return clock;
}

void HttpClient::OpenTunnel(const UrlParts& url, int port) {
  const std::string authority = url.host + ":" + std::to_string(port);
  std::vector<std::pair<std::string, std::string>> headers;
  headers.emplace_back("Host", authority);
  headers.emplace_back("User-Agent", Request.UserAgent);
  AddProxyAuthorization(headers);
  m_connection.Send(BuildRequestHead(authority, ProtocolVersion, headers, "CONNECT"), ReadTimeout);
  m_headBytes = 0;
  m_headLines = 0;
  do {
    ReadResponseHead(url, false);
  } while (m_response.Code == kStatusContinue);
  if (m_response.Code / 100 == 2) return;
  std::string body;
  ReadErrorBody(body);
  // The proxy's answer ends here; the connection leads nowhere the request could go.
  m_connection.Release();
  throw HttpClientError(ErrorKind::ProtocolError, m_response.StatusLine, m_response.Code, std::move(body));
}

void HttpClient::AddProxyAuthorization(std::vector<std::pair<std::string, std::string>>& headers) const {
  // Servers of this system get no credentials; a Basic challenge is answered with an empty name and password.
  const std::string empty = "Basic " + Base64Encode(":");
  if (m_proxy.Empty()) {
    if (m_proxyBasicCredentials) headers.emplace_back("Proxy-Authorization", empty);
    return;
  }
  std::optional<ProxyLogin> login = RememberedProxyLogin(m_proxy.Name());
  if (!login && !m_proxy.user.empty()) login = ProxyLogin{m_proxy.user, m_proxy.password};
  if (login) {
    headers.emplace_back("Proxy-Authorization", "Basic " + Base64Encode(login->user + ":" + login->password));
  } else if (m_proxyBasicCredentials) {
    headers.emplace_back("Proxy-Authorization", empty);
  }
}

std::string HttpClient::BuildRequest(const UrlParts& url, bool secure) {
  std::string hostValue = url.host;
  if (!url.portText.empty() && url.portText != "80") hostValue += ":" + url.portText;
  // A plain proxy is asked for the whole URL, its authority as the Host header names it; a tunnel leads to the server.
  const std::string target = m_proxy.Empty() || secure ? url.target : "http://" + hostValue + url.target;
  // Servers of this system get no credentials; a Basic challenge is answered with an empty name and password.
  std::string credentials = "Basic " + Base64Encode(":");
  std::vector<std::pair<std::string, std::string>> headers;
  if (ProtocolVersion == HttpVersion::pv1_0) headers.emplace_back("Connection", "keep-alive");
  headers.emplace_back("Content-Type", Request.ContentType);
  headers.emplace_back("Host", hostValue);
  headers.emplace_back("Accept", Request.Accept);
  headers.emplace_back("User-Agent", Request.UserAgent);
  if (m_basicCredentials) headers.emplace_back("Authorization", credentials);
  // Through a tunnel the proxy has had its login with the CONNECT; the server must not see it.
  if (!secure || m_proxy.Empty()) AddProxyAuthorization(headers);
  if (m_cookies) headers.emplace_back("Cookie", m_cookies->CookieHeaderFor(url.host, url.directory, secure));
  headers.insert(headers.end(), ExtraHeaders.begin(), ExtraHeaders.end());
  return BuildRequestHead(target, ProtocolVersion, headers);
}

bool HttpClient::ReadLine(std::string& line) {
  return m_connection.ReadLine(line, MaxLineLength, m_waitLimit, RecvBufferSize);
}

void HttpClient::ReadHeadLine(std::string& line) {
  ReadLine(line);
  m_headBytes += line.size() + kLineEndBytes;
  if (++m_headLines > kMaxResponseHeadLines || m_headBytes > kMaxResponseHeadBytes) {
    throw HttpClientError(ErrorKind::HeadTooLarge, kHeadTooLarge);
  }
}

void HttpClient::ReadResponseHead(const UrlParts& url, bool storeCookies) {
  std::string statusLine;
  ReadHeadLine(statusLine);
  m_response = ResponseHead();
  m_response.StatusLine = statusLine;
  m_response.Code = ReadStatusCode(statusLine);
  m_haveResponse = true;
  for (;;) {
    std::string line;
    try {
      ReadHeadLine(line);
    } catch (const HttpClientError& error) {
      // A server that closes right after its last header line has still sent a head; it has no body to send.
      bool atLineBoundary = m_connection.Buffered() == 0;
      if (error.Kind() != ErrorKind::ConnectionClosedGracefully || m_response.HeaderLines.empty() ||
          !atLineBoundary) {
        throw;
      }
      m_connection.Release();
      break;
    }
    if (line.empty()) break;
    m_response.HeaderLines.push_back(line);
  }

  const std::vector<std::string>& lines = m_response.HeaderLines;
  m_response.ContentLength = ReadContentLength(HeaderValue(lines, "Content-Length"));
  m_response.Connection = HeaderValue(lines, "Connection");
  m_response.ProxyConnection = HeaderValue(lines, "Proxy-Connection");
  m_response.Location = HeaderValue(lines, "Location");
  m_response.TransferEncoding = HeaderValue(lines, "Transfer-Encoding");
  if (m_response.Code == kStatusUnauthorized && FirstWordIsBasic(HeaderValue(lines, "WWW-Authenticate"))) {
    m_basicCredentials = true;
  }
  if (m_response.Code == kStatusProxyAuthRequired && FirstWordIsBasic(HeaderValue(lines, "Proxy-Authenticate"))) {
    m_proxyBasicCredentials = true;
  }
  if (AllowCookies && storeCookies) {
    if (!m_cookies) m_cookies = std::make_unique<CookieStore>();
    m_cookies->StoreFromHead(lines, url.host, url.directory);
  }
}

void HttpClient::ReadBody(BodySink& sink) {
  if (m_response.ContentLength > 0) {
    ReadCount(sink, static_cast<std::uint64_t>(m_response.ContentLength));
  } else if (m_response.TransferEncoding.find("chunked") != std::string::npos) {
    ReadChunked(sink);
  } else if (m_response.ContentLength < 0) {
    ReadUntilClose(sink);
  }
}

void HttpClient::ReadErrorBody(std::string& body) {
  ErrorBodySink sink(body);
  m_waitLimit = kErrorBodyTimeoutMs;
  try {
    ReadBody(sink);
  } catch (const HttpClientError& error) {
    // The status is what failed; a short, garbled or oversized error body only ends early and takes the connection
    // with it.
    if (error.Kind() != ErrorKind::ConnectionClosedGracefully && error.Kind() != ErrorKind::NotConnected &&
        error.Kind() != ErrorKind::MalformedChunk && error.Kind() != ErrorKind::BodyTooLarge) {
      m_waitLimit = ReadTimeout;
      throw;
    }
    m_connection.Release();
  }
  m_waitLimit = ReadTimeout;
}

void HttpClient::Transfer(std::int64_t max, const std::function<void()>& read) {
  BeginWork(WorkMode::wmRead, max);
  try {
    read();
  } catch (...) {
    try {
      EndWork(WorkMode::wmRead);
    } catch (...) {
      // The transfer's own failure is the one to report.
    }
    throw;
  }
  EndWork(WorkMode::wmRead);
}

void HttpClient::ReadCount(BodySink& sink, std::uint64_t count) {
  sink.Reserve(count);
  const std::int64_t announced = count > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
                                     ? std::numeric_limits<std::int64_t>::max()
                                     : static_cast<std::int64_t>(count);
  Transfer(announced, [&] {
    std::uint64_t remaining = count;
    std::size_t withHead = static_cast<std::size_t>(std::min<std::uint64_t>(m_connection.Buffered(), remaining));
    if (withHead > 0) {
      sink.Append(m_connection.BufferedData(), withHead);
      m_connection.Consume(withHead);
      remaining -= withHead;
      DoWork(WorkMode::wmRead, static_cast<std::int64_t>(withHead));
    }
    try {
      while (remaining > 0) {
        std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, RecvBufferSize));
        while (m_connection.Buffered() < piece) {
          // A body shorter than announced is a broken transfer, not a complete one.
          if (!m_connection.IsOpen() || !m_connection.ReceiveMore(m_waitLimit, RecvBufferSize)) {
            throw HttpClientError(ErrorKind::ConnectionClosedGracefully, kClosedGracefully);
          }
        }
        sink.Append(m_connection.BufferedData(), piece);
        m_connection.Consume(piece);
        remaining -= piece;
        DoWork(WorkMode::wmRead, static_cast<std::int64_t>(piece));
      }
    } catch (const HttpClientError&) {
      // The start of a piece that will never be whole still goes to the sink, unreported: a download that resumes
      // from what its sink kept then asks for none of these bytes again.
      const std::size_t held = static_cast<std::size_t>(std::min<std::uint64_t>(m_connection.Buffered(), remaining));
      if (held > 0) {
        sink.Append(m_connection.BufferedData(), held);
        m_connection.Consume(held);
      }
      throw;
    }
  });
}

void HttpClient::ReadUntilClose(BodySink& sink) {
  Transfer(0, [&] {
    std::size_t withHead = m_connection.Buffered();
    if (withHead > 0) {
      sink.Append(m_connection.BufferedData(), withHead);
      m_connection.Consume(withHead);
      DoWork(WorkMode::wmRead, static_cast<std::int64_t>(withHead));
    }
    bool open = m_connection.IsOpen();
    while (open) {
      while (m_connection.Buffered() < RecvBufferSize) {
        if (!m_connection.ReceiveMore(m_waitLimit, RecvBufferSize)) {
          open = false;
          break;
        }
      }
      std::size_t piece = std::min(m_connection.Buffered(), RecvBufferSize);
      if (piece == 0) break;
      sink.Append(m_connection.BufferedData(), piece);
      m_connection.Consume(piece);
      // The last, incomplete piece at the close is not reported, so the bar never claims bytes twice.
      if (open) DoWork(WorkMode::wmRead, static_cast<std::int64_t>(piece));
    }
    if (m_connection.Buffered() > 0) {
      sink.Append(m_connection.BufferedData(), m_connection.Buffered());
      m_connection.Consume(m_connection.Buffered());
    }
  });
}

void HttpClient::ReadChunked(BodySink& sink) {
  std::string line;
  for (;;) {
    if (!ReadLine(line)) throw HttpClientError(ErrorKind::ConnectionClosedGracefully, kClosedGracefully);
    std::uint64_t size = 0;
    if (!ReadChunkSize(line, size)) throw HttpClientError(ErrorKind::MalformedChunk, kMalformedChunkMessage);
    if (size == 0) break;
    ReadCount(sink, size);
    if (!ReadLine(line)) throw HttpClientError(ErrorKind::ConnectionClosedGracefully, kClosedGracefully);
  }
  // Trailer lines up to the empty line end the body; leaving one behind would start the next response.
  do {
    if (!ReadLine(line)) throw HttpClientError(ErrorKind::ConnectionClosedGracefully, kClosedGracefully);
  } while (!line.empty());
}

HttpClient::WorkCounter& HttpClient::Counter(WorkMode mode) {
  return mode == WorkMode::wmRead ? m_readCounter : m_writeCounter;
}

void HttpClient::BeginWork(WorkMode mode, std::int64_t max) {
  WorkCounter& counter = Counter(mode);
  if (++counter.level != 1) return;
  counter.current = 0;
  counter.max = max;
  try {
    if (OnWorkBegin) OnWorkBegin(*this, mode, max);
  } catch (...) {
    --counter.level;
    throw;
  }
}

void HttpClient::DoWork(WorkMode mode, std::int64_t count) {
  WorkCounter& counter = Counter(mode);
  if (counter.level < 1) return;
  counter.current += count;
  if (OnWork) OnWork(*this, mode, counter.current);
}

void HttpClient::EndWork(WorkMode mode) {
  WorkCounter& counter = Counter(mode);
  struct LevelDown {
    int& level;
    ~LevelDown() { --level; }
  } down{counter.level};
  if (counter.level == 1 && OnWorkEnd) OnWorkEnd(*this, mode);
}

}  // namespace net
