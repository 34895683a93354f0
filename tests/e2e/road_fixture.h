#pragma once

#include "tests/e2e/demo_server_process.h"
#include "tests/support/qt_fakes.h"
#include "vextal_config.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

class QTimer;

// Failures show texts as text, not as UTF-16 code units.
void PrintTo(const QString& text, std::ostream* out);
void PrintTo(const QStringList& texts, std::ostream* out);

// One client run after another in a working folder of its own (data/data.mdb created on the first start, DownLoad/
// ready), each run the program's own windows from the real start-up, pointed at a demo server the test starts. The
// countdowns follow the fake clock and are ticked by hand; the dialog, shell and process seams only record.
class RoadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;
  void TearDown() override;

  // (Re)starts the demo server with `records` papers numbered from 1001 and `version` as its version page.
  void StartServer(int records, const QString& version = QString::fromLatin1(vextal::kVersionText));
  // Starts a client run as the entry does (windows created in order, main window shown) against the running server.
  void StartClient();
  // Ends the run: the windows go, the catalogue file stays for the next run.
  void EndClient();

  // Moves the fake clock on and ticks the timer once, as its one-second period would have.
  void TickAfter(QTimer* timer, qint64 ms);
  // The first tick after a window's show, a little over a second later: the 28 reading.
  void FirstTick(QTimer* timer);
  // Ticks the main window until its first check (the 28 reading) and then its second (the 25 reading).
  void RunStartUpChecks();
  // The menu's "更新题库", then the catalogue update window's countdown up to its request.
  void UpdateCatalogue();
  // Picks the paper's exam in the tree and double-clicks the paper's row in the grid; returns its row.
  int DoubleClickPaper(const QString& serverNumber);
  // The download window's countdown up to its download.
  void RunDownload();

  // A field of the catalogue row holding a server number, read from the file (not from a window).
  QString StoredField(const QString& serverNumber, const QString& field) const;
  int StoredRowCount() const;
  // The content of the file of that name the demo server hands out, from whichever folder of its upload area.
  QByteArray ServerFile(const QString& fileName) const;

  testsupport::InstalledFakes fakes;
  DemoServerProcess server;
  // The origin the windows are pointed at, when not the demo server itself (a TLS front, a name only a proxy knows).
  std::string origin;
  QTemporaryDir folder;
  // The pauses the download window took before trying again.
  std::vector<int> downloadPauses;

 private:
  static std::unique_ptr<QTemporaryDir> s_serverRoot;
  QString m_previousDirectory;
};
