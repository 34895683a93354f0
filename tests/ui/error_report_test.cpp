#include "ui/error_report.h"

#include "net/http_error.h"
#include "net/system_proxy.h"
#include "net/tls_channel.h"
#include "ui/locale_format.h"
#include "store/catalogue.h"
#include "tests/support/qt_fakes.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>

namespace {

// The fake clock's now, in Unix seconds.
const qint64 kFakeNow = testsupport::FakeClock().now.toSecsSinceEpoch();

QString Moment(qint64 seconds) {
  return QDateTime::fromSecsSinceEpoch(seconds).toLocalTime().toString(ui::ShortDateFormat() + " " + ui::LongTimeFormat());
}

net::HttpClientError TlsError(net::TlsFailure failure, const std::string& host, std::optional<qint64> serverClock) {
  net::HttpClientError error(net::ErrorKind::TlsFailed, "TLS", static_cast<int>(failure), host);
  if (serverClock) error.SetServerClock(*serverClock);
  return error;
}

net::HttpClientError ProxiedError(net::ErrorKind kind, const std::string& message, const std::string& body) {
  net::HttpClientError error(kind, message, 0, body);
  error.SetProxyName("10.0.0.1:3128");
  return error;
}

TEST(ErrorReport, AppendsADotOnlyAfterACharacterAboveTheDot) {
  struct Case {
    QString text;
    QString expected;
    const char* label;
  };
  const Case cases[] = {
      {"", "", "empty text stays empty"},
      {"Connection refused", "Connection refused.", "letter"},
      {"HTTP/1.1 404", "HTTP/1.1 404.", "digit"},
      {"path a/", "path a/.", "slash is just above the dot"},
      {"Done.", "Done.", "the dot itself"},
      {"a-", "a-", "hyphen is just below the dot"},
      {"Stop!", "Stop!", "exclamation mark"},
      {"(10061)", "(10061)", "closing parenthesis"},
      {"one, ", "one, ", "trailing blank"},
      {"连接失败", "连接失败.", "Chinese character"},
      {"完成。", "完成。.", "ideographic full stop is still a double-byte character"},
      {"成功！", "成功！.", "full-width exclamation mark"},
      {"emoji \U0001F600", "emoji \U0001F600.", "character outside GBK"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ui::FinishErrorText(c.text), c.expected) << c.label;
  }
}

TEST(ErrorReport, GuardReportsWhateverEscapesAHandlerAndCarriesOn) {
  struct Case {
    std::function<void()> handler;
    QStringList expected;
    const char* label;
  };
  const Case cases[] = {
      {[] {}, {}, "no error, no report"},
      // "连接失败" in GBK: the network layer's messages are system code page bytes.
      {[] { throw net::HttpClientError(net::ErrorKind::ConnectFailed, "\xC1\xAC\xBD\xD3\xCA\xA7\xB0\xDC", 10061); },
       {"连接失败."},
       "network error decoded from GBK"},
      {[] { throw net::HttpClientError(net::ErrorKind::ProtocolError, "HTTP/1.1 404 Not Found", 404); },
       {"HTTP/1.1 404 Not Found."},
       "network error in ASCII"},
      {[] { throw net::HttpClientError(net::ErrorKind::ProtocolError, std::string("HTTP/1.1 500 A\0B", 16), 500); },
       {QString::fromLatin1("HTTP/1.1 500 A\0B.", 17)},
       "a status line with a NUL, whole"},
      {[] { throw store::DatabaseError(QStringLiteral("表 VXT_TM 不存在")); }, {"表 VXT_TM 不存在."}, "database error"},
      {[] { throw ProxiedError(net::ErrorKind::ConnectFailed, "Socket Error # 10061\r\nConnection refused.", ""); },
       {"Socket Error # 10061\r\nConnection refused.\r\n通过代理 10.0.0.1:3128."},
       "behind a proxy, the proxy is named"},
      {[] { throw ProxiedError(net::ErrorKind::ProxyAuthUnsupported, "The proxy asks ...: NTLM, Negotiate", "NTLM, Negotiate"); },
       {"代理服务器要求以 NTLM, Negotiate 方式登录，本程序还不支持这种方式。请向网络管理员询问\r\n通过代理 10.0.0.1:3128."},
       "a login scheme of a Windows domain, in the user's words"},
      {[] { throw TlsError(net::TlsFailure::Untrusted, "", std::nullopt); },
       {"服务器的证书不受信任：没有一家这台电脑信任的证书机构为它担保。可能是网络在拦截连接."}, "an untrusted certificate"},
      {[] { throw TlsError(net::TlsFailure::OtherHost, "www.vextal.com", std::nullopt); },
       {"服务器出示的证书不属于 www.vextal.com，而属于别的网站。可能是网络在拦截连接."}, "another host's certificate"},
      {[] { throw TlsError(net::TlsFailure::Expired, "", std::nullopt); }, {"服务器的证书已经过期."}, "expired"},
      {[] { throw TlsError(net::TlsFailure::NotYetValid, "", kFakeNow + 3600); }, {"服务器的证书还没有生效."},
       "not yet valid, the clocks agree"},
      {[] { throw TlsError(net::TlsFailure::Expired, "", kFakeNow - 400 * 86400); },
       {"电脑的时间不对：电脑上是 " + Moment(kFakeNow) + "，服务器上是 " + Moment(kFakeNow - 400 * 86400) +
        "。请把电脑的日期和时间改对后再试."},
       "expired, the computer's clock is wrong"},
      {[] { throw TlsError(net::TlsFailure::NoTls, "", std::nullopt); }, {"服务器在这个端口上不用 TLS 1.2 或 1.3 加密连接."},
       "no TLS on the port"},
      {[] { throw std::runtime_error("Stop!"); }, {"Stop!"}, "any std::exception"},
      {[] { throw 42; }, {"Unknown exception."}, "not an exception class"},
  };
  for (const Case& c : cases) {
    testsupport::InstalledFakes fakes;
    ui::Guarded(c.handler);
    EXPECT_EQ(fakes.dialogs.errors, c.expected) << c.label;
    EXPECT_TRUE(fakes.dialogs.messages.isEmpty()) << c.label;
  }
}

// A proxy's 407 asks through the login dialog, naming the proxy and what it calls itself; "取消" answers nothing.
TEST(ErrorReport, AProxyLoginIsAskedThroughTheDialogNamingTheProxy) {
  struct Case {
    const char* realm;
    std::optional<std::pair<QString, QString>> answer;
    QString text;
    std::optional<std::string> user;
  };
  const Case cases[] = {
      {"Campus", std::make_pair(QStringLiteral("学生"), QStringLiteral("pw")),
       "代理服务器 10.0.0.1:3128 要求登录（Campus）。请输入用户名和密码：", "\xE5\xAD\xA6\xE7\x94\x9F"},
      {"", std::nullopt, "代理服务器 10.0.0.1:3128 要求登录。请输入用户名和密码：", std::nullopt},
  };
  for (const Case& c : cases) {
    testsupport::InstalledFakes fakes;
    fakes.dialogs.loginAnswers.push_back(c.answer);
    ui::InstallProxyLoginPrompt();
    const std::optional<net::ProxyLogin> login = net::AskProxyLogin("10.0.0.1:3128", c.realm);
    net::SetProxyLoginPrompt({});
    EXPECT_EQ(fakes.dialogs.logins, QStringList{c.text}) << c.realm;
    EXPECT_EQ(login ? std::optional<std::string>(login->user) : std::nullopt, c.user) << c.realm;
  }
}

TEST(ErrorReport, NestedHandlerReportsItsOwnErrorAndTheOuterOneGoesOn) {
  testsupport::InstalledFakes fakes;
  bool outerFinished = false;
  ui::Guarded([&] {
    // As when the pump dispatches a timer tick while a request waits.
    ui::Guarded([] { throw std::runtime_error("inner"); });
    outerFinished = true;
  });
  EXPECT_TRUE(outerFinished);
  EXPECT_EQ(fakes.dialogs.errors, QStringList{"inner."});
}

}  // namespace
