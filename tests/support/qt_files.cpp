#include "tests/support/qt_files.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

namespace testsupport {

QMap<QString, QByteArray> FilesUnder(const QString& folder) {
  QMap<QString, QByteArray> files;
  QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    QFile file(path);
    files.insert(QDir(folder).relativeFilePath(path), file.open(QIODevice::ReadOnly) ? file.readAll() : "?");
  }
  return files;
}

}  // namespace testsupport
