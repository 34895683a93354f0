#pragma once

#include <QApplication>
#include <QString>

#include <exception>
#include <functional>
#include <string>

// Errors are exceptions inside a handler and never cross the event loop: every window handler runs through Guarded,
// which hands whatever escapes it to the default error report, and the program carries on with whatever state the
// handler left.
namespace ui {

// The default error report's text rule: a "." is appended when the text is not empty and its last character, in the
// system code page and compared byte by byte, is greater than ".". Every character outside ASCII starts with a GBK
// lead byte (0x81 and up), so any Chinese ending gets the dot, while "!", ")", "," or "." itself do not.
QString FinishErrorText(const QString& text);

// What the error report shows for an exception: a database error's message, otherwise what() read as GBK bytes (the
// network layer's messages are built from the server's and the system's GBK texts).
QString ErrorText(const std::exception& error);

// The login dialog's text for a proxy that asked for one (realm: what it calls itself, in the system code page).
QString ProxyLoginText(const std::string& proxyName, const std::string& realm);
// Lets every client of the process ask the user for a proxy's login through the dialog seam, once per proxy per run.
void InstallProxyLoginPrompt();

// Shows the default error report (stop icon, the application's title) with the finished text.
void ReportError(const QString& text);

// Runs one event handler; an exception escaping it is reported, not propagated.
void Guarded(const std::function<void()>& handler);

// A backstop for handlers that are not wrapped (the toolkit's own event handlers, a model's data()): an exception
// escaping any event delivery is reported the same way instead of unwinding into the event loop.
class GuardedApplication : public QApplication {
 public:
  GuardedApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace ui
