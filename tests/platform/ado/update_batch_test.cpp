#include "ado_fixture.h"
#include "automation/vbdate.h"

namespace adotest {
namespace {

using automation::ComError;
using automation::Variant;

class UpdateBatchTest : public AdoTest {
 protected:
  // The reader pattern: batch-optimistic, row-version criteria, detached.
  std::shared_ptr<ado::Recordset> Read(const std::string& sql, const ado::Params& params = {}) {
    auto c = Open();
    auto rs = c->Query(sql, params, ado::adLockBatchOptimistic);
    rs->SetUpdateCriteria(ado::adCriteriaTimeStamp);
    rs->SetActiveConnection(nullptr);
    return rs;
  }
  void Write(ado::Recordset& rs, const std::shared_ptr<ado::Connection>& c) {
    rs.SetActiveConnection(c);
    rs.UpdateBatch();
    rs.SetActiveConnection(nullptr);
  }
};

TEST_F(UpdateBatchTest, UpdatesByKeyAndRowVersionAndReadsTheNewVersionBack) {
  int64_t id = AddItem("Dev", "Alpha", 3);
  auto rs = Read("select * from Items where ItemId = ?", {ado::Param::Long(static_cast<int32_t>(id))});
  int64_t before = rs->Value("LastUpdated").ToLongLong();
  rs->SetValue("Quantity", Variant(4));
  rs->SetValue("Notes", Variant("restocked"));
  Write(*rs, conn);
  EXPECT_EQ(One("select Quantity || ' ' || Notes from Items").ToString(), "4 restocked");
  EXPECT_GT(rs->Value("LastUpdated").ToLongLong(), before);
  EXPECT_EQ(rs->Value("LastUpdated").ToLongLong(), One("select LastUpdated from Items").ToLongLong());
  EXPECT_EQ(rs->Status(), ado::adRecUnmodified);
  EXPECT_EQ(rs->Field("Quantity").OriginalValue().ToLong(), 4);
  // Written again from the same recordset: its version is the one just read back.
  rs->SetValue("Quantity", Variant(5));
  Write(*rs, conn);
  EXPECT_EQ(One("select Quantity from Items").ToLong(), 5);
}

TEST_F(UpdateBatchTest, TheSecondWriterOfOneReadConflictsAndWritesNothing) {
  AddItem("Dev", "Alpha", 3);
  AddItem("Dev", "Beta", 4);
  auto first = Read("select * from Items order by ItemId");
  auto second = Read("select * from Items order by ItemId");
  first->MoveLast();
  first->SetValue("Quantity", Variant(40));
  Write(*first, conn);

  // The second writer changes both rows; the second row's version moved.
  second->SetValue("Quantity", Variant(30));
  second->MoveLast();
  second->SetValue("Quantity", Variant(41));
  second->SetActiveConnection(conn);
  ComError e = ErrorOf([&] { second->UpdateBatch(); });
  EXPECT_EQ(e.number, ado::err::kWriteConflict);
  ASSERT_EQ(conn->ErrorList().Count(), 1);
  EXPECT_EQ(conn->ErrorList().First()->number, ado::err::kWriteConflict);
  EXPECT_EQ(One("select group_concat(Quantity, ',') from Items").ToString(), "3,40");
  EXPECT_FALSE(conn->InTransaction());
  // Its changes are still pending: cancelled, they leave the values as read.
  EXPECT_EQ(second->Status(), ado::adRecModified);
  second->CancelBatch();
  second->MoveFirst();
  EXPECT_EQ(second->Value("Quantity").ToLong(), 3);
}

TEST_F(UpdateBatchTest, DefaultCriteriaCompareOnlyTheChangedColumns) {
  AddItem("Dev", "Alpha", 3);
  auto rs = Open()->Query("select * from Items", {}, ado::adLockBatchOptimistic);
  rs->SetActiveConnection(nullptr);
  EXPECT_EQ(rs->UpdateCriteria(), ado::adCriteriaUpdCols);
  conn->ExecuteNonQuery("UPDATE Items SET Notes = 'other session'");
  rs->SetValue("Quantity", Variant(9));
  Write(*rs, conn);  // Notes changed meanwhile, Quantity did not: no conflict
  EXPECT_EQ(One("select Quantity || ' ' || Notes from Items").ToString(), "9 other session");
  conn->ExecuteNonQuery("UPDATE Items SET Quantity = 10");
  rs->SetValue("Quantity", Variant(11));
  rs->SetActiveConnection(conn);
  EXPECT_EQ(ErrorOf([&] { rs->UpdateBatch(); }).number, ado::err::kWriteConflict);
  EXPECT_EQ(One("select Quantity from Items").ToLong(), 10);
}

TEST_F(UpdateBatchTest, InsertsReadBackIdentityDefaultsAndVersion) {
  auto when = *automation::MakeDate({2024, 5, 6, 7, 8, 9, 0});
  automation::SetClockForTesting(when);
  auto rs = Read("select * from Items where 0");
  rs->AddNew();
  rs->SetValue("GroupCode", Variant("QA"));
  rs->SetValue("Name", Variant("New one"));
  rs->Update();
  rs->AddNew(Variant(std::vector<Variant>{Variant("GroupCode"), Variant("Name"), Variant("Quantity")}),
             Variant(std::vector<Variant>{Variant("Ops"), Variant("Second"), Variant(2)}));
  EXPECT_TRUE(rs->Value("ItemId").IsNull());
  Write(*rs, conn);
  automation::SetClockForTesting(std::nullopt);
  rs->MoveFirst();
  EXPECT_EQ(rs->Value("ItemId").ToLong(), 1);
  EXPECT_EQ(rs->Value("Quantity").ToLong(), 0);     // the column's default
  EXPECT_TRUE(rs->Value("Active").ToBool());
  EXPECT_EQ(rs->Value("Created").ToDate(), when);    // GetDate() default
  EXPECT_FALSE(rs->Value("LastUpdated").IsNull());
  rs->MoveNext();
  EXPECT_EQ(rs->Value("ItemId").ToLong(), 2);
  EXPECT_EQ(One("select count(*) from Items").ToLong(), 2);
  // The new rows are ordinary rows now: they update by their version.
  rs->SetValue("Name", Variant("Renamed"));
  Write(*rs, conn);
  EXPECT_EQ(One("select Name from Items where ItemId = 2").ToString(), "Renamed");
}

TEST_F(UpdateBatchTest, DeletesAndTheirConflicts) {
  AddItem("Dev", "Alpha");
  AddItem("Dev", "Beta");
  auto rs = Read("select * from Items order by ItemId");
  rs->Delete();
  EXPECT_EQ(rs->Status(), ado::adRecDeleted);
  EXPECT_EQ(ErrorOf([&] { rs->Value("Name"); }).number, ado::err::kDeletedRow);
  rs->MoveNext();
  EXPECT_EQ(rs->Value("Name").ToString(), "Beta");
  EXPECT_EQ(rs->RecordCount(), 1);
  conn->ExecuteNonQuery("UPDATE Items SET Notes = 'touched' WHERE Name = 'Alpha'");
  rs->SetActiveConnection(conn);
  EXPECT_EQ(ErrorOf([&] { rs->UpdateBatch(); }).number, ado::err::kWriteConflict);
  EXPECT_EQ(One("select count(*) from Items").ToLong(), 2);

  auto fresh = Read("select * from Items order by ItemId");
  fresh->Delete();
  Write(*fresh, conn);
  EXPECT_EQ(One("select group_concat(Name) from Items").ToString(), "Beta");
  EXPECT_EQ(fresh->RecordCount(), 1);
}

TEST_F(UpdateBatchTest, ASavepointInsideTheCallersTransaction) {
  AddItem("Dev", "Alpha", 1);
  auto stale = Read("select * from Items");
  auto good = Read("select * from Groups where GroupCode = 'Ops'");
  conn->ExecuteNonQuery("UPDATE Items SET Quantity = 2");

  conn->BeginTrans();
  conn->ExecuteNonQuery("INSERT INTO Groups (GroupCode) VALUES ('Sec')");
  stale->SetValue("Quantity", Variant(5));
  stale->SetActiveConnection(conn);
  EXPECT_EQ(ErrorOf([&] { stale->UpdateBatch(); }).number, ado::err::kWriteConflict);
  // The failed batch left the caller's transaction and its earlier work alone.
  EXPECT_TRUE(conn->InTransaction());
  good->SetValue("Description", Variant("Ops people"));
  Write(*good, conn);
  conn->CommitTrans();
  EXPECT_EQ(One("select count(*) from Groups where GroupCode = 'Sec'").ToLong(), 1);
  EXPECT_EQ(One("select Description from Groups where GroupCode = 'Ops'").ToString(), "Ops people");
  EXPECT_EQ(One("select Quantity from Items").ToLong(), 2);
}

TEST_F(UpdateBatchTest, AChangedKeyIsFoundByTheKeyAsRead) {
  auto rs = Read("select * from Groups where GroupCode = 'Ops'");
  rs->SetValue("GroupCode", Variant("OPS"));  // the letter case only
  Write(*rs, conn);
  EXPECT_EQ(One("select GroupCode from Groups where GroupCode = 'ops'").ToString(), "OPS");
  EXPECT_EQ(ErrorOf([&] {
              auto dup = Read("select * from Groups where GroupCode = 'QA'");
              dup->SetValue("GroupCode", Variant("dev"));
              Write(*dup, conn);
            }).number,
            ado::err::kConstraint);
  EXPECT_EQ(conn->ErrorList().First()->nativeError, 2627);
}

TEST_F(UpdateBatchTest, WhatCannotBeWrittenIsRefused) {
  AddItem("Dev", "Alpha");
  // A computed column has no table to go to.
  auto computed = Read("select ItemId, Quantity * 2 AS Twice from Items");
  computed->SetValue("Twice", Variant(8));
  computed->SetActiveConnection(conn);
  EXPECT_EQ(ErrorOf([&] { computed->UpdateBatch(); }).number, ado::err::kFail);
  // Without the table's key the row cannot be found.
  auto keyless = Read("select Name from Items");
  keyless->SetValue("Name", Variant("x"));
  keyless->SetActiveConnection(conn);
  ComError e = ErrorOf([&] { keyless->UpdateBatch(); });
  EXPECT_NE(e.description.find("key column"), std::string::npos);
  EXPECT_EQ(One("select Name from Items").ToString(), "Alpha");
  // A detached recordset has nowhere to write.
  auto detached = Read("select * from Items");
  detached->SetValue("Name", Variant("y"));
  EXPECT_EQ(ErrorOf([&] { detached->UpdateBatch(); }).number, ado::err::kInvalidConnection);
}

TEST_F(UpdateBatchTest, ATableWithoutKeyOrVersionComparesEveryColumn) {
  conn->ExecuteNonQuery("INSERT INTO Plain VALUES ('a', 'one'), ('b', 'two')");
  auto rs = Read("select * from Plain order by Code");
  rs->SetValue("Label", Variant("uno"));
  Write(*rs, conn);
  EXPECT_EQ(One("select Label from Plain where Code = 'a'").ToString(), "uno");
  rs->MoveNext();
  conn->ExecuteNonQuery("UPDATE Plain SET Label = 'dos' WHERE Code = 'b'");
  rs->SetValue("Code", Variant("c"));
  rs->SetActiveConnection(conn);
  EXPECT_EQ(ErrorOf([&] { rs->UpdateBatch(); }).number, ado::err::kWriteConflict);
}

TEST_F(UpdateBatchTest, JoinedRowsWriteEachTableTheyChanged) {
  AddItem("Dev", "Alpha");
  auto rs = Read("select i.ItemId, i.Name, i.LastUpdated, g.GroupCode, g.Description, g.LastUpdated AS GroupVersion "
                 "from Items i join Groups g on g.GroupCode = i.GroupCode");
  rs->SetValue("Name", Variant("Alpha 2"));
  rs->SetValue("Description", Variant("Devs"));
  Write(*rs, conn);
  EXPECT_EQ(One("select Name from Items").ToString(), "Alpha 2");
  EXPECT_EQ(One("select Description from Groups where GroupCode = 'Dev'").ToString(), "Devs");
  EXPECT_EQ(rs->Value("GroupVersion").ToLongLong(), One("select LastUpdated from Groups where GroupCode = 'Dev'").ToLongLong());
}

TEST_F(UpdateBatchTest, ALiveRecordsetWritesEachUpdateAtOnce) {
  AddItem("Dev", "Alpha");
  AddItem("QA", "Beta");
  auto rs = std::make_shared<ado::Recordset>();
  rs->OpenSql(conn, "select * from Items order by ItemId", {}, ado::adLockPessimistic);
  while (!rs->IsEOF()) {
    rs->SetValue("Notes", Variant("sent"));
    rs->Update();
    EXPECT_EQ(One("select Notes from Items where ItemId = ?", {ado::Param::Long(rs->Value("ItemId"))}).ToString(), "sent");
    rs->MoveNext();
  }
  rs->MoveFirst();
  rs->Delete();
  EXPECT_EQ(One("select count(*) from Items").ToLong(), 1);
  rs->AddNew();
  rs->SetValue("GroupCode", Variant("Ops"));
  rs->SetValue("Name", Variant("Gamma"));
  rs->Update();
  EXPECT_EQ(rs->Value("ItemId").ToLong(), 3);
  EXPECT_EQ(One("select count(*) from Items").ToLong(), 2);
}

}  // namespace
}  // namespace adotest
