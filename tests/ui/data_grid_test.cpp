#include "ui/data_grid.h"

#include "store/catalogue.h"
#include "store/result_set.h"
#include "store/statements.h"
#include "tests/support/qt_fakes.h"

#include <QHeaderView>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

const QVector<ui::GridColumn> kColumns = {
    {"F_id", "编号", 34, Qt::AlignLeft},
    {"F_SJMC", "题目名称", 296, Qt::AlignLeft},
    {"F_ZT", "是否下载", 92, Qt::AlignHCenter},
    {"F_GXSJ", "下载时间", 0, Qt::AlignLeft},
};

class DataGridTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_dir.isValid());
    static int serial = 0;
    m_connection = QStringLiteral("grid-test-%1").arg(++serial);
    m_db = store::OpenCatalogue(m_dir.filePath("data.mdb"), m_connection);
    for (int i = 1; i <= 3; ++i) {
      QSqlQuery insert(m_db);
      ASSERT_TRUE(insert.exec(QStringLiteral("insert into VXT_TM (F_bh, F_SJMC, F_ZT) values (%1, '试卷%1', '下载')")
                                  .arg(i)));
    }
    m_rows = std::make_unique<store::ResultSet>(m_db);
    m_rows->SetStatement(store::DefaultListStatement());
    m_rows->Open();
    m_grid = std::make_unique<ui::DataGrid>(m_rows.get(), kColumns);
    m_grid->resize(600, 300);
    m_grid->show();
  }

  void TearDown() override {
    m_grid.reset();
    m_rows.reset();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connection);
  }

  int StoredRows() {
    QSqlQuery count(m_db);
    count.exec(QStringLiteral("select count(*) from VXT_TM"));
    count.next();
    return count.value(0).toInt();
  }

  QTemporaryDir m_dir;
  QString m_connection;
  QSqlDatabase m_db;
  std::unique_ptr<store::ResultSet> m_rows;
  std::unique_ptr<ui::DataGrid> m_grid;
};

TEST_F(DataGridTest, ShowsTheBoundFieldsWithTitlesWidthsAndAlignment) {
  const ui::ResultSetModel* model = m_grid->Model();
  ASSERT_EQ(model->rowCount(), 3);
  EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), "题目名称");
  EXPECT_EQ(model->index(0, 1).data().toString(), "试卷3");  // newest first
  EXPECT_EQ(m_grid->columnWidth(0), 34);
  EXPECT_EQ(m_grid->columnWidth(2), 92);
  const auto centred = Qt::AlignHCenter | Qt::AlignVCenter;
  EXPECT_EQ(model->index(0, 2).data(Qt::TextAlignmentRole).value<Qt::Alignment>(), centred);
  EXPECT_EQ(model->headerData(2, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>(), centred);
  EXPECT_FALSE(model->flags(model->index(0, 1)) & Qt::ItemIsEditable);
  EXPECT_EQ(m_grid->editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST_F(DataGridTest, CurrentRowFollowsTheResultSetAndTheGridBothWays) {
  EXPECT_EQ(m_grid->currentIndex().row(), 0);
  EXPECT_EQ(m_grid->Model()->headerData(0, Qt::Vertical).toString(), QString(QChar(0x25B6)));

  m_rows->SetCurrentRow(2);
  EXPECT_EQ(m_grid->currentIndex().row(), 2);
  EXPECT_TRUE(m_grid->Model()->headerData(0, Qt::Vertical).toString().isEmpty());

  QTest::keyClick(m_grid.get(), Qt::Key_Up);
  EXPECT_EQ(m_rows->CurrentRow(), 1);
  EXPECT_EQ(m_rows->FieldAsText("F_SJMC"), "试卷2");

  m_rows->Refresh();
  EXPECT_EQ(m_grid->Model()->rowCount(), 3);
  EXPECT_EQ(m_grid->currentIndex().row(), 0);

  m_rows->Close();
  EXPECT_EQ(m_grid->Model()->rowCount(), 0);
  EXPECT_FALSE(m_grid->currentIndex().isValid());
}

TEST_F(DataGridTest, ShowsAnAppendedRowAndAnUpdatedRowWithoutAReopen) {
  m_rows->Append();
  m_rows->SetField("F_SJMC", "新试卷");
  m_rows->Post();
  ASSERT_EQ(m_grid->Model()->rowCount(), 4);
  EXPECT_EQ(m_grid->currentIndex().row(), m_rows->CurrentRow());
  EXPECT_EQ(m_grid->Model()->index(m_rows->CurrentRow(), 1).data().toString(), "新试卷");

  m_rows->SetCurrentRow(0);
  m_rows->UpdateById(m_rows->CurrentId(), {{"F_ZT", "打开"}});
  EXPECT_EQ(m_grid->Model()->index(0, 2).data().toString(), "打开");
}

TEST_F(DataGridTest, CtrlDeleteAsksAndDeletesOnlyOnOk) {
  struct Case {
    bool answer;
    int expectedRows;
    const char* label;
  };
  const Case cases[] = {{false, 3, "Cancel keeps the row"}, {true, 2, "OK deletes the current row"}};
  for (const Case& c : cases) {
    testsupport::InstalledFakes fakes;
    fakes.dialogs.confirmAnswers = {c.answer};
    QTest::keyClick(m_grid.get(), Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(fakes.dialogs.confirmations, QStringList{"Delete record?"}) << c.label;
    EXPECT_EQ(StoredRows(), c.expectedRows) << c.label;
    EXPECT_EQ(m_grid->Model()->rowCount(), c.expectedRows) << c.label;
  }
  // A plain Delete does nothing, and nothing is asked on an empty list.
  testsupport::InstalledFakes fakes;
  fakes.dialogs.confirmDefault = true;
  QTest::keyClick(m_grid.get(), Qt::Key_Delete);
  EXPECT_EQ(StoredRows(), 2);
  m_rows->Close();
  QTest::keyClick(m_grid.get(), Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_TRUE(fakes.dialogs.confirmations.isEmpty());
}

}  // namespace

TEST_F(DataGridTest, KeepsTheCurrentRowAndSelectionWhilePagesComeAndGo) {
  QSqlQuery fill(m_db);
  ASSERT_TRUE(fill.exec(QStringLiteral("with recursive n(i) as (select 4 union all select i + 1 from n where i < 6000) "
                                       "insert into VXT_TM (F_bh, F_SJMC, F_ZT) select i, '试卷' || i, '下载' from n")));
  m_rows->SetStatement(store::ListQuery{});
  m_rows->Open();
  ASSERT_EQ(m_grid->Model()->rowCount(), 6000);
  m_rows->SetCurrentRow(1500);
  // Scrolling from the top to the bottom paints every page once, far more than are held at a time.
  for (int row = 0; row < 6000; row += 100) {
    m_grid->scrollTo(m_grid->Model()->index(row, 0), QAbstractItemView::PositionAtTop);
    QCoreApplication::processEvents();
  }
  EXPECT_EQ(m_grid->Model()->index(5999, 1).data().toString(), "试卷1");
  EXPECT_EQ(m_rows->CurrentRow(), 1500);
  EXPECT_EQ(m_grid->currentIndex().row(), 1500);
  EXPECT_TRUE(m_grid->selectionModel()->isRowSelected(1500, QModelIndex()));
  EXPECT_EQ(m_rows->FieldAsText("F_SJMC"), "试卷4500");
}
