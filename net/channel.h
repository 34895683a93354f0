#pragma once

#include <cstddef>

#include "net/socket_api.h"

namespace net {

// What a channel waits for before it can go on.
enum class ChannelWait { Readable, Writable };

// The bytes of one connection as the HTTP layer reads and writes them: the socket itself, or TLS over it, so nothing
// above the connection knows which it has. No call blocks: one that cannot go on returns kWouldWait and says what it
// waits for, and the connection waits for that with its limit, its pump and its cancel.
class Channel {
 public:
  static constexpr long kWouldWait = -2;

  virtual ~Channel() = default;
  // Bytes read (> 0), 0 when the peer has closed, kWouldWait (wait set), or -1 with error set to a Windows Sockets
  // code. A failure of the channel itself (a TLS alert) throws HttpClientError.
  virtual long Receive(char* data, std::size_t size, ChannelWait& wait, int& error) = 0;
  // Bytes taken (> 0), kWouldWait, or -1 with error set, as Receive.
  virtual long Send(const char* data, std::size_t size, ChannelWait& wait, int& error) = 0;
  // Bytes already off the socket and ready to be read (the rest of a decrypted record): a wait would be wrong.
  virtual bool HasBuffered() const { return false; }
  // For an idle connection whose socket turned readable: whether anything but the channel's own housekeeping (a
  // TLS session ticket) arrived, a close or bytes nobody asked for, which make it unfit for the next request.
  virtual bool IdleConnectionSpoilt() { return true; }
};

// The socket itself.
class PlainChannel : public Channel {
 public:
  explicit PlainChannel(sock::Handle socket) : m_socket(socket) {}
  long Receive(char* data, std::size_t size, ChannelWait& wait, int& error) override;
  long Send(const char* data, std::size_t size, ChannelWait& wait, int& error) override;

 private:
  sock::Handle m_socket;
};

}  // namespace net
