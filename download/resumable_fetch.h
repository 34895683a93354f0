#pragma once

#include "download/silence_watch.h"
#include "download/tries.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace net {
class HttpClient;
}

// One try of a resumable download into its file: asks for the rest of what its partial file keeps, takes the answer
// only when it continues those bytes or is the whole file, and puts the file in place under its name, marked as
// coming from its address, only once it is whole: a broken transfer never leaves a truncated file under the name, nor
// spoils the copy an earlier download left there.
namespace download {

struct FetchTarget {
  std::string url;
  std::filesystem::path file;           // the final name; its folder must exist
  std::filesystem::path partialFolder;  // the program's own folder for partial files and their records
  // The file's local name, whose ending says whether a web page is the file itself (IsPageInPlaceOfPaper).
  std::string localName;
  // The exact length the caller expects (the updater's signed size); -1: any up to kLargestPaperBytes.
  std::int64_t exactSize = -1;
};

struct FetchHooks {
  // The file's own transfer starts, with `kept` bytes already there of `total` (-1: unknown).
  std::function<void(std::int64_t kept, std::int64_t total)> onBegin;
  // A steady clock in ms, for the silence rule.
  std::function<std::int64_t()> nowMs;
  // The silence rule's shortest cut (SilenceWatch); tests shorten it to keep to loopback's pace.
  int shortestSilenceCutMs = kShortestSilenceCutMs;
};

// One try; the client's ExtraHeaders carry the range for this get alone. Never throws for what the network or the
// file system does: every outcome is the result's.
TryResult FetchOnce(net::HttpClient& http, const FetchTarget& target, const FetchHooks& hooks);

// What a failed request of the download's (the file's own, or a page that names it) means: the network's page when
// it redirects to another host than url's, else the network's failure with the answer's Retry-After.
TryResult RequestFailure(const net::HttpClient& http, const std::string& url, const net::HttpClientError& error);

// Bytes of this target the next try could continue.
std::int64_t KeptBytes(const FetchTarget& target);
// Drops what was kept of the target (a paper deleted, an installer that is not the one described).
void DiscardPartial(const FetchTarget& target);

}  // namespace download
