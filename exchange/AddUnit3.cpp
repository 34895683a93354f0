#include "exchange/AddUnit3.h"

#include "store/result_set.h"
#include "store/statements.h"

TAddSp* AddSp = nullptr;

namespace {

constexpr const char* kCaption = "更新题库";
constexpr int kClientWidth = 744;
constexpr int kClientHeight = 49;
// What the update protocol asks from when the catalogue holds no server number yet.
constexpr const char* kFirstServerNumber = "1";

}  // namespace

TAddSp::TAddSp(QSqlDatabase database, store::ResultSet* mainList, QWidget* mainWindow)
    : ui::TaskWindow(QString::fromUtf8(kCaption), QSize(kClientWidth, kClientHeight), mainWindow),
      m_query(new store::ResultSet(database, this)),
      m_mainList(mainList) {}

QString TAddSp::HighestServerNumber() {
  m_query->Close();
  m_query->SetStatement(store::HighWaterMarkStatement());
  m_query->Open();
  const QString number = m_query->FieldAsText(QStringLiteral("F_bh"));
  return number.isEmpty() ? QString::fromLatin1(kFirstServerNumber) : number;
}
