#pragma once

#include "download/answer_rules.h"

#include <cstddef>
#include <stdexcept>
#include <string_view>

// The pages the client asks the two servers for, and how much of each it holds in memory. The paths and query names
// are the servers' own and stay exactly as they stand.
namespace exchange {

// Version server: its whole answer is the current program version, compared byte for byte.
inline constexpr const char* kVersionPage = "/vextal.asp";
// Content server, each followed by a paper number: the records above it, whether any exist, and a paper's file path.
inline constexpr const char* kUpdatePage = "/admin/ZPR_UpCount.asp?id=";
inline constexpr const char* kNewPaperPage = "/admin/ZPR_UpCount1.asp?id=";
inline constexpr const char* kFileNamePage = "/admin/ZPR_BhToDown.asp?bh=";
// Where the paper files lie: this prefix and the file-name page's answer.
inline constexpr std::string_view kUploadPrefix = "/Upload/";

// A server answering with more is refused with BodyTooLarge before anything is stored; paper files are streamed to
// disk and have no cap. The version, new-paper and file-name pages carry a few bytes of text each.
inline constexpr std::size_t kMaxPageBytes = 64 * 1024;
// The update answer: a year of new papers is a few MiB of records, so this leaves ample room for a long absence.
inline constexpr std::size_t kMaxUpdateAnswerBytes = 32 * 1024 * 1024;

using download::kSilentLinkLimitMs;

// Whether the version page's answer names this program's version. Byte for byte, untrimmed: "3.1" with a line break
// after it is another version as far as the server is concerned.
bool IsThisVersion(std::string_view versionAnswer);

// The longest answer the version page can give: a version text is a few digits and dots, so anything longer is a
// page that came in the server's place.
inline constexpr std::size_t kLongestVersionAnswer = 32;

enum class VersionAnswer {
  kThisVersion,
  kAnotherVersion,
  // A page the network served in the server's place (a hotel's or campus's login page): no version at all, so it must
  // never end the program for an update, nor be announced as one.
  kNoVersion,
};
// What the version page's answer says. Markup ("<") or more than kLongestVersionAnswer bytes is no version; every
// other answer is this version or another by IsThisVersion.
VersionAnswer ReadVersionAnswer(std::string_view versionAnswer);

using download::kInterceptedText;

// An answer that is the network's page rather than the server's: a failure another try at once will not mend, since
// the network answers the same way until the user logs in to it or leaves it. what() holds kInterceptedText in the
// system code page, the form in which the error report reads every error text.
class InterceptedAnswer : public std::runtime_error {
 public:
  InterceptedAnswer();
};

// What both updates say when the server has nothing newer: no other program version, or no paper above the highest.
inline constexpr const char* kNothingNewerText = "系统已经是最新版本了！";

}  // namespace exchange
