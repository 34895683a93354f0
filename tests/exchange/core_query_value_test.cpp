#include "exchange/query_value.h"

#include <gtest/gtest.h>

namespace {

TEST(QueryValueTest, OnlyBytesThatCouldBreakTheRequestLineAreEncoded) {
  struct Case {
    std::string in;
    std::string out;
    const char* label;
  };
  const Case cases[] = {
      {"1", "1", "the empty catalogue's mark"},
      {"1024", "1024", "digits"},
      {"", "", "empty"},
      {"7 HTTP/1.0", "7%20HTTP/1.0", "a blank would split the request line"},
      {"7\r\nHost: evil", "7%0D%0AHost:%20evil", "a line break would add a header"},
      {"7#x", "7%23x", "a fragment would cut the query"},
      {std::string("7\0x", 3), "7%00x", "NUL"},
      {"\x7f", "%7F", "DEL"},
      {"\xb8\xfc\xd0\xc2", "\xb8\xfc\xd0\xc2", "GBK bytes pass as they are"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(exchange::QueryValueOf(c.in), c.out) << c.label;
  }
}

}  // namespace
