#include "ui/error_report.h"

#include "net/http_error.h"
#include "platform/gbk.h"
#include "store/catalogue.h"
#include "ui/seams.h"

#include <string_view>

namespace ui {
namespace {

constexpr char16_t kDot = u'.';
constexpr const char* kUnknownErrorText = "Unknown exception";

// Error texts are in the system code page, like every text the program handles.
QString DecodeSystemText(std::string_view bytes) { return QString::fromStdU16String(platform::DecodeGbk(bytes)); }

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
  if (const auto* database = dynamic_cast<const store::DatabaseError*>(&error)) {
    return database->Message();
  }
  // A server's status line is shown whole, a NUL byte in it included, where what() would end at that byte.
  if (const auto* http = dynamic_cast<const net::HttpClientError*>(&error)) {
    return DecodeSystemText(http->Message());
  }
  return DecodeSystemText(error.what());
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
