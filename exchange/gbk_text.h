#pragma once

#include <QString>

#include <string>

// The one place where the network's GBK bytes meet the QString of the windows and the database.
namespace exchange {

inline constexpr const char* kDownloadFolderName = "DownLoad";

// GBK bytes as text. A broken byte sequence (a lead byte without a valid second byte, also at the very end)
// becomes U+FFFD; nothing is dropped.
QString DecodeGbk(const std::string& bytes);

// Text as GBK bytes; a character GBK cannot hold becomes "?", as the system code page conversion does.
std::string EncodeGbk(const QString& text);

// The process's current directory followed by "/DownLoad", read now (the current directory may change).
QString DefaultDownloadFolder();

// The file-system path for a paper's local name (GBK bytes) under the download folder: the decoded name, with
// "\\" read as a separator the way Windows reads it, joined under the folder. Empty when the name is unusable
// (see IsSafeLocalName): the caller treats that like a file that cannot be written.
QString DownloadFilePath(const std::string& localName, const QString& downloadFolder);

}  // namespace exchange
