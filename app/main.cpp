#include "app/IndexUnit2.h"
#include "app/startup.h"
#include "ui/error_report.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
  ui::GuardedApplication application(argc, argv);
  // The program's title is its file name without extension; message boxes use it as their caption.
  QCoreApplication::setApplicationName(QString::fromLatin1(app::kApplicationName));

  if (const int failure = app::CreateForms(app::ShowApplicationErrorBox); failure != 0) {
    return failure;
  }
  Form2->show();
  return QApplication::exec();
}
