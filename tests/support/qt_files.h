#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

namespace testsupport {

// Every file under a folder (hidden ones included, so a stray temporary file shows), by its path relative to the
// folder, with its contents.
QMap<QString, QByteArray> FilesUnder(const QString& folder);

}  // namespace testsupport
