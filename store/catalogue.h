#pragma once

#include "platform/user_text_error.h"

#include <QSqlDatabase>
#include <QString>

#include <stdexcept>
#include <string>

namespace store {

// A failure of the catalogue database: opening, a statement, or a post. The text is what the error report shows.
class DatabaseError : public platform::UserTextError {
 public:
  explicit DatabaseError(const QString& message);
  QString Message() const;
};

inline constexpr const char* kCatalogueFile = "data/data.mdb";

// The columns of VXT_TM, every one of which some window reads or writes. A catalogue without one of them is refused at
// the start rather than failing later in whichever handler first touches it (the grid's painting, a download's post);
// a list may be sorted by any of them.
inline constexpr const char* kCatalogueColumns[] = {"F_id", "F_bh", "F_SJMC", "F_KM", "F_ZFL1", "F_LB",
                                                    "F_MS", "F_ZT", "F_BZ",   "F_GXSJ", "F_BDWJ"};

// Opens the catalogue file, relative to the current directory unless absolute. A missing file is created with the
// VXT_TM table; an existing file that is not a usable database or lacks the table throws DatabaseError, so the
// user's data is never silently replaced. connectionName must be unique per open connection.
QSqlDatabase OpenCatalogue(const QString& path = kCatalogueFile, const QString& connectionName = "catalogue");

}  // namespace store
