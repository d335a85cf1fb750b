#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ado_fixture.h"
#include "automation/failure_reason.h"
#include "automation/vbdate.h"

namespace adotest {
namespace {

using automation::ComError;
using automation::Variant;

TEST(ConnectionStringTest, ParsesQuotedValuesAndMasksPasswords) {
  auto items = ado::ParseConnectionString(" Data Source = /x/y.db ; Password=\"a;b\"; Mode=Read; User Id=\"a\"\"b;c\"");
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(ado::ConnectionValue(items, "data source").value(), "/x/y.db");
  EXPECT_EQ(ado::ConnectionValue(items, "PASSWORD").value(), "a;b");
  EXPECT_EQ(ado::ConnectionValue(items, "User Id").value(), "a\"b;c");
  EXPECT_FALSE(ado::ConnectionValue(items, "File name"));
  // A value written by QuoteConnectionValue reads back as it was.
  for (std::string v : {"/x/y.db", "/x/a;b.db", "/x/Pat's.db", "/x/\"Q\" 'R'; s.db"})
    EXPECT_EQ(ado::ConnectionValue(ado::ParseConnectionString("Data Source=" + ado::QuoteConnectionValue(v) + ";Mode=Read"),
                                   "Data Source"),
              v);

  const std::pair<std::string, std::string> masked[] = {
      {"Data Source=a.db;Password=\"s;e;c\";User Id=sa", "Data Source=a.db;Password=***;User Id=sa"},
      {"Data Source=a.db; pwd=secret;", "Data Source=a.db; pwd=***;"},
      {"User Password=x", "User Password=***"},
      {"no items at all", "no items at all"},
      {"Jet OLEDB:Database Password=x;Data Source=a.db", "Jet OLEDB:Database Password=***;Data Source=a.db"},
      {"Extended Properties=\"DSN=a;PWD=x;UID=u\";Data Source=a.db",
       "Extended Properties=\"DSN=a;PWD=***;UID=u\";Data Source=a.db"},
      {"A=\"B='C=1;MyPassword=x';D=2\"", "A=\"B='C=1;MyPassword=***';D=2\""},
      {"Extended Properties=PWD=x", "Extended Properties=PWD=***"},
      {"Password=\"a\"\"b;c\";Mode=Read", "Password=***;Mode=Read"},
      {"Extended Properties=\"DSN=a;PWD=\"\"x;y\"\";UID=\"\"u\"\"\"", "Extended Properties=\"DSN=a;PWD=***;UID=\"\"u\"\"\""},
  };
  for (const auto& [text, shown] : masked) EXPECT_EQ(ado::MaskConnectionString(text), shown) << text;
}

TEST_F(AdoTest, OpensWithTheSettingsEveryConnectionNeeds) {
  auto c = Open();
  EXPECT_EQ(c->State(), ado::adStateOpen);
  EXPECT_EQ(One("PRAGMA foreign_keys").ToLong(), 1);
  EXPECT_EQ(One("PRAGMA journal_mode").ToString(), "wal");
  EXPECT_EQ(One("PRAGMA synchronous").ToLong(), 2);  // FULL: a commit survives a crash
  EXPECT_EQ(c->ConnectionString(), ConnectionString() + ";Initial Catalog=site");
  EXPECT_EQ(c->DefaultDatabase(), "site");
  c->Close();
  EXPECT_EQ(c->ConnectionString(), ConnectionString());
  EXPECT_EQ(ErrorOf([&] { c->Close(); }).number, ado::err::kObjectClosed);
}

TEST_F(AdoTest, TheEngineKeepsNoMemoryStatistics) {
  // Started before this program's own code ran: its process-wide options can no longer change.
  EXPECT_EQ(sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 1), SQLITE_MISUSE);
  auto c = Open();
  One("select count(*) from Groups");
  EXPECT_EQ(sqlite3_memory_used(), 0);
}

TEST_F(AdoTest, FollowsAConnectionFileWithARelativeDataSource) {
  std::filesystem::create_directories(dir / "conf");
  testsupport::WriteFile(dir / "conf" / "site.udl", "[oledb]\r\n; comment line\r\nData Source=../site.db;Mode=ReadWrite\r\n");
  auto c = std::make_shared<ado::Connection>();
  c->Open("File name=" + (dir / "conf" / "site.udl").string());
  EXPECT_NE(c->ConnectionString().find("Initial Catalog=site"), std::string::npos);
  auto rs = c->Query("select count(*) from Groups");
  EXPECT_EQ(rs->Value(size_t{0}).ToLong(), 3);
  // The file changed at once, to the same size, is followed as it is now.
  const std::string conf = "File name=" + (dir / "conf" / "site.udl").string();
  testsupport::WriteFile(dir / "conf" / "site.udl", "Data Source=../sitf.db");
  EXPECT_EQ(ado::ResolveConnectionString(conf), "Data Source=" + (dir / "conf" / "../sitf.db").string());
  testsupport::WriteFile(dir / "conf" / "site.udl", "Data Source=../sitg.db");
  EXPECT_EQ(ado::ResolveConnectionString(conf), "Data Source=" + (dir / "conf" / "../sitg.db").string());

  // Windows tools write these files in UTF-16.
  std::string wide = "\xFF\xFE";
  for (char ch : std::string("Data Source=" + Path())) {
    wide += ch;
    wide += '\0';
  }
  testsupport::WriteFile(dir / "wide.udl", wide);
  auto w = std::make_shared<ado::Connection>();
  w->Open("File name=" + (dir / "wide.udl").string());
  EXPECT_EQ(w->DatabasePath(), Path());

  auto missing = std::make_shared<ado::Connection>();
  EXPECT_EQ(ErrorOf([&] { missing->Open("File name=" + (dir / "none.udl").string()); }).number, ado::err::kFail);
  EXPECT_EQ(ErrorOf([&] { missing->Open("Provider=SQLOLEDB"); }).number, ado::err::kFail);
  EXPECT_EQ(missing->State(), ado::adStateClosed);
}

TEST_F(AdoTest, AFileThatIsNotADatabaseIsRefused) {
  testsupport::WriteFile(dir / "junk.db", std::string(4096, 'x'));
  auto c = std::make_shared<ado::Connection>();
  ComError e = ErrorOf([&] { c->Open("Data Source=" + (dir / "junk.db").string()); });
  EXPECT_NE(e.number, 0);
  EXPECT_NE(e.description.find("junk.db"), std::string::npos);
  EXPECT_EQ(c->State(), ado::adStateClosed);
}

TEST_F(AdoTest, CloseIsRefusedInsideATransaction) {
  auto c = Open();
  EXPECT_EQ(c->BeginTrans(), 1);
  EXPECT_EQ(ErrorOf([&] { c->BeginTrans(); }).number, ado::err::kTransactionActive);
  c->ExecuteNonQuery("INSERT INTO Groups (GroupCode) VALUES ('Tmp')");
  EXPECT_EQ(ErrorOf([&] { c->Close(); }).number, ado::err::kInTransaction);
  EXPECT_EQ(c->State(), ado::adStateOpen);
  c->RollbackTrans();
  c->Close();
  EXPECT_EQ(One("select count(*) from Groups where GroupCode = 'Tmp'").ToLong(), 0);
  EXPECT_EQ(ErrorOf([&] { conn->CommitTrans(); }).number, ado::err::kNoTransaction);
}

TEST_F(AdoTest, ALostConnectionRollsItsTransactionBack) {
  {
    auto c = Open();
    c->BeginTrans();
    c->ExecuteNonQuery("INSERT INTO Groups (GroupCode) VALUES ('Lost')");
  }
  EXPECT_EQ(One("select count(*) from Groups where GroupCode = 'Lost'").ToLong(), 0);
  // And the write lock went with it.
  auto c = Open();
  c->BeginTrans();
  c->CommitTrans();
}

TEST_F(AdoTest, EngineErrorsCarryTheNativeNumbersCallersTest) {
  struct Case {
    const char* sql;
    int32_t number;
    int32_t native;
  };
  const Case cases[] = {
      {"INSERT INTO Groups (GroupCode) VALUES ('dev')", ado::err::kConstraint, 2627},  // NOCASE key
      {"INSERT INTO Items (GroupCode, Name) VALUES ('Nope', 'x')", ado::err::kConstraint, 547},
      {"INSERT INTO Items (GroupCode, Name, Quantity) VALUES ('Dev', 'x', -1)", ado::err::kConstraint, 547},
      {"INSERT INTO Items (GroupCode) VALUES ('Dev')", ado::err::kConstraint, 515},
      {"CREATE TABLE Groups (x int)", ado::err::kCommandFailed, 2714},
      {"select * from NoSuchTable", ado::err::kCommandFailed, SQLITE_ERROR},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.sql);
    ComError e = ErrorOf([&] { conn->ExecuteNonQuery(k.sql); });
    EXPECT_EQ(e.number, k.number);
    EXPECT_EQ(e.source, "SQLite");
    ASSERT_EQ(conn->ErrorList().Count(), 1);
    EXPECT_EQ(conn->ErrorList().First()->nativeError, k.native);
    EXPECT_EQ(conn->ErrorList().First()->description, e.description);
  }
  // The list starts afresh with the next statement.
  conn->ExecuteNonQuery("select 1");
  EXPECT_EQ(conn->ErrorList().Count(), 0);

