#pragma once

#include "ui/task_window.h"

#include <QSqlDatabase>
#include <QString>

class QWidget;

namespace store {
class ResultSet;
}

// The catalogue update window ("更新题库"): pulls the records of newly published papers from the content server and
// appends them to the catalogue. It keeps a result set of its own on the main window's connection, so the high-water
// mark and the appends never move the main list's current row.
class TAddSp : public ui::TaskWindow {
  Q_OBJECT

 public:
  TAddSp(QSqlDatabase database, store::ResultSet* mainList, QWidget* mainWindow);

  // The highest server paper number stored, "1" for an empty catalogue (or a null number).
  QString HighestServerNumber();

  store::ResultSet* ADOQuery1() const { return m_query; }
  store::ResultSet* MainList() const { return m_mainList; }

 private:
  store::ResultSet* m_query;
  store::ResultSet* m_mainList;
};

extern TAddSp* AddSp;
