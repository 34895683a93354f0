#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace net {
class HttpClientError;
}

// Why a download could not reach its server, in words a user can act on. The network's own texts ("Read Timeout",
// "Socket Error # 10061 ...") are what support recognises, so they come along, but after what they mean.
namespace download {

// UTF-8: in Chinese what happened, by the failure's kind and, where they tell more, its socket error or the server's
// status, naming the proxy when the failure is the proxy's or the get went through one; then the network's own text on
// one line in full-width brackets, "（Read Timeout）". No closing full stop: callers place it inside their sentences.
std::string NetworkCauseText(const net::HttpClientError& error);

// UTF-8: what a failed TLS handshake means, without the network's own text. With `suspectClock` a certificate out of
// its dates also names the computer's date, the usual cause when nobody compared it with the server's clock.
std::string TlsCauseText(const net::HttpClientError& error, bool suspectClock);

// The picture with its "%1", "%2", ... each replaced by the value of that number, once; a value may hold a "%2" of its
// own without being filled again.
std::string Filled(std::string_view picture, std::initializer_list<std::string_view> values);

}  // namespace download
