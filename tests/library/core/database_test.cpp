#include "core/database.h"

#include <gtest/gtest.h>

#include <thread>

#include "ado/ado.h"
#include "brisquel/read_snapshot.h"
#include "core/recordset_persistence.h"
#include "eventlog/eventlog.h"
#include "schema/ddl.h"
#include "support/temp_dir.h"

namespace brisquel {
namespace {

using automation::ComError;
using automation::Variant;

class DatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto c = Connect();
    c->ExecuteNonQuery(
        "CREATE TABLE Groups (GroupCode varchar(20) NOT NULL PRIMARY KEY COLLATE NOCASE, "
        "  Description varchar(50) NULL, LastUpdated INTEGER);"
        "CREATE TABLE Members (UserId varchar(50) NOT NULL COLLATE NOCASE, "
        "  GroupCode varchar(20) NOT NULL COLLATE NOCASE REFERENCES Groups (GroupCode), "
        "  PRIMARY KEY (UserId, GroupCode));"
        "INSERT INTO Groups (GroupCode, Description) VALUES ('Dev', 'Developers'), ('QA', 'Testers');");
    ado::InstallRowVersion(c->Handle(), "Groups");
  }
  std::string ConnectionString() const { return "Data Source=" + (dir / "site.db").string(); }
  std::shared_ptr<ado::Connection> Connect() const {
    auto c = std::make_shared<ado::Connection>();
    c->Open(ConnectionString());
    return c;
  }
  std::shared_ptr<Database> NewDatabase() const {
    auto db = std::make_shared<Database>();
    db->SetConnectionString(ConnectionString());
    return db;
  }
  Variant Count(const std::string& where) {
    return Connect()->Query("select count(*) from Groups where " + where)->Value(size_t{0});
  }
  template <class F>
  static ComError ErrorOf(F&& f) {
    try {
      f();
    } catch (const ComError& e) {
      return e;
    }
    return ComError();
  }

  testsupport::TempDir dir;
};

TEST_F(DatabaseTest, AReaderReturnsADetachedRecordsetThatOutlivesItsDatabase) {
  std::shared_ptr<ado::Recordset> rs;
  {
    auto db = NewDatabase();
    rs = db->Read("select * from Groups where GroupCode = ?", {ado::Param::Text("qa", 20)});
  }
  EXPECT_EQ(rs->ActiveConnection(), nullptr);
  EXPECT_EQ(rs->LockType(), ado::adLockBatchOptimistic);
  EXPECT_EQ(rs->UpdateCriteria(), ado::adCriteriaTimeStamp);
  EXPECT_EQ(rs->Value("Description").ToString(), "Testers");
  rs->SetValue("Description", Variant("Quality"));
  // A later request writes it through another Database.
  auto db = NewDatabase();
  db->WriteBack(*rs);
  EXPECT_EQ(rs->ActiveConnection(), nullptr);
  EXPECT_EQ(Count("Description = 'Quality'").ToLong(), 1);
  EXPECT_TRUE(db->Exists("select 1 from Groups where GroupCode = ?", {ado::Param::Text("DEV", 20)}));
  EXPECT_FALSE(db->Exists("select 1 from Groups where GroupCode = ?", {ado::Param::Text("Ops", 20)}));
  EXPECT_EQ(db->Scalar("select Description from Groups where GroupCode = 'Dev'").ToString(), "Developers");
  EXPECT_TRUE(db->Scalar("select 1 from Groups where 0").IsEmpty());
  EXPECT_TRUE(db->Read("select * from Groups where 0")->IsEOF());
}

int DenyAll(void*, int, const char*, const char*, const char*, const char*) { return SQLITE_DENY; }

