#include "exchange/server_pages.h"

#include "platform/gbk.h"
#include "vextal_config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace exchange {
namespace {

// A portal's page in place of the version page is no version: it must neither end the program nor be announced.
TEST(ServerPages, AVersionAnswerIsThisVersionAnotherOrNone) {
  const std::string running = vextal::kVersionText;
  struct Case {
    const char* label;
    std::string answer;
    VersionAnswer expected;
  };
  const std::vector<Case> cases = {
      {"this version", running, VersionAnswer::kThisVersion},
      {"with a line break", running + "\r\n", VersionAnswer::kAnotherVersion},
      {"empty", "", VersionAnswer::kAnotherVersion},
      {"another version", "3.2", VersionAnswer::kAnotherVersion},
      {"as long as a version may be", std::string(32, '9'), VersionAnswer::kAnotherVersion},
      {"a byte longer", std::string(33, '9'), VersionAnswer::kNoVersion},
      {"login page", "<html>", VersionAnswer::kNoVersion},
      {"markup after the version", running + "<br>", VersionAnswer::kNoVersion},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadVersionAnswer(c.answer), c.expected) << c.label;
  }
  // The error report reads the text as GBK, as every error text.
  EXPECT_EQ(platform::DecodeGbk(InterceptedAnswer().what()), kInterceptedText);
}

}  // namespace
}  // namespace exchange
