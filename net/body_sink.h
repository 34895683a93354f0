#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

namespace net {

struct ResponseHead;

// Where a get puts the response body, piece by piece as it arrives. An exception thrown here (a full disk, say)
// leaves the get and closes its connection.
class BodySink {
 public:
  virtual ~BodySink();
  // The head of the response whose body follows, before its first byte: a sink that cannot take this body (a range
  // it did not ask for, say) throws here, and nothing of it is written.
  virtual void Begin(const ResponseHead& head);
  // A hint that this many more bytes are announced (Content-Length); the body may still end up shorter.
  virtual void Reserve(std::uint64_t bytes);
  virtual void Append(const char* data, std::size_t size) = 0;
};

// Appends to a caller's byte buffer, which never grows beyond maxBytes: a body announced or arriving larger fails the
// get with BodyTooLarge (what fitted stays), so a server cannot make the client hold more than the caller expects.
class BufferSink : public BodySink {
 public:
  static constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();

  explicit BufferSink(std::string& buffer, std::size_t maxBytes = kUnlimited)
      : m_buffer(buffer), m_maxBytes(maxBytes) {}
  void Reserve(std::uint64_t bytes) override;
  void Append(const char* data, std::size_t size) override;

 private:
  [[noreturn]] void ThrowTooLarge() const;

  std::string& m_buffer;
  std::size_t m_maxBytes;
};

// Streams to a file, so a download's memory stays the same whatever its size.
class FileSink : public BodySink {
 public:
  // Writes to a file the caller opened (binary mode) and closes.
  explicit FileSink(std::FILE* file);
  // Opens (creates or truncates) the file at path for binary writing; throws std::runtime_error when it cannot.
  explicit FileSink(const std::string& path);
  ~FileSink() override;
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  // Throws std::runtime_error when the bytes cannot be written.
  void Append(const char* data, std::size_t size) override;
  // Flushes, and for a file this sink opened, closes it; throws std::runtime_error when that fails.
  void Finish();

 private:
  std::FILE* m_file;
  bool m_owned;
  std::string m_path;
};

}  // namespace net
