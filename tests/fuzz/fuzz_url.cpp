// URL splitting of whatever a server or a caller appends to a URL (the file-name page's answer goes in verbatim).

#include "net/http_text.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string url(reinterpret_cast<const char*>(data), size);
  const net::UrlParts parts = net::SplitUrl(url);
  // The request target is what goes on the request line; its parts must add up to it.
  if (parts.directory.empty() || parts.directory.front() != '/' || parts.directory.back() != '/') std::abort();
  if (parts.target != parts.directory + parts.document + parts.query) std::abort();
  net::SplitUrl("http://127.0.0.1/Upload/" + url);
  return 0;
}
