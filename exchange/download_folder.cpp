#include "exchange/download_folder.h"

#include "exchange/paper_path.h"
#include "download/partial_file.h"
#include "platform/gbk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

namespace exchange {
namespace {

// Stands in for a character GBK cannot write while the name is checked: neither a separator, a dot nor a control byte.
constexpr char kPlainLetter = '_';

// The folder's path with `name` under it, however many slashes the folder ended with.
QString InFolder(const QString& folder, const QString& name) {
  QString base = folder;
  while (base.endsWith(QLatin1Char('/')) && base.size() > 1) base.chop(1);
  return base + QLatin1Char('/') + name;
}

// The name's GBK bytes for the safety check.
std::string CheckableBytes(const QString& name) {
  if (std::optional<std::string> bytes = platform::EncodeGbk(name.toStdU16String())) return *bytes;
  std::string bytes;
  for (const char32_t code : name.toUcs4()) {
    const std::optional<std::string> character = platform::EncodeGbk(QString::fromUcs4(&code, 1).toStdU16String());
    bytes += character ? *character : std::string(1, kPlainLetter);
  }
  return bytes;
}

}  // namespace

QString DownloadFolder() { return QDir::currentPath() + QLatin1Char('/') + QLatin1String(kDownloadFolderName); }

QString PaperFilePath(const QString& localName, const QString& folder) {
  if (!IsSafeLocalName(CheckableBytes(localName))) return {};
  const QString path = InFolder(folder, localName);
  // The byte check above already rules out every way out; this keeps a later change to it from opening one.
  if (!QDir::cleanPath(path).startsWith(QDir::cleanPath(folder) + QLatin1Char('/'))) return {};
  return path;
}

QString ProgramFolder(const QString& folder) { return InFolder(folder, QString::fromUtf8(kProgramFolderName)); }

void PrepareDownloadFolder(const QString& folder, const QDateTime& now) {
  // Nothing to report when it cannot be made: the first download then fails silently, as it always has.
  QDir().mkpath(folder);
  // A paper streams into the program's folder; the process can end in the middle of it (the program ends by a hard
  // exit), leaving the file behind.
  const auto offset = std::chrono::milliseconds(QDateTime::currentDateTime().msecsTo(now));
  download::RemoveStalePartials(QFileInfo(ProgramFolder(folder)).filesystemAbsoluteFilePath(),
                                std::filesystem::file_time_type::clock::now() + offset);
  // Only an empty folder goes.
  QDir(folder).rmdir(QString::fromUtf8(kProgramFolderName));
}

}  // namespace exchange
