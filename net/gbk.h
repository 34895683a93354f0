#pragma once

namespace net {

// The system code page is GBK: a byte in this range starts a double-byte character, and the byte after it may take
// any value, including those of ASCII delimiters such as "\\" or "<".
inline bool IsGbkLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

// GBK's second byte lies in 0x40..0xFE without 0x7F. After a lead byte anything else is a broken character: the
// converter then reads the lead byte alone as invalid and the next byte on its own.
inline bool IsGbkTrailByte(unsigned char byte) { return byte >= 0x40 && byte <= 0xFE && byte != 0x7F; }

}  // namespace net
