#pragma once

#include "app/main_window.h"
#include "exchange/catalogue_update_window.h"
#include "exchange/program_update_window.h"
#include "exchange/paper_download_window.h"
#include "store/result_set.h"
#include "tests/support/qt_fakes.h"

#include <QDir>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

// Every test that touches data/data.mdb runs in a scratch current directory of its own.
class InScratchDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_dir.isValid());
    m_previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
  }
  void TearDown() override { QDir::setCurrent(m_previous); }

  QTemporaryDir m_dir;
  QString m_previous;
};

// The main window and its three task windows over a fresh catalogue, with every seam recorded.
class MainWindowTest : public InScratchDirectory {
 protected:
  void SetUp() override {
    InScratchDirectory::SetUp();
    form = std::make_unique<app::MainWindow>();
    form->SetHideAnimationMs(0);
    catalogueUpdate = std::make_unique<exchange::CatalogueUpdateWindow>(form->Database(), form->MainList(), form.get());
    programUpdate = std::make_unique<exchange::ProgramUpdateWindow>(form.get());
    paperDownload = std::make_unique<exchange::PaperDownloadWindow>(form->MainList(), form.get());
    form->SetTaskWindows(catalogueUpdate.get(), programUpdate.get(), paperDownload.get());
    // The commands are what these tests follow; the download's own retries have tests of their own.
    paperDownload->SetRetryPause([](int) { return false; });
  }

  void TearDown() override {
    paperDownload.reset();
    programUpdate.reset();
    catalogueUpdate.reset();
    form.reset();
    InScratchDirectory::TearDown();
  }

  void Insert(const QString& bh, const QString& title, const QString& exam, const QString& status,
              const QString& file = QString()) {
    QSqlQuery insert(form->Database());
    insert.prepare(QStringLiteral("insert into VXT_TM (F_bh, F_SJMC, F_KM, F_ZT, F_BDWJ) values (?, ?, ?, ?, ?)"));
    // An empty server number is stored as null, as catalogues made with a numeric column hold "no number".
    insert.addBindValue(bh.isEmpty() ? QVariant() : QVariant(bh));
    for (const QString& value : {title, exam, status, file}) {
      insert.addBindValue(value);
    }
    ASSERT_TRUE(insert.exec());
  }

  testsupport::InstalledFakes fakes;
  std::unique_ptr<app::MainWindow> form;
  std::unique_ptr<exchange::CatalogueUpdateWindow> catalogueUpdate;
  std::unique_ptr<exchange::ProgramUpdateWindow> programUpdate;
  std::unique_ptr<exchange::PaperDownloadWindow> paperDownload;
};
