#pragma once

#include <string>
#include <string_view>

namespace exchange {

// A server paper number (the high-water mark, or the number of the paper to download) goes into a request line as it
// is stored. A stored number that is not a number (the server sent text in <F_id>) must not be able to end the request
// line early or add header lines, so blanks, control bytes and "#" (which would cut the query off as a fragment) travel
// percent-encoded. Digits, the only thing the server sends in practice, and GBK bytes pass unchanged. The file path
// the server names for a paper travels through the same escaping, for the same reasons.
std::string QueryValueOf(std::string_view bytes);

}  // namespace exchange
