#pragma once

#include <string>

namespace net {

// The user-visible text for a Windows Sockets error number; empty for numbers without one.
const char* SocketErrorText(int code);
// "Socket Error # <code>" CR LF <text>: the message of SocketError and ConnectFailed.
std::string SocketErrorMessage(int code);

}  // namespace net