TEST_F(DatabaseTest, AConnectionLetGoIsKeptResetAndSeesLaterSchemaChanges) {
  auto first = NewDatabase(), second = NewDatabase();
  ado::Connection* opened[] = {first->ConnectionPtr().get(), second->ConnectionPtr().get()};
  ASSERT_NE(opened[0], opened[1]);
  // Left as a failed request might leave it: a transaction open, an authorizer set, keys off.
  first->Exec("PRAGMA foreign_keys=OFF");
  first->Connection().BeginTrans();
  first->Exec("INSERT INTO Groups (GroupCode) VALUES ('Ops')");
  first->Connection().SetAuthorizer(&DenyAll, nullptr);
  first.reset();
  second.reset();

  auto third = NewDatabase(), fourth = NewDatabase();
  for (auto* db : {third.get(), fourth.get()}) {
    ado::Connection& c = db->Connection();
    EXPECT_TRUE(&c == opened[0] || &c == opened[1]);
    EXPECT_FALSE(c.InTransaction());
    EXPECT_FALSE(c.HasAuthorizer());
    EXPECT_EQ(db->One<int32_t>("PRAGMA foreign_keys"), 1);
  }
  EXPECT_EQ(Count("GroupCode = 'Ops'").ToLong(), 0);
  // A column added on one kept connection is seen by the other, whose statements were prepared
  // before it.
  EXPECT_EQ(fourth->Read("select * from Groups")->FieldCount(), 3u);
  schema::ddl::AddColumn(third->Connection(), "Groups", schema::ddl::NotNull("Extra", "VARCHAR(10)", "'x'"));
  EXPECT_EQ(fourth->Read("select * from Groups")->FieldCount(), 4u);
  EXPECT_EQ(fourth->One<std::string>("select Extra from Groups where GroupCode = 'Dev'"), "x");
  third.reset();
  fourth.reset();

  // The file deleted and made anew: no kept connection reads the old one.
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(dir / ("site.db" + std::string(suffix)));
  Connect()->ExecuteNonQuery("CREATE TABLE Fresh (Id INTEGER)");
  auto fifth = NewDatabase();
  EXPECT_TRUE(fifth->Exists("select 1 from sqlite_schema where name = 'Fresh'"));
  EXPECT_FALSE(fifth->Exists("select 1 from sqlite_schema where name = 'Groups'"));
}

// Statements prepared on a connection let go are still prepared for the next Database that takes
// it: handing it back does not expire them.
TEST_F(DatabaseTest, AKeptConnectionKeepsItsStatementsPrepared) {
  const char* kSql = "select Description from Groups where GroupCode = ?";
  ado::Connection* kept = nullptr;
  {
    auto db = NewDatabase();
    kept = db->ConnectionPtr().get();
    EXPECT_EQ(db->One<std::string>(kSql, {ado::Param::Text("Dev", 20)}), "Developers");
  }
  auto db = NewDatabase();
  ASSERT_EQ(db->ConnectionPtr().get(), kept);
  EXPECT_EQ(db->One<std::string>(kSql, {ado::Param::Text("Dev", 20)}), "Developers");
  EXPECT_EQ(db->One<int32_t>("PRAGMA foreign_keys"), 1);
  int reprepared = 0;
  for (sqlite3_stmt* st = sqlite3_next_stmt(kept->Handle(), nullptr); st; st = sqlite3_next_stmt(kept->Handle(), st))
    reprepared += sqlite3_stmt_status(st, SQLITE_STMTSTATUS_REPREPARE, 0);
  EXPECT_EQ(reprepared, 0);
}

// Under a SharedReadSnapshot the reads see the site as at the first of them: another thread's later
// write is seen only once the snapshot ends; a write made on this thread, through any object, is
// seen by the next read; a transaction of the reader's own begins and commits as without it.
TEST_F(DatabaseTest, ReadsShareOneSnapshotUntilThisThreadWrites) {
  const char* kCount = "select count(*) from Groups";
  auto elsewhere = [&](const char* sql) { std::thread([&] { Connect()->ExecuteNonQuery(sql); }).join(); };
  std::shared_ptr<Database> reader;
  {
    SharedReadSnapshot snapshot;
    reader = NewDatabase();
    EXPECT_EQ(reader->One<int32_t>(kCount), 2);
    elsewhere("INSERT INTO Groups (GroupCode) VALUES ('Ops')");
    EXPECT_EQ(reader->One<int32_t>(kCount), 2);
    EXPECT_FALSE(reader->Connection().InTransaction());

    NewDatabase()->Execute("INSERT INTO Groups (GroupCode) VALUES ('Sec')");
    EXPECT_EQ(reader->One<int32_t>(kCount), 4);

    {
      Database::Transaction tx(*reader);
      reader->Execute("INSERT INTO Groups (GroupCode) VALUES ('Web')");
      EXPECT_TRUE(reader->Connection().InTransaction());
      tx.Commit();
    }
    EXPECT_FALSE(reader->Connection().InTransaction());
    elsewhere("INSERT INTO Groups (GroupCode) VALUES ('Net')");
    EXPECT_EQ(reader->One<int32_t>(kCount), 6);
  }
  // Ended with its scope: a connection that outlives it reads the site as it is.
  EXPECT_EQ(reader->One<int32_t>(kCount), 6);
  elsewhere("INSERT INTO Groups (GroupCode) VALUES ('Ux')");
  EXPECT_EQ(reader->One<int32_t>(kCount), 7);
}

