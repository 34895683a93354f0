#pragma once

#include <QString>

#include <stdexcept>
#include <string>
#include <string_view>

// The one place where the network's GBK bytes meet the QString of the windows and the database, through the
// platform's own converter (platform/gbk). Every window and the default error report read and write server text here.
namespace ui {

// Text that must go to the server (a paper number, say) holds a character GBK cannot write. Sending a "?" in its place
// would ask for another paper; the handler's error report shows this instead.
class GbkEncodeError : public std::runtime_error {
 public:
  explicit GbkEncodeError(const QString& text);
};

// The platform has no GBK converter (platform::GbkConverterAvailable): every text read from the server would be
// stored empty, so start-up stops with this instead.
class GbkConverterMissing : public std::runtime_error {
 public:
  GbkConverterMissing();
};

// GBK bytes as text. A broken byte sequence (a lead byte without a valid second byte, also at the very end, or a pair
// the code page does not assign) becomes U+FFFD; nothing is dropped.
QString DecodeGbk(std::string_view bytes);

// Text as GBK bytes; throws GbkEncodeError when the text holds a character GBK cannot write.
std::string EncodeGbk(const QString& text);

}  // namespace ui
