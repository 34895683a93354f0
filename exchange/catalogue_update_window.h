#pragma once

#include "exchange/answer_split.h"
#include "net/http_client.h"
#include "ui/task_window.h"

#include <QSqlDatabase>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

class QPushButton;
class QWidget;

namespace store {
class ResultSet;
}

namespace exchange {

// The catalogue update window ("更新题库"): pulls the records of newly published papers from the content server and
// appends them to the catalogue. It keeps a result set of its own on the main window's connection, so the high-water
// mark and the appends never move the main list's current row.
class CatalogueUpdateWindow : public ui::TaskWindow {
  Q_OBJECT

 public:
  CatalogueUpdateWindow(QSqlDatabase database, store::ResultSet* mainList, QWidget* mainWindow);

  // The highest server paper number stored, "1" for an empty catalogue (or a null number).
  QString HighestServerNumber();

  // Origin ("http://host[:port]") the update page is asked from; the build-time content server by default.
  void SetContentServer(std::string origin) { m_contentServer = std::move(origin); }
  const std::string& ContentServer() const { return m_contentServer; }

  // At the 28 reading: ask for the records above the high-water mark and import them, or say there are none.
  void OnCountdownTick() override;
  // The import of the answer held in AnswerBuffer(): one catalogue row per record, a summary, the main list refreshed.
  void ImportAnswer();

  // The last update answer, byte for byte (a NUL inside it is kept).
  const std::string& AnswerBuffer() const { return m_answer; }
  void SetAnswerBuffer(std::string answer) { m_answer = std::move(answer); }

  store::ResultSet* MainList() const { return m_mainList; }
  net::HttpClient& Client() { return m_http; }

  // The import's button: never shown, clicked by the update request.
  QPushButton* const ImportButton;

 private:
  // "取消" and Escape while the update's request runs: the request ends within a pump slice, nothing is imported or
  // reported, the answer buffer keeps what it held, and the strip goes with its countdown stopped.
  void CancelUpdate();
  // Appends every record and returns how many were appended. On a database error the rows posted before the failing
  // record are stored before the error goes on to the report.
  int AppendRecords(const std::vector<exchange::Record>& records);
  void AppendRecord(const exchange::Record& record);
  // After a failed batch: keeps the first `count` records stored, replaying them one by one when the engine threw
  // the whole transaction away.
  void KeepPosted(const std::vector<exchange::Record>& records, std::size_t count);

  QSqlDatabase m_database;
  store::ResultSet* m_query;
  store::ResultSet* m_mainList;
  net::HttpClient m_http;
  std::string m_contentServer;
  std::string m_answer;
  // Whether the user cancelled the request under way.
  bool m_cancelled = false;
};

}  // namespace exchange
