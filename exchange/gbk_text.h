#pragma once

#include <QString>

#include <stdexcept>
#include <string>

// The one place where the network's GBK bytes meet the QString of the windows and the database, through the
// platform's own converter (platform/gbk).
namespace exchange {

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

inline constexpr const char* kDownloadFolderName = "DownLoad";

// GBK bytes as text. A broken byte sequence (a lead byte without a valid second byte, also at the very end, or a pair
// the code page does not assign) becomes U+FFFD; nothing is dropped.
QString DecodeGbk(const std::string& bytes);

// Text as GBK bytes; throws GbkEncodeError when the text holds a character GBK cannot write.
std::string EncodeGbk(const QString& text);

// The process's current directory followed by "/DownLoad", read now (the current directory may change).
QString DefaultDownloadFolder();

// The file-system path for a paper's local name (GBK bytes) under the download folder: the decoded name, with
// "\\" read as a separator the way Windows reads it, joined under the folder. Empty when the name is unusable
// (see IsSafeLocalName): the caller treats that like a file that cannot be written.
QString DownloadFilePath(const std::string& localName, const QString& downloadFolder);

}  // namespace exchange