TEST_F(DatabaseTest, ConnectionStateProperties) {
  auto db = std::make_shared<Database>();
  std::shared_ptr<automation::Object> o = db;
  EXPECT_EQ(o->Get("ConnectionString").ToString(), "");
  EXPECT_TRUE(o->Get("ActiveConnection").IsNothing());
  EXPECT_EQ(ErrorOf([&] { db->Read("select 1"); }).number, ado::err::kInvalidConnection);
  o->Put("LastErrorMessage", Variant("left over"));
  o->Put("ConnectionString", Variant(ConnectionString()));
  EXPECT_EQ(o->Get("LastErrorMessage").ToString(), "");
  auto held = o->Get("ActiveConnection").ToObject();
  EXPECT_EQ(held->Get("CursorLocation").ToLong(), ado::adUseClient);

  // Adopting a connection keeps the text that was assigned.
  auto other = Connect();
  o->PutRef("ActiveConnection", Variant(std::static_pointer_cast<automation::Object>(other)));
  EXPECT_EQ(o->Get("ConnectionString").ToString(), ConnectionString());
  EXPECT_EQ(db->GetActiveConnection(), other);
  // Nothing in place of a held connection is refused through the error protocol.
  ComError e = ErrorOf([&] { o->PutRef("ActiveConnection", Variant(std::shared_ptr<automation::Object>())); });
  EXPECT_EQ(e.number, automation::vberr::kObjectNotSet);
  EXPECT_NE(e.source.find("Database.Set_ActiveConnection"), std::string::npos);
}

TEST_F(DatabaseTest, AdoptingAConnectionClosesOnlyWhatItMay) {
  // The same string up to letter case: the held connection stays open.
  auto db = NewDatabase();
  auto mine = db->GetActiveConnection();
  auto same = std::make_shared<ado::Connection>();
  same->Open("DATA SOURCE=" + (dir / "site.db").string());
  db->SetActiveConnection(same);
  EXPECT_EQ(mine->State(), ado::adStateOpen);

  // Another database: the connection it opened itself is closed.
  testsupport::TempDir other;
  auto foreign = std::make_shared<ado::Connection>();
  foreign->Open("Data Source=" + (other / "other.db").string());
  auto db2 = NewDatabase();
  auto mine2 = db2->GetActiveConnection();
  db2->SetActiveConnection(foreign);
  EXPECT_EQ(mine2->State(), ado::adStateClosed);

  // A helper that adopted its owner's connection never closes it.
  auto owner = NewDatabase();
  auto shared = owner->GetActiveConnection();
  auto helper = std::make_shared<Database>();
  helper->SetActiveConnection(shared);
  helper->SetActiveConnection(foreign);
  EXPECT_EQ(shared->State(), ado::adStateOpen);
}

TEST_F(DatabaseTest, AHelpersEndLeavesItsOwnersTransactionAlone) {
  auto owner = NewDatabase();
  {
    Database::Transaction tx(*owner);
    owner->Execute("INSERT INTO Groups (GroupCode) VALUES ('Ops')");
    {
      auto helper = std::make_shared<Database>();
      helper->SetActiveConnection(owner->GetActiveConnection());
      helper->Execute("INSERT INTO Groups (GroupCode) VALUES ('Sec')");
    }
    EXPECT_TRUE(owner->Connection().InTransaction());
    tx.Commit();
  }
  EXPECT_EQ(Count("GroupCode IN ('Ops', 'Sec')").ToLong(), 2);
}

