#pragma once

#include "app/IndexUnit2.h"
#include "exchange/AddUnit3.h"
#include "exchange/GengXingChengXuUnit3.h"
#include "exchange/JinDuTiaoUnit3.h"
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
    form = std::make_unique<TForm2>();
    form->SetHideAnimationMs(0);
    addSp = std::make_unique<TAddSp>(form->Database(), form->MainList(), form.get());
    gengXin = std::make_unique<TGengXinChengXun>(form.get());
    form3 = std::make_unique<TForm3>(form->MainList(), form.get());
    form->SetTaskWindows(addSp.get(), gengXin.get(), form3.get());
  }

  void TearDown() override {
    form3.reset();
    gengXin.reset();
    addSp.reset();
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
  std::unique_ptr<TForm2> form;
  std::unique_ptr<TAddSp> addSp;
  std::unique_ptr<TGengXinChengXun> gengXin;
  std::unique_ptr<TForm3> form3;
};
