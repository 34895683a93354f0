#include "exchange/download_folder.h"

#include "exchange/paper_path.h"
#include "platform/gbk.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <optional>
#include <string>

namespace exchange {
namespace {

// The temporary name a paper streams into: ".vextal-" and eight lower-case hex digits, then ".part". Short, so a
// target name near the file system's length limit still gets one; exact, so the clean-up at start-up can tell the
// program's own debris from a user's ".part" file.
constexpr const char* kTemporaryPrefix = ".vextal-";
constexpr const char* kTemporarySuffix = ".part";
constexpr int kTemporaryDigits = 8;
constexpr int kTemporaryBase = 16;
// Stands in for a character GBK cannot write while the name is checked: neither a separator, a dot nor a control byte.
constexpr char kPlainLetter = '_';

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
  QString base = folder;
  while (base.endsWith(QLatin1Char('/')) && base.size() > 1) base.chop(1);
  const QString path = base + QLatin1Char('/') + localName;
  // The byte check above already rules out every way out; this keeps a later change to it from opening one.
  if (!QDir::cleanPath(path).startsWith(QDir::cleanPath(base) + QLatin1Char('/'))) return {};
  return path;
}

QString TemporaryPaperName(quint32 random) {
  return QLatin1String(kTemporaryPrefix) +
         QStringLiteral("%1").arg(random, kTemporaryDigits, kTemporaryBase, QLatin1Char('0')) +
         QLatin1String(kTemporarySuffix);
}

bool IsTemporaryPaperName(const QString& fileName) {
  const QLatin1String prefix(kTemporaryPrefix);
  const QLatin1String suffix(kTemporarySuffix);
  if (fileName.size() != prefix.size() + kTemporaryDigits + suffix.size() || !fileName.startsWith(prefix) ||
      !fileName.endsWith(suffix)) {
    return false;
  }
  const QString digits = fileName.mid(prefix.size(), kTemporaryDigits);
  return std::all_of(digits.cbegin(), digits.cend(), [](QChar c) {
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
  });
}

void PrepareDownloadFolder(const QString& folder) {
  // Nothing to report when it cannot be made: the first download then fails silently, as it always has.
  QDir().mkpath(folder);
  // A paper streams into its temporary file in the folder it is going to, a sub-folder too; the process can end in
  // the middle of it (the program ends by a hard exit), leaving the file behind. Links are neither followed nor
  // removed: the program never makes one.
  QDirIterator files(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
  while (files.hasNext()) {
    const QFileInfo file(files.next());
    if (!file.isSymLink() && IsTemporaryPaperName(file.fileName())) {
      QFile::remove(file.filePath());
    }
  }
}

}  // namespace exchange
