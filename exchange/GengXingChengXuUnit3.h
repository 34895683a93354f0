#pragma once

#include "ui/task_window.h"

class QWidget;

// The program update window ("更新程序"): compares the version server's text with our own and, when they differ,
// starts the updater and closes the main window. Unlike the other task windows it shows its countdown.
class TGengXinChengXun : public ui::TaskWindow {
  Q_OBJECT

 public:
  explicit TGengXinChengXun(QWidget* mainWindow);
};

extern TGengXinChengXun* GengXinChengXun;
