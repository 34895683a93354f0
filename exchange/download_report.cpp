#include "exchange/download_report.h"

#include "download/answer_rules.h"
#include "download/failure_text.h"
#include "download/transfer_meter.h"
#include "platform/utf.h"

namespace exchange {
namespace {

constexpr const char* kNotFinished = "下载没有完成：";
constexpr const char* kKeptForNextTime = "。已下载的 %1 留待下次接着下载";
constexpr const char* kNoRest = "服务器没有发来文件的其余部分";
constexpr const char* kCannotContinue = "服务器无法接着发送这个文件";
constexpr const char* kTooLarge = "文件太大";
constexpr const char* kWrongSize = "文件的大小不对";
constexpr const char* kCannotWrite = "文件无法写入下载文件夹";

std::string CauseOf(const download::TryResult& result) {
  switch (result.failure) {
    case download::Failure::kNetwork:
      return result.network ? download::NetworkCauseText(*result.network) : std::string();
    case download::Failure::kNoBody: return kNoRest;
    case download::Failure::kStartAgain: return kCannotContinue;
    case download::Failure::kTooLarge: return kTooLarge;
    case download::Failure::kWrongSize: return kWrongSize;
    case download::Failure::kCannotWrite: return kCannotWrite;
    default: return {};
  }
}

}  // namespace

std::string GiveUpText(const download::TryResult& result) {
  if (result.failure == download::Failure::kIntercepted) return platform::Utf8FromUtf16(download::kInterceptedText);
  std::string text = kNotFinished + CauseOf(result);
  if (result.keptAfter > 0) text += download::Filled(kKeptForNextTime, {download::FormatSize(result.keptAfter)});
  return text;
}

}  // namespace exchange
