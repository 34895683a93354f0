#pragma once

namespace net {

// The system code page is GBK: a byte in this range starts a double-byte character, and the byte after it may take
// any value, including those of ASCII delimiters such as "\\" or "<".
inline bool IsGbkLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

}  // namespace net
