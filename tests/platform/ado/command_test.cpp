#include "ado_fixture.h"
#include "automation/vbdate.h"

namespace adotest {
namespace {

using automation::ComError;
using automation::Variant;
using automation::VarType;

std::shared_ptr<automation::Object> NewCommand(const std::shared_ptr<ado::Connection>& c, const std::string& text) {
  auto cmd = automation::CreateObject("ADODB.Command");
  cmd->PutRef("ActiveConnection", Variant(std::static_pointer_cast<automation::Object>(c)));
  cmd->Put("CommandType", Variant(1));
  cmd->Put("CommandText", Variant(text));
  return cmd;
}

void Append(const std::shared_ptr<automation::Object>& cmd, std::vector<Variant> args) {
  Variant p = cmd->Call("CreateParameter", std::move(args));
  cmd->Get("Parameters").ToObject()->Call("Append", {p});
}

TEST_F(AdoTest, ParametersOfEachTypeRoundTrip) {
  auto when = *automation::MakeDate({2023, 11, 5, 8, 30, 0, 125});
  auto cmd = NewCommand(conn,
                        "INSERT INTO Items (GroupCode, Name, Quantity, Price, Active, Created, Data) "
                        "VALUES (?, ?, ?, ?, ?, ?, ?)");
  Append(cmd, {Variant(""), Variant(200), Variant(1), Variant(20), Variant("Dev")});
  Append(cmd, {Variant(""), Variant(200), Variant(1), Variant(50), Variant("Wrench")});
  Append(cmd, {Variant(""), Variant(2), Variant(1), Variant(0), Variant::Integer(7)});
  Append(cmd, {Variant(""), Variant(5), Variant(1), Variant(0), Variant(2.5)});
  Append(cmd, {Variant(""), Variant(11), Variant(1), Variant(0), Variant(false)});
  Append(cmd, {Variant(""), Variant(135), Variant(1), Variant(0), Variant::FromDate(when)});
  Append(cmd, {Variant(""), Variant(205), Variant(1), Variant(10), Variant::Bytes({0, 1, 2, 255})});
  std::vector<Variant> args{Variant()};
  cmd->Call("Execute", args);
  EXPECT_EQ(args[0].ToLong(), 1);

  auto rs = conn->Query("select Quantity, Price, Active, Created, Data, Name from Items");
  EXPECT_EQ(rs->Value("Quantity").Type(), VarType::Long);
  EXPECT_EQ(rs->Value("Quantity").ToLong(), 7);
  EXPECT_EQ(rs->Value("Price").ToDouble(), 2.5);
  EXPECT_EQ(rs->Value("Active").Type(), VarType::Boolean);
  EXPECT_FALSE(rs->Value("Active").ToBool());
  EXPECT_EQ(rs->Value("Created").ToDate(), when);
  EXPECT_EQ(rs->Value("Data").ToBytes(), (std::vector<uint8_t>{0, 1, 2, 255}));
  EXPECT_EQ(rs->Info(5).type, ado::adVarChar);
  EXPECT_EQ(rs->Info(5).definedSize, 50);
  EXPECT_EQ(One("select Created from Items").Type(), VarType::Date);
  auto raw = conn->Query("select CAST(Created AS TEXT) AS t, typeof(Active) AS k from Items");
  EXPECT_EQ(raw->Value("t").ToString(), "2023-11-05 08:30:00.125");
  EXPECT_EQ(raw->Value("k").ToString(), "integer");
}

TEST_F(AdoTest, ATooLongValueIsAnErrorNeverCut) {
  auto cmd = NewCommand(conn, "INSERT INTO Groups (GroupCode, Description) VALUES (?, ?)");
  Append(cmd, {Variant("code"), Variant(200), Variant(1), Variant(20), Variant("Long")});
  Append(cmd, {Variant("desc"), Variant(200), Variant(1), Variant(5), Variant("123456")});
  ComError e = ErrorOf([&] { cmd->Call("Execute"); });
  EXPECT_EQ(e.number, ado::err::kDataOverflow);
  EXPECT_NE(e.description.find("desc"), std::string::npos);
  EXPECT_EQ(conn->ErrorList().First()->nativeError, 8152);
  EXPECT_EQ(One("select count(*) from Groups where GroupCode = 'Long'").ToLong(), 0);

  // Sizes count characters: five two-byte letters fit in five.
  cmd->Get("Parameters", {Variant("desc")}).ToObject()->Put("Value", Variant("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"));
  cmd->Call("Execute");
  EXPECT_EQ(One("select Description from Groups where GroupCode = 'Long'").ToString(),
            "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9");
  auto blob = NewCommand(conn, "UPDATE Items SET Data = ?");
  Append(blob, {Variant(""), Variant(205), Variant(1), Variant(2), Variant::Bytes({1, 2, 3})});
  EXPECT_EQ(ErrorOf([&] { blob->Call("Execute"); }).number, ado::err::kDataOverflow);
}

TEST_F(AdoTest, AValueOfTheWrongTypeIsRefused) {
  auto cmd = NewCommand(conn, "select * from Items where ItemId = ?");
  Append(cmd, {Variant(""), Variant(3), Variant(1), Variant(4), Variant("seven")});
  EXPECT_EQ(ErrorOf([&] { cmd->Call("Execute"); }).number, ado::err::kDataConversion);
  auto missing = NewCommand(conn, "select * from Items where ItemId = ? and Name = ?");
  Append(missing, {Variant(""), Variant(3), Variant(1), Variant(4), Variant(1)});
  EXPECT_EQ(ErrorOf([&] { missing->Call("Execute"); }).number, static_cast<int32_t>(0x80040E10));
}

TEST_F(AdoTest, BatchesRunStatementByStatementAndReturnTheLastRows) {
  auto cmd = NewCommand(conn,
                        "set nocount on; insert into Items (GroupCode, Name) values (?, ?); "
                        "select @@identity as ItemId");
  Append(cmd, {Variant("GroupCode"), Variant(200), Variant(1), Variant(20), Variant("QA")});
  Append(cmd, {Variant("Name"), Variant(200), Variant(1), Variant(50), Variant("first")});
  auto rs = cmd->Call("Execute").ToObject();
  EXPECT_EQ(rs->Get("Fields", {Variant("ItemId")}).ToObject()->Get("Value").ToLong(), 1);

  // Reused with new values, set by name.
  auto params = cmd->Get("Parameters").ToObject();
  params->Get("Item", {Variant("name")}).ToObject()->Put("Value", Variant("second"));
  rs = cmd->Call("Execute").ToObject();
  EXPECT_EQ(rs->Get("Fields", {Variant(0)}).ToObject()->Get("Value").ToLong(), 2);
  EXPECT_EQ(One("select group_concat(Name, ',') from Items").ToString(), "first,second");

  // A statement that reads a table created earlier in the same text.
  ado::Command typed;
  typed.SetActiveConnection(conn);
  typed.SetCommandText("create table T2 (a int); insert into T2 values (5); select a from T2; select a * 2 as b from T2");
  auto last = typed.Execute();
  EXPECT_EQ(last->Info(0).name, "b");
  EXPECT_EQ(last->Value(size_t{0}).ToLong(), 10);
  // "@@identity" inside a string is text, not the identity.
  EXPECT_EQ(One("select '@@identity'").ToString(), "@@identity");
}

TEST_F(AdoTest, NamedPlaceholdersTakeTheParameterOfThatName) {
  conn->ExecuteNonQuery("INSERT INTO Items (GroupCode, Name) VALUES (:g, :n)",
                        {ado::Param::Text("shelf", 50, "n"), ado::Param::Text("Ops", 20, "g")});
  EXPECT_EQ(One("select GroupCode from Items where Name = 'shelf'").ToString(), "Ops");
}

TEST_F(AdoTest, ExecuteReturnsAClosedRecordsetForStatementsWithoutRows) {
  Variant n;
  auto rs = conn->Execute("UPDATE Groups SET Description = 'd' WHERE GroupCode IN ('Dev', 'QA')", n);
  EXPECT_EQ(n.ToLong(), 2);
  EXPECT_EQ(rs->State(), ado::adStateClosed);
  auto read = conn->Execute("select * from Groups", n);
  EXPECT_EQ(read->State(), ado::adStateOpen);
  EXPECT_EQ(read->LockType(), ado::adLockReadOnly);
  EXPECT_EQ(ErrorOf([&] { read->SetValue("Description", Variant("x")); }).number, ado::err::kNotSupported);
}

}  // namespace
}  // namespace adotest
