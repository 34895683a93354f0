#include "exchange/JinDuTiaoUnit3.h"

TForm3* Form3 = nullptr;

namespace {

constexpr const char* kCaption = "进度条";
constexpr int kClientWidth = 677;
constexpr int kClientHeight = 49;

}  // namespace

TForm3::TForm3(store::ResultSet* mainList, QWidget* mainWindow)
    : ui::TaskWindow(QString::fromUtf8(kCaption), QSize(kClientWidth, kClientHeight), mainWindow),
      m_mainList(mainList) {}