TEST_F(DatabaseTest, EndingADatabaseRollsItsPendingTransactionBack) {
  {
    auto db = NewDatabase();
    db->Connection().BeginTrans();
    db->Execute("INSERT INTO Groups (GroupCode) VALUES ('Ops')");
  }
  EXPECT_EQ(Count("GroupCode = 'Ops'").ToLong(), 0);
  // The write lock is gone too.
  auto c = Connect();
  c->BeginTrans();
  c->RollbackTrans();
  // Ending an object that never connected does nothing.
  { Database nothing; }
}

TEST_F(DatabaseTest, AWritersTransactionIsRolledBackWhenAnErrorLeavesIt) {
  auto db = NewDatabase();
  auto writer = [&] {
    Database::Transaction tx(*db);
    db->Execute("INSERT INTO Groups (GroupCode) VALUES ('Ops')");
    automation::RaiseRuntime(automation::vberr::kTypeMismatch);
  };
  EXPECT_EQ(ErrorOf(writer).number, automation::vberr::kTypeMismatch);
  EXPECT_FALSE(db->Connection().InTransaction());
  db->Execute("INSERT INTO Groups (GroupCode) VALUES ('Sec')");  // no half change commits with this
  EXPECT_EQ(Count("GroupCode = 'Ops'").ToLong(), 0);
  EXPECT_EQ(Count("GroupCode = 'Sec'").ToLong(), 1);
}

TEST_F(DatabaseTest, TwoWritersFromOneRead) {
  auto reader = NewDatabase();
  auto first = reader->Read("select * from Groups where GroupCode = 'Dev'");
  auto second = reader->Read("select * from Groups where GroupCode = 'Dev'");
  first->SetValue("Description", Variant("First"));
  second->SetValue("Description", Variant("Second"));
  auto a = NewDatabase();
  a->WriteBack(*first);
  auto b = NewDatabase();
  Database::Transaction tx(*b);
  b->Execute("INSERT INTO Members (UserId, GroupCode) VALUES ('ann', 'Dev')");
  auto failure = b->Trap([&] { b->WriteBack(*second); });
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->number, ado::err::kWriteConflict);
  EXPECT_TRUE(b->IsConflict());
  EXPECT_EQ(second->ActiveConnection(), nullptr);
  tx.Rollback();
  EXPECT_EQ(Count("Description = 'First'").ToLong(), 1);
  EXPECT_EQ(Connect()->Query("select count(*) from Members")->Value(size_t{0}).ToLong(), 0);
}

TEST_F(DatabaseTest, NativeErrorsReachTheWritersTrap) {
  auto db = NewDatabase();
  auto dup = db->Trap([&] { db->Execute("INSERT INTO Groups (GroupCode) VALUES ('dev')"); });
  ASSERT_TRUE(dup);
  EXPECT_EQ(db->FirstError().nativeError, 2627);
  std::shared_ptr<automation::Object> conn = db->GetActiveConnection();
  EXPECT_EQ(conn->Get("Errors").ToObject()->Get("Item", {Variant(0)}).ToObject()->Get("NativeError").ToLong(), 2627);
  EXPECT_NE(db->UnexpectedReport(*dup).find("An unexpected error has occurred."), std::string::npos);

  auto orphan = db->Trap([&] { db->Execute("INSERT INTO Members (UserId, GroupCode) VALUES ('ann', 'Nope')"); });
  ASSERT_TRUE(orphan);
  EXPECT_EQ(db->FirstError().nativeError, 547);
  EXPECT_FALSE(db->IsConflict());
}

TEST_F(DatabaseTest, AFailedOpenIsLoggedWithItsPasswordMasked) {
  auto log = eventlog::CaptureInMemory();
  auto db = std::make_shared<Database>();
  std::string cs = "Data Source=" + (dir / "missing" / "x.db").string() + ";Password=hunter2;User Id=sa";
  ComError e = ErrorOf([&] { db->SetConnectionString(cs); });
  EXPECT_NE(e.number, 0);
  EXPECT_NE(e.source.find("Database.Let_ConnectionString"), std::string::npos);
  bool logged = false;
  for (const std::string& line : log->Texts()) {
    EXPECT_EQ(line.find("hunter2"), std::string::npos) << line;
    logged = logged || line.find("ConnectionString = \"Data Source=") != std::string::npos;
    if (line.find("ConnectionString = ") != std::string::npos) {
      EXPECT_NE(line.find("Password=***;User Id=sa\""), std::string::npos) << line;
    }
  }
  EXPECT_TRUE(logged);
  EXPECT_EQ(db->GetConnectionString(), cs);
  eventlog::SetSink(nullptr);
}

