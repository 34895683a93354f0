#include "exchange/download_folder.h"

#include "exchange/paper_path.h"
#include "exchange/resumable_download.h"
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

// The name a paper streams into: sixteen lower-case hex digits, then ".part"; its record ends in ".resume". Exact, so
// the clean-up at start-up can tell the program's own debris from anything else in its folder.
constexpr const char* kTemporarySuffix = ".part";
constexpr const char* kRecordSuffix = ".resume";
constexpr int kTemporaryDigits = 16;
constexpr int kTemporaryBase = 16;
// Stands in for a character GBK cannot write while the name is checked: neither a separator, a dot nor a control byte.
constexpr char kPlainLetter = '_';

bool IsProgramFileName(const QString& fileName, const char* suffix) {
  const QLatin1String end(suffix);
  if (fileName.size() != kTemporaryDigits + end.size() || !fileName.endsWith(end)) return false;
  const QString digits = fileName.left(kTemporaryDigits);
  return std::all_of(digits.cbegin(), digits.cend(), [](QChar c) {
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
  });
}

// FNV-1a: a stable, well-spread number for a name, the same in every run and on every platform; 64 bits, so two
// papers' names practically never share a partial file.
quint64 NameHash(const QString& name) {
  constexpr quint64 kOffsetBasis = 14695981039346656037ull;
  constexpr quint64 kPrime = 1099511628211ull;
  quint64 hash = kOffsetBasis;
  for (const char byte : name.toUtf8()) {
    hash ^= static_cast<unsigned char>(byte);
    hash *= kPrime;
  }
  return hash;
}

// The folder's path with `name` under it, however many slashes the folder ended with.
QString InFolder(const QString& folder, const QString& name) {
  QString base = folder;
  while (base.endsWith(QLatin1Char('/')) && base.size() > 1) base.chop(1);
  return base + QLatin1Char('/') + name;
}

bool IsResumable(const QFileInfo& partial, const QDateTime& now) {
  if (partial.lastModified().daysTo(now) > kPartialPaperDays) return false;
  const std::optional<ResumeRecord> record = ReadResumeRecord(ResumeRecordPath(partial.filePath()));
  return record && !record->validator.empty() && (record->total < 0 || partial.size() <= record->total);
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

QString PartialPaperPath(const QString& localName, const QString& folder) {
  return ProgramFolder(folder) + QLatin1Char('/') +
         QStringLiteral("%1").arg(NameHash(localName), kTemporaryDigits, kTemporaryBase, QLatin1Char('0')) +
         QLatin1String(kTemporarySuffix);
}

std::optional<ResumeRecord> ReadResumeRecord(const QString& recordPath) {
  // A record is two short lines; a larger file is no record of ours.
  constexpr qint64 kMostARecordHolds = 4096;
  QFile file(recordPath);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  const QByteArray text = file.read(kMostARecordHolds);
  return ParseResumeRecord(std::string_view(text.constData(), text.size()));
}

QString ResumeRecordPath(const QString& partialPath) {
  QString path = partialPath;
  path.chop(static_cast<int>(qstrlen(kTemporarySuffix)));
  return path + QLatin1String(kRecordSuffix);
}

bool IsTemporaryPaperName(const QString& fileName) { return IsProgramFileName(fileName, kTemporarySuffix); }

bool IsResumeRecordName(const QString& fileName) { return IsProgramFileName(fileName, kRecordSuffix); }

void PrepareDownloadFolder(const QString& folder, const QDateTime& now) {
  // Nothing to report when it cannot be made: the first download then fails silently, as it always has.
  QDir().mkpath(folder);
  // A paper streams into the program's folder; the process can end in the middle of it (the program ends by a hard
  // exit), leaving the file behind. Links are neither followed nor removed: the program never makes one.
  const QString own = ProgramFolder(folder);
  const QFileInfo ownInfo(own);
  if (ownInfo.isSymLink() || !ownInfo.isDir()) return;
  QDirIterator files(own, QDir::Files | QDir::Hidden | QDir::System);
  while (files.hasNext()) {
    const QFileInfo file(files.next());
    if (file.isSymLink()) continue;
    if (IsTemporaryPaperName(file.fileName()) && !IsResumable(file, now)) {
      QFile::remove(file.filePath());
      QFile::remove(ResumeRecordPath(file.filePath()));
    } else if (IsResumeRecordName(file.fileName())) {
      QString partial = file.filePath();
      partial.chop(static_cast<int>(qstrlen(kRecordSuffix)));
      if (!QFileInfo::exists(partial + QLatin1String(kTemporarySuffix))) QFile::remove(file.filePath());
    }
  }
  // Only an empty folder goes.
  QDir(folder).rmdir(QString::fromUtf8(kProgramFolderName));
}

}  // namespace exchange
