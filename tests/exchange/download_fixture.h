#pragma once

#include "exchange/paper_download_window.h"
#include "store/result_set.h"
#include "tests/support/qt_fakes.h"

#include <QSqlDatabase>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

// The download window's surroundings: a scratch root whose "work" folder, holding an empty DownLoad/, is the current
// directory, and a catalogue in a folder apart, so everything under the root is what the window wrote. The main
// list is set to the default statement but not opened; `form` is for the test to create.
class DownloadFolderTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  QString Root() const { return m_root.path(); }
  QString Folder() const;
  QString InFolder(const QString& relative) const;
  QSqlDatabase& Database() { return m_db; }

  testsupport::InstalledFakes fakes;
  std::unique_ptr<store::ResultSet> list;
  std::unique_ptr<exchange::PaperDownloadWindow> form;

 private:
  QTemporaryDir m_root;
  QTemporaryDir m_data;
  QString m_previous;
  QSqlDatabase m_db;
};