TEST_F(DatabaseTest, RecordsetStringsCarryPendingChangesAndAreSigned) {
  auto db = NewDatabase();
  auto rs = db->Read("select * from Groups order by GroupCode");
  rs->SetValue("Description", Variant("Builders"));

  std::string packed = RsToString(*db, rs);
  auto back = RsFromString(*NewDatabase(), packed);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Value("Description").ToString(), "Builders");
  EXPECT_EQ(back->Field("Description").OriginalValue().ToString(), "Developers");
  EXPECT_TRUE(RecordsetHolds(*back, "groups", {"GROUPCODE"}));
  EXPECT_FALSE(RecordsetHolds(*back, "Members", {"UserId", "GroupCode"}));
  // Someone else changes the row meanwhile: the timestamp catches it.
  auto meanwhile = db->Read("select * from Groups where GroupCode = 'QA'");
  meanwhile->SetValue("Description", Variant("QA people"));
  db->WriteBack(*meanwhile);
  db->WriteBack(*back);
  EXPECT_EQ(Count("Description = 'Builders'").ToLong(), 1);

  // The escaped form holds none of the characters markup cares about.
  std::string xml = RsToXml(*db, db->Read("select * from Groups"));
  EXPECT_EQ(xml.find_first_of("\"'<>&"), std::string::npos);
  EXPECT_EQ(RsFromXml(*db, xml)->RecordCount(), 2);

  EXPECT_EQ(RsToString(*db, nullptr), "");
  EXPECT_EQ(RsFromString(*db, ""), nullptr);
  EXPECT_EQ(RsFromXml(*db, ""), nullptr);

  // Altered on the way back: refused, through the error protocol.
  std::string altered = packed;
  altered[altered.size() / 2] ^= 1;
  auto log = eventlog::CaptureInMemory();
  ComError e = ErrorOf([&] { RsFromString(*db, altered); });
  EXPECT_EQ(e.number, automation::vberr::kFail);
  EXPECT_EQ(e.description, "The recordset image is damaged or was not made by this site.");
  EXPECT_NE(e.source.find("Database.rsFromString"), std::string::npos);
  // Escapes that do not decode are damage too. Each refusal is one warning, never an error line.
  ComError x = ErrorOf([&] { RsFromXml(*db, xml.substr(0, xml.size() - 1) + "\\z"); });
  EXPECT_EQ(x.description, e.description);
  ASSERT_EQ(log->Events().size(), 2u);
  for (const auto& event : log->Events()) EXPECT_EQ(event.type, eventlog::Type::Warning) << event.text;
  EXPECT_EQ(log->Events()[1].text, "Brisquel.dll:Database.rsFromXml refused its input: " + e.description);
  eventlog::SetSink(nullptr);
  // A string made for another site is refused as well.
  testsupport::TempDir elsewhere;
  auto foreign = std::make_shared<Database>();
  foreign->SetConnectionString("Data Source=" + (elsewhere / "other.db").string());
  EXPECT_NE(ErrorOf([&] { RsFromString(*foreign, packed); }).number, 0);
}

TEST_F(DatabaseTest, RecordsetStringsByName) {
  auto db = automation::CreateObject("Brisquel.Database");
  db->Put("ConnectionString", Variant(ConnectionString()));
  auto typed = std::dynamic_pointer_cast<Database>(db);
  auto rs = typed->Read("select * from Groups where 0");
  Variant s = db->Call("rsToString", {Variant(std::static_pointer_cast<automation::Object>(rs))});
  auto back = db->Call("rsFromString", {s}).ToObject();
  EXPECT_TRUE(back->Get("EOF").ToBool());
  EXPECT_TRUE(back->Get("BOF").ToBool());
  EXPECT_TRUE(db->Call("rsFromString", {Variant("")}).IsNothing());
  EXPECT_EQ(db->Call("rsToXml", {Variant(std::shared_ptr<automation::Object>())}).ToString(), "");
}

}  // namespace
}  // namespace brisquel
