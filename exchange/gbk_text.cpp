#include "exchange/gbk_text.h"

#include "exchange/gbk_bytes.h"
#include "exchange/paper_path.h"
#include "net/gbk.h"

#include <QByteArray>
#include <QDir>
#include <QStringDecoder>
#include <QStringEncoder>

namespace exchange {
namespace {

constexpr const char* kCodecName = "GBK";
// The codec keeps a lead byte at the very end as pending state and a one-shot decode never flushes it, so the
// broken character would vanish without a trace.
bool EndsInsideCharacter(const std::string& bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    const bool pair = net::IsGbkLeadByte(static_cast<unsigned char>(bytes[at])) && at + 1 < bytes.size() &&
                      IsGbkTrailByte(static_cast<unsigned char>(bytes[at + 1]));
    if (!pair && at + 1 == bytes.size()) return net::IsGbkLeadByte(static_cast<unsigned char>(bytes[at]));
    at += pair ? 2 : 1;
  }
  return false;
}

}  // namespace

QString DecodeGbk(const std::string& bytes) {
  // Opening the codec costs more than decoding a field; a stateless decoder carries nothing from one call to the
  // next, so one per thread serves every call (an import decodes six fields per record).
  thread_local QStringDecoder decoder(kCodecName, QStringConverter::Flag::Stateless);
  QString text = decoder.decode(QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())));
  if (EndsInsideCharacter(bytes)) text.append(QChar::ReplacementCharacter);
  return text;
}

std::string EncodeGbk(const QString& text) {
  QStringEncoder encoder(kCodecName, QStringConverter::Flag::Stateless);
  const QByteArray bytes = encoder.encode(text);
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString DefaultDownloadFolder() { return QDir::currentPath() + QLatin1Char('/') + QLatin1String(kDownloadFolderName); }

QString DownloadFilePath(const std::string& localName, const QString& downloadFolder) {
  if (!IsSafeLocalName(localName)) return {};
  QString local = DecodeGbk(localName);
  local.replace(QLatin1Char('\\'), QLatin1Char('/'));
  QString folder = downloadFolder;
  while (folder.endsWith(QLatin1Char('/')) && folder.size() > 1) folder.chop(1);
  const QString path = folder + QLatin1Char('/') + local;
  // The byte check above already rules out every way out; this keeps a later change to it from opening one.
  if (!QDir::cleanPath(path).startsWith(QDir::cleanPath(folder) + QLatin1Char('/'))) return {};
  return path;
}

}  // namespace exchange
