#include "ui/error_report.h"

#include "download/failure_text.h"
#include "net/http_error.h"
#include "net/system_proxy.h"
#include "net/tls_channel.h"
#include "platform/gbk.h"
#include "platform/user_text_error.h"
#include "ui/locale_format.h"
#include "ui/seams.h"

#include <QDateTime>

#include <cstdlib>

#include <string_view>

namespace ui {
namespace {

constexpr char16_t kDot = u'.';
constexpr const char* kUnknownErrorText = "Unknown exception";
// A network error behind a proxy names it on a line of its own, so the user (or whoever helps them) can tell a proxy
// that refuses from a server that does.
constexpr const char* kThroughProxy = "\r\n通过代理 %1";
constexpr const char* kProxyLoginUnsupported = "代理服务器要求以 %1 方式登录，本程序还不支持这种方式。请向网络管理员询问";
// A certificate out of its dates on a computer whose clock the server's shows wrong: the clock is the cause.
constexpr const char* kTlsWrongClock = "电脑的时间不对：电脑上是 %1，服务器上是 %2。请把电脑的日期和时间改对后再试";
constexpr const char* kTlsFailedDetail = "（%1）";
// A clock that is off by more than this is wrong; less is a server's or a computer's ordinary drift.
constexpr qint64 kClockToleranceSeconds = 24 * 60 * 60;
constexpr const char* kProxyLoginText = "代理服务器 %1 要求登录%2。请输入用户名和密码：";
constexpr const char* kProxyRealm = "（%1）";


// Error texts are in the system code page, like every text the program handles.
QString DecodeSystemText(std::string_view bytes) { return QString::fromStdU16String(platform::DecodeGbk(bytes)); }

QString DateTimeText(const QDateTime& moment) {
  return moment.toString(ShortDateFormat() + QLatin1Char(' ') + LongTimeFormat());
}

QString TlsFailureText(const net::HttpClientError& error) {
  const auto failure = static_cast<net::TlsFailure>(error.Code());
  if (failure == net::TlsFailure::Expired || failure == net::TlsFailure::NotYetValid) {
    const QDateTime now = clock().Now();
    if (error.ServerClock() && std::llabs(*error.ServerClock() - now.toSecsSinceEpoch()) > kClockToleranceSeconds) {
      const QDateTime server = QDateTime::fromSecsSinceEpoch(*error.ServerClock()).toLocalTime();
      return QString::fromUtf8(kTlsWrongClock).arg(DateTimeText(now), DateTimeText(server));
    }
  }
  // A wrong clock this report names itself, from the server's, so the sentence never guesses at the date.
  QString text = QString::fromStdString(download::TlsCauseText(error, false));
  if (failure == net::TlsFailure::Failed) text += QString::fromUtf8(kTlsFailedDetail).arg(DecodeSystemText(error.Message()));
  return text;
}

}  // namespace

QString FinishErrorText(const QString& text) {
  // Comparing the UTF-16 unit gives the byte comparison's answer: ASCII compares as itself, and anything beyond it
  // (even a character GBK cannot hold, written as "?") encodes to a first byte above ".".
  if (!text.isEmpty() && text.back().unicode() > kDot) {
    return text + QChar(kDot);
  }
  return text;
}

QString ErrorText(const std::exception& error) {
  if (dynamic_cast<const platform::UserTextError*>(&error)) return QString::fromUtf8(error.what());
  // A server's status line is shown whole, a NUL byte in it included, where what() would end at that byte.
  if (const auto* http = dynamic_cast<const net::HttpClientError*>(&error)) {
    QString text = DecodeSystemText(http->Message());
    if (http->Kind() == net::ErrorKind::TlsFailed) text = TlsFailureText(*http);
    if (http->Kind() == net::ErrorKind::ProxyAuthUnsupported) {
      text = QString::fromUtf8(kProxyLoginUnsupported).arg(DecodeSystemText(http->Body()));
    }
    if (!http->ProxyName().empty()) text += QString::fromUtf8(kThroughProxy).arg(QString::fromStdString(http->ProxyName()));
    return text;
  }
  return DecodeSystemText(error.what());
}

QString ProxyLoginText(const std::string& proxyName, const std::string& realm) {
  const QString named = realm.empty() ? QString() : QString::fromUtf8(kProxyRealm).arg(DecodeSystemText(realm));
  return QString::fromUtf8(kProxyLoginText).arg(QString::fromStdString(proxyName), named);
}

void InstallProxyLoginPrompt() {
  // Asked inside a get, between the proxy's refusal and the next try: the dialog's own loop serves the windows.
  net::SetProxyLoginPrompt([](const std::string& proxyName, const std::string& realm) -> std::optional<net::ProxyLogin> {
    const auto login = dialogs().AskLogin(ProxyLoginText(proxyName, realm));
    if (!login) return std::nullopt;
    // RFC 7617's charset: a proxy of today reads a login as UTF-8.
    return net::ProxyLogin{login->first.toStdString(), login->second.toStdString()};
  });
}

void ReportError(const QString& text) { dialogs().ShowError(FinishErrorText(text)); }

void Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    ReportError(ErrorText(error));
  } catch (...) {
    ReportError(QString::fromLatin1(kUnknownErrorText));
  }
}

GuardedApplication::GuardedApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool GuardedApplication::notify(QObject* receiver, QEvent* event) {
  bool handled = false;
  Guarded([&] { handled = QApplication::notify(receiver, event); });
  return handled;
}

}  // namespace ui
