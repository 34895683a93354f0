#include "exchange/server_pages.h"

#include "platform/gbk.h"
#include "vextal_config.h"

#include <string>

namespace exchange {
namespace {

constexpr char kMarkupStart = '<';

}  // namespace

bool IsThisVersion(std::string_view versionAnswer) { return versionAnswer == vextal::kVersionText; }

VersionAnswer ReadVersionAnswer(std::string_view versionAnswer) {
  if (versionAnswer.size() > kLongestVersionAnswer || versionAnswer.find(kMarkupStart) != std::string_view::npos) {
    return VersionAnswer::kNoVersion;
  }
  return IsThisVersion(versionAnswer) ? VersionAnswer::kThisVersion : VersionAnswer::kAnotherVersion;
}

// Every character of the text is in GBK, so the conversion fails only without a converter, where start-up already
// refused to run.
InterceptedAnswer::InterceptedAnswer()
    : std::runtime_error(platform::EncodeGbk(kInterceptedText).value_or(std::string())) {}

}  // namespace exchange
