#pragma once

#include <string>

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

}  // namespace download
