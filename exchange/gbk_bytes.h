#pragma once

namespace exchange {

// GBK's second byte lies in 0x40..0xFE without 0x7F. After a lead byte anything else is a broken character: the
// decoder then turns the lead byte alone into U+FFFD and reads the next byte on its own.
inline bool IsGbkTrailByte(unsigned char byte) { return byte >= 0x40 && byte <= 0xFE && byte != 0x7F; }

}  // namespace exchange