  // A trigger that stands in for a named foreign key.
  conn->ExecuteNonQuery(
      "CREATE TRIGGER Plain_Check BEFORE INSERT ON Plain WHEN NEW.Code NOT IN (SELECT GroupCode FROM Groups) "
      "BEGIN SELECT RAISE(ABORT, 'FOREIGN KEY constraint failed (fk_Plain_Groups)'); END");
  ComError e = ErrorOf([&] { conn->ExecuteNonQuery("INSERT INTO Plain (Code) VALUES ('zzz')"); });
  EXPECT_EQ(e.number, ado::err::kConstraint);
  EXPECT_EQ(conn->ErrorList().First()->nativeError, 547);
  EXPECT_NE(e.description.find("fk_Plain_Groups"), std::string::npos);
}

// A write past the file size limit of the process (EFBIG) is told as a full disk (ENOSPC) is, by
// the engine and for a plain file, and the engine's write leaves nothing. In a child process,
// whose limit ends with it.
TEST_F(AdoTest, AFileThatMayGrowNoFurtherIsAFullDisk) {
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(p[0]);
    ::signal(SIGXFSZ, SIG_IGN);  // the write fails instead of killing the process
    const rlimit limit{64 << 10, 64 << 10};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(2);
    std::string out = ErrorOf([&] {
                        Open()->ExecuteNonQuery("INSERT INTO Items (GroupCode, Name, Data) VALUES ('Dev', 'big', zeroblob(262144))");
                      }).description;
    const std::string big(256 << 10, 'x');
    const int fd = ::open((dir / "plain.txt").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ssize_t n = 0;
    for (size_t done = 0; done < big.size() && (n = ::write(fd, big.data() + done, big.size() - done)) > 0;)
      done += static_cast<size_t>(n);
    out += "\n" + std::string(std::strerror(errno)) + "\n" + std::string(automation::FileFailureReason(errno));
    if (::write(p[1], out.data(), out.size()) != static_cast<ssize_t>(out.size())) ::_exit(1);
    ::_exit(0);
  }
  ::close(p[1]);
  std::string out;
  char buf[512];
  for (ssize_t n; (n = ::read(p[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  ::close(p[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(out, "The database cannot be written: the disk is full.\n" + std::string(std::strerror(EFBIG)) +
                     "\nthe disk is full");
  EXPECT_EQ(One("select count(*) from Items where Name = 'big'").ToLong(), 0);
  AddItem("Dev", "small");  // the site goes on working
  EXPECT_EQ(One("select count(*) from Items where Name = 'small'").ToLong(), 1);
}

TEST_F(AdoTest, ErrorsAreReachableByName) {
  std::shared_ptr<automation::Object> c = conn;
  EXPECT_THROW(c->Call("Execute", {Variant("INSERT INTO Groups (GroupCode) VALUES ('QA')")}), ComError);
  auto errors = c->Get("Errors").ToObject();
  EXPECT_EQ(errors->Get("Count").ToLong(), 1);
  auto first = errors->Get("Item", {Variant(0)}).ToObject();
  EXPECT_EQ(first->Get("NativeError").ToLong(), 2627);
  EXPECT_EQ(first->Get("Number").ToLong(), ado::err::kConstraint);
  EXPECT_FALSE(first->Get("Description").ToString().empty());
}

TEST_F(AdoTest, GetDateIsTheApplicationClock) {
  auto fixed = automation::MakeDate({2024, 2, 29, 13, 45, 7, 250});
  automation::SetClockForTesting(*fixed);
  EXPECT_EQ(One("select GetDate()").ToString(), "2024-02-29 13:45:07.250");
  AddItem("Dev", "clocked");
  auto rs = conn->Query("select Created from Items where Name = 'clocked'");
  EXPECT_EQ(rs->Value(size_t{0}).Type(), automation::VarType::Date);
  EXPECT_EQ(rs->Value(size_t{0}).ToDate(), *fixed);
  automation::SetClockForTesting(std::nullopt);
}

TEST_F(AdoTest, SiteSecretIsCreatedOnceAndShared) {
  std::string a = conn->SiteSecret();
  EXPECT_EQ(a.size(), 32u);
  EXPECT_EQ(Open()->SiteSecret(), a);
  // Created inside a caller's transaction it commits with it.
  testsupport::TempDir other;
  auto c = std::make_shared<ado::Connection>();
  c->Open("Data Source=" + (other / "b.db").string());
  c->BeginTrans();
  std::string b = c->SiteSecret();
  c->CommitTrans();
  EXPECT_NE(a, b);
}

int DenyDescription(void*, int action, const char*, const char* column, const char*, const char*) {
  return action == SQLITE_READ && column && std::string_view(column) == "Description" ? SQLITE_DENY : SQLITE_OK;
}

TEST_F(AdoTest, AnAuthorizerSeesEveryStatementEvenOnesReadBefore) {
  const std::string sql = "select Description from Groups";
  EXPECT_EQ(conn->Query(sql)->RecordCount(), 3);  // prepared and kept
  conn->SetAuthorizer(DenyDescription, nullptr);
  EXPECT_NE(ErrorOf([&] { conn->Query(sql); }).number, 0);
  EXPECT_EQ(conn->Query("select GroupCode from Groups")->RecordCount(), 3);
  conn->SetAuthorizer(nullptr, nullptr);
  EXPECT_EQ(conn->Query(sql)->RecordCount(), 3);
}

TEST_F(AdoTest, ConnectionIsCreatableByName) {
  auto c = automation::CreateObject("ADODB.Connection");
  c->Put("ConnectionString", Variant(ConnectionString()));
  c->Put("CursorLocation", Variant(3));
  c->Call("Open");
  EXPECT_EQ(c->Get("State").ToLong(), 1);
  Variant affected;
  std::vector<Variant> args{Variant("UPDATE Groups SET Description = 'x'"), affected};
  c->Call("Execute", args);
  EXPECT_EQ(args[1].ToLong(), 3);
  EXPECT_EQ(c->Call("BeginTrans").ToLong(), 1);
  c->Call("RollbackTrans");
  c->Call("Close");
  EXPECT_EQ(c->Get("State").ToLong(), 0);
}


// A cursor read in stretches gives the rows and values of one read of the whole statement, and
// holds one statement: a text of two is refused.
TEST_F(AdoTest, ACursorReadInStretchesGivesTheRowsOfOneRead) {
  for (int i = 0; i < 25; ++i) AddItem(i % 2 ? "Dev" : "QA", "item " + std::to_string(i), i);
  const std::string sql = "select ItemId, Name, Active, Created from Items where Quantity >= ? order by Name";
  const ado::Params params{ado::Param::Long(3)};
  ado::ResultSet whole = conn->QueryRows(sql, params);
  ASSERT_EQ(whole.rows, 22u);
  ado::RowCursor cursor(*conn, sql, params);
  ado::ResultSet all;
  for (size_t stretch : {1, 5, 10, 10}) {
    ado::ResultSet got = cursor.Next(stretch);
    ASSERT_EQ(got.meta->fields.size(), whole.meta->fields.size());
    all.cells.Append(got.cells);
    all.rows += got.rows;
  }
  EXPECT_EQ(cursor.Position(), 22u);
  EXPECT_EQ(cursor.Next(10).rows, 0u);
  ASSERT_EQ(all.rows, whole.rows);
  for (size_t i = 0; i < whole.cells.Size(); ++i) EXPECT_EQ(all.cells.Get(i), whole.cells.Get(i)) << i;
  EXPECT_NE(ErrorOf([&] { ado::RowCursor two(*conn, "select 1; select 2"); }).number, 0);
}

}  // namespace
}  // namespace adotest
