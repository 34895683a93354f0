#include "net/channel.h"

namespace net {

long PlainChannel::Receive(char* data, std::size_t size, ChannelWait& wait, int& error) {
  const long received = sock::Receive(m_socket, data, size);
  if (received >= 0) return received;
  error = sock::LastError();
  if (error != sock::kWsaEwouldblock) return -1;
  wait = ChannelWait::Readable;
  return kWouldWait;
}

long PlainChannel::Send(const char* data, std::size_t size, ChannelWait& wait, int& error) {
  const long sent = sock::Send(m_socket, data, size);
  if (sent >= 0) return sent;
  error = sock::LastError();
  if (error != sock::kWsaEwouldblock) return -1;
  wait = ChannelWait::Writable;
  return kWouldWait;
}

}  // namespace net
