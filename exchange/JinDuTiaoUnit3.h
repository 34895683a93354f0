#pragma once

#include "ui/task_window.h"

class QWidget;

namespace store {
class ResultSet;
}

// The paper download window ("进度条"): fetches the file of the main list's current paper into the download folder
// and records the result in that row.
class TForm3 : public ui::TaskWindow {
  Q_OBJECT

 public:
  TForm3(store::ResultSet* mainList, QWidget* mainWindow);

  store::ResultSet* MainList() const { return m_mainList; }

 private:
  store::ResultSet* m_mainList;
};

extern TForm3* Form3;
