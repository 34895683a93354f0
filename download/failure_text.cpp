#include "download/failure_text.h"

#include "net/http_error.h"
#include "net/socket_api.h"
#include "net/tls_channel.h"
#include "platform/gbk.h"
#include "platform/utf.h"

#include <string>
#include <string_view>
#include <vector>

namespace download {
namespace {

// Windows Sockets codes that mean something different to the user; net/ names only those it acts on itself.
constexpr int kWsaEnetdown = 10050;
constexpr int kWsaEnetunreach = 10051;
constexpr int kWsaEnetreset = 10052;
constexpr int kWsaEtimedout = 10060;
constexpr int kWsaEhostdown = 10064;
constexpr int kWsaEhostunreach = 10065;
// The resolver's codes, host not found to no address record (WSAHOST_NOT_FOUND .. WSANO_DATA).
constexpr int kWsaFirstLookupFailure = net::sock::kWsaHostNotFound;
constexpr int kWsaLastLookupFailure = 11004;

constexpr int kFirstRedirect = 300;
constexpr int kFirstClientError = 400;
constexpr int kUnauthorized = 401;
constexpr int kForbidden = 403;
constexpr int kNotFound = 404;
constexpr int kProxyLoginRequired = 407;
constexpr int kGone = 410;
constexpr int kFirstServerError = 500;
constexpr int kBadGateway = 502;
constexpr int kServiceUnavailable = 503;
constexpr int kGatewayTimeout = 504;
constexpr int kLastStatus = 599;

constexpr std::string_view kServer = "服务器";
constexpr std::string_view kProxy = "代理服务器";
constexpr std::string_view kThroughProxy = "，通过代理 ";
constexpr std::string_view kOpenBracket = "（";
constexpr std::string_view kCloseBracket = "）";
constexpr char16_t kBlank = u' ';
constexpr char16_t kDelete = u'\x7f';

constexpr const char* kRefused = "%1拒绝连接，它上面的服务程序可能没有运行，或者被防火墙挡住了";
constexpr const char* kReset = "连接被%1断开了";
constexpr const char* kAborted = "连接被这台电脑中断了，可能是防火墙或杀毒软件所为";
constexpr const char* kTimedOut = "连接%1超时，没有回应";
constexpr const char* kUnreachable = "网络不通，到不了%1。请检查网络连接";
constexpr const char* kNameNotFound = "找不到%1的地址（查不到这个名字）。请检查网络连接";
constexpr const char* kSocketFailed = "网络出错";
constexpr const char* kConnectFailed = "连不上%1";

constexpr const char* kRedirected = "服务器要把请求转到别的地址，本程序不跟随转向";
constexpr const char* kNotAllowed = "服务器不允许取这个文件";
constexpr const char* kNoSuchFile = "服务器上没有这个文件";
constexpr const char* kProxyWantsLogin = "%1要求登录";
constexpr const char* kProxyCannotReach = "%1连不上服务器";
constexpr const char* kUnavailable = "服务器暂时不能服务，请稍后再试";
constexpr const char* kServerFault = "服务器出了故障，请稍后再试";
constexpr const char* kRequestRefused = "服务器拒绝了这个请求";
constexpr const char* kOddStatus = "服务器的回答不是成功";

constexpr const char* kCutAfterHead = "服务器开始回答后就断开了连接";
constexpr const char* kUnsupportedScheme = "服务器地址的协议本程序不支持，只能用 http://";
constexpr const char* kBadPort = "服务器地址里的端口号不对";
constexpr const char* kNoSocket = "这台电脑无法建立网络连接";
constexpr const char* kClosedEarly = "服务器没有发完就关闭了连接";
constexpr const char* kNotConnected = "连接已经断开";
constexpr const char* kSilent = "服务器太久没有回应";
constexpr const char* kLineTooLong = "服务器的回答格式不对：有一行太长";
constexpr const char* kBadCookie = "服务器发来的 Cookie 格式不对";
constexpr const char* kBusy = "程序内部出错：上一个请求还没有结束";
constexpr const char* kBadChunk = "服务器的回答格式不对：分块的长度不是十六进制数";
constexpr const char* kHeadTooLarge = "服务器的回答头太大";
constexpr const char* kBodyTooLarge = "服务器发来的内容比允许的多";
constexpr const char* kCancelled = "已经取消";
// As the client's own error report words the proxy's login, so both programs say the same.
constexpr const char* kProxyLoginUnsupported = "%1要求以 %2 方式登录，本程序还不支持这种方式。请向网络管理员询问";
constexpr const char* kTlsUntrusted = "服务器的证书不受信任：没有一家这台电脑信任的证书机构为它担保。可能是网络在拦截连接";
constexpr const char* kTlsOtherHost = "服务器出示的证书不属于 %1，而属于别的网站。可能是网络在拦截连接";
constexpr const char* kTlsExpired = "服务器的证书已经过期";
constexpr const char* kTlsNotYetValid = "服务器的证书还没有生效";
constexpr const char* kOrTheDate = "，或者电脑的日期不对";
constexpr const char* kTlsNoTls = "服务器在这个端口上不用 TLS 1.2 或 1.3 加密连接";
constexpr const char* kTlsFailed = "加密连接失败";

// A blank or a control character: the control characters all lie below the blank, but for DEL.
bool IsBlank(char16_t c) { return c <= kBlank || c == kDelete; }

// The network's text (system code page bytes) as UTF-8 on one line: every run of blanks and control characters (the
// CR LF inside a socket error's text, a NUL a status line may carry) is one blank, none at either end.
std::string OneLine(std::string_view systemText) {
  std::u16string line;
  bool blankPending = false;
  for (const char16_t c : platform::DecodeGbk(systemText)) {
    if (IsBlank(c)) {
      blankPending = !line.empty();
      continue;
    }
    if (blankPending) line += kBlank;
    blankPending = false;
    line += c;
  }
  return platform::Utf8FromUtf16(line);
}

std::string ProxyNamed(const net::HttpClientError& error) {
  return error.ProxyName().empty() ? std::string(kProxy) : std::string(kProxy) + " " + error.ProxyName() + " ";
}

// Whom the connection was made to: the proxy, when the get went through one.
std::string Peer(const net::HttpClientError& error) {
  return error.ProxyName().empty() ? std::string(kServer) : ProxyNamed(error);
}

bool IsLookupFailure(int code) { return code >= kWsaFirstLookupFailure && code <= kWsaLastLookupFailure; }

// A socket error by its code, said of the connection's far end; `otherwise` for codes that tell no more than the kind.
std::string SocketCause(const net::HttpClientError& error, const char* otherwise) {
  const int code = error.Code();
  const std::string peer = Peer(error);
  if (code == net::sock::kWsaEconnrefused) return Filled(kRefused, {peer});
  if (code == net::sock::kWsaEconnreset || code == kWsaEnetreset) return Filled(kReset, {peer});
  if (code == net::sock::kWsaEconnaborted) return kAborted;
  if (code == kWsaEtimedout) return Filled(kTimedOut, {peer});
  if (code == kWsaEnetdown || code == kWsaEnetunreach || code == kWsaEhostdown || code == kWsaEhostunreach) {
    return Filled(kUnreachable, {peer});
  }
  if (IsLookupFailure(code)) return Filled(kNameNotFound, {peer});
  return Filled(otherwise, {peer});
}

// A status the server (or the proxy) answered with instead of the page.
std::string StatusCause(const net::HttpClientError& error) {
  const int status = error.Code();
  const bool proxied = !error.ProxyName().empty();
  if (status == kProxyLoginRequired) return Filled(kProxyWantsLogin, {ProxyNamed(error)});
  if (proxied && (status == kBadGateway || status == kGatewayTimeout)) {
    return Filled(kProxyCannotReach, {ProxyNamed(error)});
  }
  if (status >= kFirstRedirect && status < kFirstClientError) return kRedirected;
  if (status == kUnauthorized || status == kForbidden) return kNotAllowed;
  if (status == kNotFound || status == kGone) return kNoSuchFile;
  if (status == kServiceUnavailable) return kUnavailable;
  if (status >= kFirstServerError && status <= kLastStatus) return kServerFault;
  if (status >= kFirstClientError && status < kFirstServerError) return kRequestRefused;
  return kOddStatus;
}

std::string Cause(const net::HttpClientError& error) {
  switch (error.Kind()) {
    case net::ErrorKind::ProtocolError: return StatusCause(error);
    case net::ErrorKind::UndefinedSituation: return kCutAfterHead;
    case net::ErrorKind::UnsupportedScheme: return kUnsupportedScheme;
    case net::ErrorKind::InvalidUrl: return kBadPort;
    case net::ErrorKind::SocketError: return SocketCause(error, kSocketFailed);
    case net::ErrorKind::SocketSetupFailed: return kNoSocket;
    case net::ErrorKind::ConnectFailed: return SocketCause(error, kConnectFailed);
    case net::ErrorKind::ConnectTimedOut: return Filled(kTimedOut, {Peer(error)});
    case net::ErrorKind::ConnectionClosedGracefully: return kClosedEarly;
    case net::ErrorKind::NotConnected: return kNotConnected;
    case net::ErrorKind::ReadTimedOut: return kSilent;
    case net::ErrorKind::LineTooLong: return kLineTooLong;
    case net::ErrorKind::CookieValueError: return kBadCookie;
    case net::ErrorKind::ClientBusy: return kBusy;
    case net::ErrorKind::MalformedChunk: return kBadChunk;
    case net::ErrorKind::HeadTooLarge: return kHeadTooLarge;
    case net::ErrorKind::BodyTooLarge: return kBodyTooLarge;
    case net::ErrorKind::Cancelled: return kCancelled;
    case net::ErrorKind::ProxyAuthUnsupported:
      return Filled(kProxyLoginUnsupported, {ProxyNamed(error), OneLine(error.Body())});
    case net::ErrorKind::TlsFailed: return TlsCauseText(error, true);
  }
  return kSocketFailed;
}

}  // namespace

std::string Filled(std::string_view picture, std::initializer_list<std::string_view> values) {
  // One pass over the picture, so what a value holds is never read as a mark.
  std::string text;
  std::vector<bool> used(values.size(), false);
  for (std::size_t at = 0; at < picture.size(); ++at) {
    const std::size_t number = at + 1 < picture.size() && picture[at] == '%' ? picture[at + 1] - '1' : values.size();
    if (number < values.size() && !used[number]) {
      used[number] = true;
      text += values.begin()[number];
      ++at;
    } else {
      text += picture[at];
    }
  }
  return text;
}

std::string TlsCauseText(const net::HttpClientError& error, bool suspectClock) {
  switch (static_cast<net::TlsFailure>(error.Code())) {
    case net::TlsFailure::Untrusted: return kTlsUntrusted;
    case net::TlsFailure::OtherHost: return Filled(kTlsOtherHost, {OneLine(error.Body())});
    case net::TlsFailure::Expired: return std::string(kTlsExpired) + (suspectClock ? kOrTheDate : "");
    case net::TlsFailure::NotYetValid: return std::string(kTlsNotYetValid) + (suspectClock ? kOrTheDate : "");
    case net::TlsFailure::NoTls: return kTlsNoTls;
    case net::TlsFailure::Failed: break;
  }
  return kTlsFailed;
}

std::string NetworkCauseText(const net::HttpClientError& error) {
  std::string text = Cause(error);
  // A failure that is not the proxy's own still went through it, and whoever helps the user needs to know that.
  if (!error.ProxyName().empty() && text.find(kProxy) == std::string::npos) {
    text.append(kThroughProxy).append(error.ProxyName());
  }
  const std::string own = OneLine(error.Message());
  if (!own.empty()) text.append(kOpenBracket).append(own).append(kCloseBracket);
  return text;
}

}  // namespace download
