#include "download/failure_text.h"

#include "net/http_error.h"
#include "net/socket_errors.h"
#include "net/tls_channel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace download {
namespace {

using net::ErrorKind;

constexpr int kRefused = 10061;
int TlsCode(net::TlsFailure failure) { return static_cast<int>(failure); }

TEST(NetworkCauseText, SaysWhatHappenedThenTheNetworksOwnTextOnOneLine) {
  struct Case {
    ErrorKind kind;
    std::string message;  // system code page bytes, as the network writes them
    int code;
    std::string body;
    std::string proxy;
    std::string expected;
  };
  const std::string proxy = "10.0.0.1:3128";
  const std::vector<Case> cases = {
      {ErrorKind::ProtocolError, "HTTP/1.1 404 Not Found", 404, "", "",
       "服务器上没有这个文件（HTTP/1.1 404 Not Found）"},
      {ErrorKind::ProtocolError, "HTTP/1.1 302 Found", 302, "", "",
       "服务器要把请求转到别的地址，本程序不跟随转向（HTTP/1.1 302 Found）"},
      {ErrorKind::ProtocolError, "HTTP/1.1 500 \xB4\xED\xCE\xF3", 500, "", "",
       "服务器出了故障，请稍后再试（HTTP/1.1 500 错误）"},
      {ErrorKind::ProtocolError, "HTTP/1.1 502 Bad Gateway", 502, "", proxy,
       "代理服务器 10.0.0.1:3128 连不上服务器（HTTP/1.1 502 Bad Gateway）"},
      {ErrorKind::ProtocolError, "HTTP/1.1 407 Proxy Authentication Required", 407, "", proxy,
       "代理服务器 10.0.0.1:3128 要求登录（HTTP/1.1 407 Proxy Authentication Required）"},
      {ErrorKind::ProtocolError, std::string("HTTP/1.1 400 Bad\0Request", 24), 400, "", proxy,
       "服务器拒绝了这个请求，通过代理 10.0.0.1:3128（HTTP/1.1 400 Bad Request）"},
      {ErrorKind::UndefinedSituation, "Undefined situation", 0, "", "",
       "服务器开始回答后就断开了连接（Undefined situation）"},
      {ErrorKind::UnsupportedScheme, "", 0, "", "", "服务器地址的协议本程序不支持，只能用 http://"},
      {ErrorKind::InvalidUrl, "Invalid port: 80a", 0, "", "", "服务器地址里的端口号不对（Invalid port: 80a）"},
      {ErrorKind::SocketError, net::SocketErrorMessage(11001), 11001, "", "",
       "找不到服务器的地址（查不到这个名字）。请检查网络连接（Socket Error # 11001 Host not found.）"},
      {ErrorKind::SocketError, net::SocketErrorMessage(10054), 10054, "", "",
       "连接被服务器断开了（Socket Error # 10054 Connection reset by peer.）"},
      {ErrorKind::SocketError, net::SocketErrorMessage(10053), 10053, "", "",
       "连接被这台电脑中断了，可能是防火墙或杀毒软件所为（Socket Error # 10053 Software caused connection abort.）"},
      {ErrorKind::SocketError, net::SocketErrorMessage(10055), 10055, "", "",
       "网络出错（Socket Error # 10055 No buffer space available.）"},
      {ErrorKind::SocketSetupFailed, "Cannot allocate socket.", 0, "", "",
       "这台电脑无法建立网络连接（Cannot allocate socket.）"},
      {ErrorKind::ConnectFailed, net::SocketErrorMessage(kRefused), kRefused, "", "",
       "服务器拒绝连接，它上面的服务程序可能没有运行，或者被防火墙挡住了（Socket Error # 10061 Connection refused.）"},
      {ErrorKind::ConnectFailed, net::SocketErrorMessage(kRefused), kRefused, "", proxy,
       "代理服务器 10.0.0.1:3128 拒绝连接，它上面的服务程序可能没有运行，或者被防火墙挡住了"
       "（Socket Error # 10061 Connection refused.）"},
      {ErrorKind::ConnectFailed, net::SocketErrorMessage(10060), 10060, "", "",
       "连接服务器超时，没有回应（Socket Error # 10060 Connection timed out.）"},
      {ErrorKind::ConnectFailed, net::SocketErrorMessage(10013), 10013, "", "",
       "连不上服务器（Socket Error # 10013 Access denied.）"},
      {ErrorKind::ConnectTimedOut, "Connect timed out.", 0, "", proxy,
       "连接代理服务器 10.0.0.1:3128 超时，没有回应（Connect timed out.）"},
      {ErrorKind::ConnectionClosedGracefully, "Connection Closed Gracefully.", 0, "", "",
       "服务器没有发完就关闭了连接（Connection Closed Gracefully.）"},
      {ErrorKind::NotConnected, "Not Connected", 0, "", "", "连接已经断开（Not Connected）"},
      {ErrorKind::ReadTimedOut, "  Read Timeout\r\n", 0, "", "", "服务器太久没有回应（Read Timeout）"},
      {ErrorKind::LineTooLong, "Max line length exceeded.", 0, "", "",
       "服务器的回答格式不对：有一行太长（Max line length exceeded.）"},
      {ErrorKind::CookieValueError, "'x' is not a valid integer value", 0, "", "",
       "服务器发来的 Cookie 格式不对（'x' is not a valid integer value）"},
      {ErrorKind::ClientBusy, "busy", 0, "", "", "程序内部出错：上一个请求还没有结束（busy）"},
      {ErrorKind::MalformedChunk, "Malformed chunked body", 0, "", "",
       "服务器的回答格式不对：分块的长度不是十六进制数（Malformed chunked body）"},
      {ErrorKind::HeadTooLarge, "head", 0, "", "", "服务器的回答头太大（head）"},
      {ErrorKind::BodyTooLarge, "body", 0, "", "", "服务器发来的内容比允许的多（body）"},
      {ErrorKind::Cancelled, "Operation cancelled.", 0, "", "", "已经取消（Operation cancelled.）"},
      {ErrorKind::ProxyAuthUnsupported, "The proxy asks for a login this program cannot give: NTLM", 407, "NTLM", proxy,
       "代理服务器 10.0.0.1:3128 要求以 NTLM 方式登录，本程序还不支持这种方式。请向网络管理员询问"
       "（The proxy asks for a login this program cannot give: NTLM）"},
      {ErrorKind::TlsFailed, "certificate verify failed", TlsCode(net::TlsFailure::Untrusted), "", "",
       "服务器的证书不受信任：没有一家这台电脑信任的证书机构为它担保。可能是网络在拦截连接"
       "（certificate verify failed）"},
      {ErrorKind::TlsFailed, "hostname mismatch", TlsCode(net::TlsFailure::OtherHost), "updates.example", "",
       "服务器出示的证书不属于 updates.example，而属于别的网站。可能是网络在拦截连接（hostname mismatch）"},
      {ErrorKind::TlsFailed, "certificate has expired", TlsCode(net::TlsFailure::Expired), "", "",
       "服务器的证书已经过期，或者电脑的日期不对（certificate has expired）"},
      {ErrorKind::TlsFailed, "wrong version number", TlsCode(net::TlsFailure::NoTls), "", "",
       "服务器在这个端口上不用 TLS 1.2 或 1.3 加密连接（wrong version number）"},
      {ErrorKind::TlsFailed, "\xD0\xAD\xD2\xE9\r\n\xB4\xED\xCE\xF3", TlsCode(net::TlsFailure::Failed), "", "",
       "加密连接失败（协议 错误）"},
  };
  for (const Case& c : cases) {
    net::HttpClientError error(c.kind, c.message, c.code, c.body);
    if (!c.proxy.empty()) error.SetProxyName(c.proxy);
    EXPECT_EQ(NetworkCauseText(error), c.expected) << net::ErrorKindName(c.kind) << " " << c.code;
  }
}

TEST(Filled, PutsEachValueInPlaceOfItsNumberOnceAndNeverReadsAValueAsAMark) {
  struct Case {
    std::string picture;
    std::string first;
    std::string second;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"安装程序在 %1 分钟内没有结束，到 %2 下载", "10", "https://x", "安装程序在 10 分钟内没有结束，到 https://x 下载"},
      {"%2 before %1", "a", "b", "b before a"},
      {"%1 holds a mark", "%2", "never", "%2 holds a mark"},
      {"%1 and %1", "once", "", "once and %1"},
      {"no value for %3, a bare % at the end %", "x", "y", "no value for %3, a bare % at the end %"},
  };
  for (const Case& c : cases) EXPECT_EQ(Filled(c.picture, {c.first, c.second}), c.expected) << c.picture;
}

}  // namespace
}  // namespace download
