#include "net/body_sink.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "net/http_error.h"

namespace net {

namespace {

// An announced length is only a hint: a server announcing gigabytes must not make us allocate them up front.
constexpr std::uint64_t kMaxReserveBytes = 64ull * 1024 * 1024;

std::string WriteError(const std::string& path) {
  return "Cannot write " + (path.empty() ? std::string("the download file") : path) + ": " + std::strerror(errno);
}

}  // namespace

BodySink::~BodySink() = default;

void BodySink::Begin(const ResponseHead&) {}

void BodySink::Reserve(std::uint64_t) {}

void BufferSink::Reserve(std::uint64_t bytes) {
  // Refused before a byte is read: waiting for a body that will be refused anyway only keeps the user waiting.
  if (m_buffer.size() > m_maxBytes || bytes > m_maxBytes - m_buffer.size()) ThrowTooLarge();
  std::uint64_t wanted = bytes < kMaxReserveBytes ? bytes : kMaxReserveBytes;
  m_buffer.reserve(m_buffer.size() + static_cast<std::size_t>(wanted));
}

void BufferSink::Append(const char* data, std::size_t size) {
  std::size_t room = m_buffer.size() < m_maxBytes ? m_maxBytes - m_buffer.size() : 0;
  if (size > room) {
    m_buffer.append(data, room);
    ThrowTooLarge();
  }
  m_buffer.append(data, size);
}

void BufferSink::ThrowTooLarge() const {
  throw HttpClientError(ErrorKind::BodyTooLarge,
                        "The server's answer is larger than " + std::to_string(m_maxBytes) + " bytes.");
}

FileSink::FileSink(std::FILE* file) : m_file(file), m_owned(false) {}

FileSink::FileSink(const std::string& path) : m_file(std::fopen(path.c_str(), "wb")), m_owned(true), m_path(path) {
  if (m_file == nullptr) throw std::runtime_error("Cannot open " + path + ": " + std::strerror(errno));
  // Pieces come in up to 32 KiB at a time; each goes out in one write instead of a buffer flush plus a remainder.
  std::setvbuf(m_file, nullptr, _IONBF, 0);
}

FileSink::~FileSink() {
  if (m_owned && m_file != nullptr) std::fclose(m_file);
}

void FileSink::Append(const char* data, std::size_t size) {
  if (m_file == nullptr) throw std::runtime_error("The download file is already closed");
  if (size > 0 && std::fwrite(data, 1, size, m_file) != size) throw std::runtime_error(WriteError(m_path));
}

void FileSink::Finish() {
  if (m_file == nullptr) return;
  bool ok = std::fflush(m_file) == 0;
  if (m_owned) {
    ok = std::fclose(m_file) == 0 && ok;
    m_file = nullptr;
  }
  if (!ok) throw std::runtime_error(WriteError(m_path));
}

}  // namespace net
