#include "exchange/GengXingChengXuUnit3.h"

#include <QLineEdit>

TGengXinChengXun* GengXinChengXun = nullptr;

namespace {

constexpr const char* kCaption = "更新程序";
constexpr int kClientWidth = 747;
constexpr int kClientHeight = 49;
// The countdown field lies over the bar and shows the running reading; before the first tick it holds its own name.
constexpr int kEditLeft = 488;
constexpr int kEditTop = 16;
constexpr int kEditWidth = 121;
constexpr int kEditHeight = 22;
constexpr const char* kEditInitialText = "Edit1";

}  // namespace

TGengXinChengXun::TGengXinChengXun(QWidget* mainWindow)
    : ui::TaskWindow(QString::fromUtf8(kCaption), QSize(kClientWidth, kClientHeight), mainWindow) {
  Edit1->setGeometry(kEditLeft, kEditTop, kEditWidth, kEditHeight);
  Edit1->setText(QString::fromLatin1(kEditInitialText));
  Edit1->raise();
  Edit1->show();
}
