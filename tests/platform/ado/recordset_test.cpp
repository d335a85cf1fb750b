#include "ado_fixture.h"

#include <functional>

namespace adotest {
namespace {

using automation::ComError;
using automation::Variant;

TEST_F(AdoTest, NavigationAndBookmarks) {
  auto empty = conn->Query("select * from Items");
  EXPECT_TRUE(empty->IsBOF());
  EXPECT_TRUE(empty->IsEOF());
  EXPECT_EQ(empty->RecordCount(), 0);
  EXPECT_EQ(ErrorOf([&] { empty->MoveFirst(); }).number, ado::err::kNoCurrentRecord);
  EXPECT_EQ(ErrorOf([&] { empty->Value("Name"); }).number, ado::err::kNoCurrentRecord);

  auto rs = conn->Query("select GroupCode from Groups order by GroupCode");
  EXPECT_FALSE(rs->IsBOF());
  EXPECT_EQ(rs->Value(size_t{0}).ToString(), "Dev");
  Variant mark = rs->Bookmark();
  rs->MoveLast();
  EXPECT_EQ(rs->Value(size_t{0}).ToString(), "QA");
  rs->MoveNext();
  EXPECT_TRUE(rs->IsEOF());
  EXPECT_EQ(ErrorOf([&] { rs->MoveNext(); }).number, ado::err::kNoCurrentRecord);
  rs->MovePrevious();
  rs->SetBookmark(mark);
  EXPECT_EQ(rs->Value(size_t{0}).ToString(), "Dev");
  rs->MovePrevious();
  EXPECT_TRUE(rs->IsBOF());
  EXPECT_FALSE(rs->IsEOF());
  EXPECT_EQ(ErrorOf([&] { rs->SetBookmark(Variant(99.0)); }).number, ado::err::kBadBookmark);
  rs->Move(2, Variant::Missing());
  EXPECT_EQ(rs->Value(size_t{0}).ToString(), "Ops");
}

TEST_F(AdoTest, Paging) {
  for (int i = 1; i <= 25; ++i) AddItem("Dev", "item" + std::to_string(i));
  auto rs = conn->Query("select ItemId from Items order by ItemId");
  EXPECT_EQ(rs->PageSize(), 10);
  EXPECT_EQ(rs->PageCount(), 3);
  rs->SetAbsolutePage(3);
  EXPECT_EQ(rs->AbsolutePosition(), 21);
  EXPECT_EQ(rs->Value(size_t{0}).ToLong(), 21);
  EXPECT_EQ(rs->AbsolutePage(), 3);
  rs->SetPageSize(5);
  EXPECT_EQ(rs->PageCount(), 5);
  EXPECT_EQ(rs->AbsolutePage(), 5);
  EXPECT_EQ(ErrorOf([&] { rs->SetAbsolutePage(6); }).number, ado::err::kInvalidArgument);
  rs->MoveLast();
  rs->MoveNext();
  EXPECT_EQ(rs->AbsolutePage(), ado::adPosEOF);
  EXPECT_EQ(conn->Query("select * from Items where 0")->PageCount(), 0);
}

TEST_F(AdoTest, FindMatchesInMemoryWithoutRegardToCase) {
  AddItem("Dev", "Alpha", 3);
  AddItem("QA", "Beta", 5);
  AddItem("Dev", "O'Brien", 7);
  AddItem("Ops", "Gamma", 9);
  auto rs = conn->Query("select * from Items order by ItemId");
  rs->Find("GroupCode = 'qa'");
  EXPECT_EQ(rs->Value("Name").ToString(), "Beta");
  rs->Find("GroupCode = 'DEV'");  // from the current row, forward
  EXPECT_EQ(rs->Value("Name").ToString(), "O'Brien");
  rs->Find("Name = 'o''brien'");
  EXPECT_EQ(rs->Value("Quantity").ToLong(), 7);
  rs->Find("GroupCode = 'dev'", 1);  // skips the current row
  EXPECT_TRUE(rs->IsEOF());
  rs->MoveLast();
  rs->Find("Quantity < 6", 0, ado::adSearchBackward);
  EXPECT_EQ(rs->Value("Name").ToString(), "Beta");
  rs->MoveFirst();
  rs->Find("Name LIKE 'g%'");
  EXPECT_EQ(rs->Value("Name").ToString(), "Gamma");
  rs->MoveFirst();
  rs->Find("[Price] = Null");
  EXPECT_EQ(rs->Value("Name").ToString(), "Alpha");
  // The criterion is a comparison, not SQL: nothing of it is executed.
  rs->MoveFirst();
  rs->Find("GroupCode = 'x'' or ''1''=''1'");
  EXPECT_TRUE(rs->IsEOF());
  for (const char* bad : {"GroupCode", "GroupCode = x", "GroupCode = 'a' AND Name = 'b'", "= 'a'", "Name = 'open"}) {
    SCOPED_TRACE(bad);
    rs->MoveFirst();
    EXPECT_EQ(ErrorOf([&] { rs->Find(bad); }).number, ado::err::kInvalidArgument);
  }
  EXPECT_EQ(ErrorOf([&] { rs->Find("Nope = 1"); }).number, ado::err::kItemNotFound);
}

TEST_F(AdoTest, FieldsDescribeTheirColumns) {
  AddItem("Dev", "Alpha");
  auto rs = conn->Query("select i.ItemId, i.Name, i.Notes, i.LastUpdated, g.Description, i.Quantity * 2 AS Twice "
                        "from Items i join Groups g on g.GroupCode = i.GroupCode");
  EXPECT_EQ(rs->FieldIndex("itemid"), 0u);
  EXPECT_EQ(rs->Field("NAME").Value().ToString(), "Alpha");
  const ado::FieldInfo& id = rs->Info(0);
  EXPECT_TRUE(id.key);
  EXPECT_TRUE(id.autoIncrement);
  EXPECT_TRUE(id.attributes & ado::adFldKeyColumn);
  EXPECT_EQ(id.baseTable, "Items");
  EXPECT_EQ(rs->Info(2).type, ado::adLongVarChar);
  EXPECT_TRUE(rs->Info(3).rowVersion);
  EXPECT_EQ(rs->Info(4).baseTable, "Groups");
  EXPECT_EQ(rs->Info(4).definedSize, 50);
  EXPECT_TRUE(rs->Info(5).baseTable.empty());
  EXPECT_EQ(rs->Info(5).type, ado::adInteger);
  EXPECT_EQ(ErrorOf([&] { rs->Field("Missing"); }).number, ado::err::kItemNotFound);
  EXPECT_EQ(rs->BaseTables(), (std::vector<std::string>{"Items", "Groups"}));
  EXPECT_EQ(rs->KeyColumns("items"), (std::vector<std::string>{"ItemId"}));

  // By name, through Fields and Field.
  std::shared_ptr<automation::Object> o = rs;
  auto f = o->Get("Fields", {Variant("name")}).ToObject();
  EXPECT_EQ(f->Get("Name").ToString(), "Name");
  EXPECT_EQ(f->Get("Type").ToLong(), ado::adVarChar);
  EXPECT_EQ(f->Get("DefinedSize").ToLong(), 50);
  EXPECT_EQ(o->Get("Fields").ToObject()->Get("Count").ToLong(), 6);
  EXPECT_EQ(o->Get("", {Variant("Description")}).ToObject()->Get("Value").ToString(), "Developers");
}

TEST_F(AdoTest, EditingKeepsTheValuesAsRead) {
  AddItem("Dev", "Alpha", 3);
  auto rs = conn->Query("select * from Items", {}, ado::adLockBatchOptimistic);
  rs->SetValue("Quantity", Variant("12"));  // converted to the field's type
  EXPECT_EQ(rs->Value("Quantity").Type(), automation::VarType::Long);
  EXPECT_EQ(rs->Field("Quantity").OriginalValue().ToLong(), 3);
  EXPECT_EQ(rs->Field("Quantity").Status(), ado::adFieldPendingChange);
  EXPECT_EQ(rs->Status(), ado::adRecModified);
  EXPECT_EQ(rs->EditMode(), ado::adEditInProgress);
  rs->CancelUpdate();
  EXPECT_EQ(rs->Value("Quantity").ToLong(), 3);
  EXPECT_EQ(rs->Status(), ado::adRecUnmodified);

  ComError tooLong = ErrorOf([&] { rs->SetValue("Name", Variant(std::string(51, 'n'))); });
  EXPECT_EQ(tooLong.number, ado::err::kMultipleStep);
  EXPECT_EQ(rs->Value("Name").ToString(), "Alpha");
  EXPECT_EQ(ErrorOf([&] { rs->SetValue("Quantity", Variant("many")); }).number, ado::err::kMultipleStep);
  rs->SetValue("Name", Variant(std::string(50, 'n')));
  rs->Update();
  EXPECT_EQ(rs->EditMode(), ado::adEditNone);
  EXPECT_EQ(rs->Status(), ado::adRecModified);
  rs->CancelBatch();
  EXPECT_EQ(rs->Value("Name").ToString(), "Alpha");
}

TEST_F(AdoTest, ARecordsetBuiltInMemory) {
  auto rs = std::static_pointer_cast<automation::Object>(automation::CreateObject("ADODB.Recordset"));
  auto fields = rs->Get("Fields").ToObject();
  fields->Call("Append", {Variant("FilterName"), Variant(200), Variant(52)});
  fields->Call("Append", {Variant("FilterId"), Variant(200), Variant(52)});
  EXPECT_EQ(ErrorOf([&] { fields->Call("Append", {Variant("filterid"), Variant(3)}); }).number, 3367);
  rs->Call("Open");
  EXPECT_TRUE(rs->Get("BOF").ToBool());
  EXPECT_TRUE(rs->Get("EOF").ToBool());
  auto names = Variant(std::vector<Variant>{Variant("FilterName"), Variant("FilterId")});
  rs->Call("AddNew", {names, Variant(std::vector<Variant>{Variant("Assigned to me"), Variant("s:ann")})});
  rs->Call("AddNew", {names, Variant(std::vector<Variant>{Variant("All issues"), Variant("s:all")})});
  // Positioned on the row appended last; a reader moves to the first.
  EXPECT_EQ(rs->Get("Fields", {Variant("FilterId")}).ToObject()->Get("Value").ToString(), "s:all");
  EXPECT_EQ(rs->Get("RecordCount").ToLong(), 2);
  EXPECT_EQ(rs->Get("EditMode").ToLong(), ado::adEditNone);
  rs->Call("MoveFirst");
  EXPECT_EQ(rs->Get("Fields", {Variant(0)}).ToObject()->Get("Value").ToString(), "Assigned to me");
  EXPECT_EQ(ErrorOf([&] {
              rs->Call("AddNew", {names, Variant(std::vector<Variant>{Variant(std::string(53, 'x')), Variant("u:")})});
            }).number,
            ado::err::kMultipleStep);
  EXPECT_EQ(rs->Get("RecordCount").ToLong(), 2);  // the refused row is not kept
  EXPECT_EQ(ErrorOf([&] { rs->Call("UpdateBatch"); }).number, ado::err::kInvalidConnection);

  auto typed = std::make_shared<ado::Recordset>();
  typed->AppendField("Date", ado::adDBTimeStamp, 0, 0);
  typed->AppendField("NumIssues", ado::adInteger, 0, 0);
  typed->Open(Variant::Missing(), Variant::Missing(), -1, -1, -1);
  typed->AddNew();
  typed->SetValue("Date", Variant("2024-03-01"));
  typed->SetValue("NumIssues", Variant(4.0));
  typed->Update();
  EXPECT_EQ(typed->Value("Date").Type(), automation::VarType::Date);
  EXPECT_EQ(typed->Value("NumIssues").Type(), automation::VarType::Long);
  typed->Delete();
  EXPECT_EQ(typed->RecordCount(), 0);
}

TEST_F(AdoTest, RecordsetOpensFromACommandByName) {
  AddItem("Dev", "Alpha");
  auto cmd = automation::CreateObject("ADODB.Command");
  cmd->PutRef("ActiveConnection", Variant(std::static_pointer_cast<automation::Object>(conn)));
  cmd->Put("CommandText", Variant("select * from Items where GroupCode = ?"));
  Variant p = cmd->Call("CreateParameter", {Variant(""), Variant(200), Variant(1), Variant(20), Variant("dev")});
  cmd->Get("Parameters").ToObject()->Call("Append", {p});
  auto rs = automation::CreateObject("ADODB.Recordset");
  rs->Call("Open", {Variant(cmd), Variant::Missing(), Variant(-1), Variant(4), Variant(-1)});
  rs->Get("Properties", {Variant("Update Criteria")}).ToObject()->Put("Value", Variant(3));
  rs->PutRef("ActiveConnection", Variant(std::shared_ptr<automation::Object>()));
  EXPECT_TRUE(rs->Get("ActiveConnection").IsNothing());
  EXPECT_EQ(rs->Get("LockType").ToLong(), 4);
  EXPECT_EQ(rs->Get("Properties", {Variant("update criteria")}).ToObject()->Get("Value").ToLong(), 3);
  EXPECT_EQ(rs->Get("RecordCount").ToLong(), 1);
  EXPECT_EQ(ErrorOf([&] { rs->Get("Properties", {Variant("Nonsense")}); }).number, ado::err::kItemNotFound);
  rs->Call("Close");
  EXPECT_EQ(rs->Get("State").ToLong(), 0);
  EXPECT_EQ(ErrorOf([&] { rs->Get("EOF"); }).number, ado::err::kObjectClosed);
}

TEST_F(AdoTest, SupportsAnswersWhatTheCursorCanDo) {
  using namespace ado;
  const int32_t always = adHoldRecords | adMovePrevious | adBookmark | adApproxPosition | adFind;
  struct Case {
    int32_t lockType;
    int32_t options;
    bool supported;
  };
  const std::vector<Case> cases = {
      {adLockReadOnly, always, true},        {adLockReadOnly, adAddNew, false},
      {adLockReadOnly, adUpdate, false},     {adLockReadOnly, adUpdateBatch, false},
      {adLockOptimistic, adDelete, true},    {adLockOptimistic, adUpdateBatch, false},
      {adLockBatchOptimistic, adUpdateBatch | adAddNew | adDelete | adUpdate, true},
      {adLockBatchOptimistic, adResync, false}, {adLockBatchOptimistic, adSeek | adIndex, false},
      {adLockBatchOptimistic, adNotify, false}, {adLockBatchOptimistic, adFind | adNotify, false},
  };
  for (const Case& c : cases) {
    auto rs = conn->Query("select * from Items", {}, c.lockType);
    EXPECT_EQ(rs->Supports(c.options), c.supported) << c.lockType << " " << std::hex << c.options;
  }
  // By name, as pages ask.
  auto rs = conn->Query("select * from Items");
  EXPECT_FALSE(rs->Call("Supports", {Variant(adUpdateBatch)}).ToBool());
  EXPECT_TRUE(rs->Call("Supports", {Variant(adMovePrevious)}).ToBool());
}

}  // namespace
}  // namespace adotest

namespace adotest {
namespace {

constexpr size_t kMillion = 1000000;

// A list of a million numbered rows made by the engine, read a stretch at a time as the recordset
// asks; counts the rows asked for.
class NumberRows : public ado::RowSource {
 public:
  explicit NumberRows(std::shared_ptr<ado::Connection> c) : c_(std::move(c)) {}
  ado::ResultSet Fetch(size_t first, size_t count) override {
    asked += count;
    return Rows(first, count);
  }
  ado::ResultSet Rows(size_t first, size_t count) {
    return c_->QueryRows(
        "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 1000000) "
        "SELECT x AS Number, 'row ' || x AS Label FROM n LIMIT ? OFFSET ?",
        {ado::Param::Long(static_cast<int32_t>(count)), ado::Param::Long(static_cast<int32_t>(first))});
  }
  size_t asked = 0;

 private:
  std::shared_ptr<ado::Connection> c_;
};

std::shared_ptr<ado::Recordset> MillionRows(const std::shared_ptr<NumberRows>& rows) {
  auto rs = std::make_shared<ado::Recordset>();
  rs->OpenPaged(rows->Rows(0, 0), kMillion, rows, ado::adLockBatchOptimistic);
  return rs;
}

TEST_F(AdoTest, ALongPagedListReadsOnlyTheRowsReached) {
  auto rows = std::make_shared<NumberRows>(conn);
  auto rs = MillionRows(rows);
  EXPECT_EQ(rs->RecordCount(), 1000000);
  EXPECT_EQ(rs->PageCount(), 100000);
  Variant mark;
  struct Step {
    const char* what;
    std::function<void()> move;
    int32_t number, position;
  };
  const Step steps[] = {
      {"first row", [&] {}, 1, 1},
      {"last page", [&] { rs->SetAbsolutePage(100000); }, 999991, 999991},
      {"last row", [&] { rs->MoveLast(); }, 1000000, 1000000},
      {"back 25", [&] { rs->Move(-25, Variant::Missing()); }, 999975, 999975},
      {"middle", [&] { rs->SetAbsolutePosition(500000); mark = rs->Bookmark(); }, 500000, 500000},
      {"on from the middle", [&] { rs->MoveNext(); }, 500001, 500001},
      {"first", [&] { rs->MoveFirst(); }, 1, 1},
      {"bookmark", [&] { rs->SetBookmark(mark); }, 500000, 500000},
      {"previous", [&] { rs->MovePrevious(); }, 499999, 499999},
  };
  for (const Step& s : steps) {
    s.move();
    EXPECT_EQ(rs->Value("Number").ToLong(), s.number) << s.what;
    EXPECT_EQ(rs->Text("Label"), "row " + std::to_string(s.number)) << s.what;
    EXPECT_EQ(rs->AbsolutePosition(), s.position) << s.what;
    EXPECT_EQ(rs->AbsolutePage(), (s.position - 1) / 10 + 1) << s.what;
  }
  // Each row reached was read with its page (five pages), or with the stretch after the rows
  // read before it; never the rows between.
  EXPECT_EQ(rows->asked, 50u);
  rs->MoveLast();
  rs->MoveNext();
  EXPECT_TRUE(rs->IsEOF());
  EXPECT_EQ(rs->RecordCount(), 1000000);
}

TEST_F(AdoTest, ALongPagedListKeepsItsChangesAmongUnreadRows) {
  auto rows = std::make_shared<NumberRows>(conn);
  auto rs = MillionRows(rows);
  // A change far down the list, a row deleted near the top and a row added after the last.
  rs->SetAbsolutePosition(700000);
  rs->SetValue("Label", Variant("changed"));
  rs->Update();
  rs->SetAbsolutePosition(21);
  rs->Delete();
  EXPECT_EQ(rs->AbsolutePosition(), ado::adPosUnknown);
  rs->MoveNext();
  EXPECT_EQ(rs->Value("Number").ToLong(), 22);
  EXPECT_EQ(rs->AbsolutePosition(), 21);
  rs->AddNew();
  rs->SetValue("Number", Variant(int32_t{0}));
  rs->Update();
  EXPECT_EQ(rs->RecordCount(), 1000000);
  rs->MoveLast();
  EXPECT_EQ(rs->Value("Number").ToLong(), 0);
  rs->SetAbsolutePosition(699999);
  EXPECT_EQ(rs->Value("Number").ToLong(), 700000);
  EXPECT_EQ(rs->Text("Label"), "changed");
  EXPECT_EQ(rs->Status(), ado::adRecModified);

  rs->CancelBatch();
  EXPECT_EQ(rs->RecordCount(), 1000000);
  rs->SetAbsolutePosition(700000);
  EXPECT_EQ(rs->Text("Label"), "row 700000");
  EXPECT_EQ(rs->Status(), ado::adRecUnmodified);
  rs->SetAbsolutePosition(21);
  EXPECT_EQ(rs->Value("Number").ToLong(), 21);
  rs->MoveLast();
  EXPECT_EQ(rs->Value("Number").ToLong(), 1000000);
}

// A walk of some fields to the end, over a source that reads whole rows only: the rows held, the
// rows not read yet and the changes among them, as moving row by row gives them.
TEST_F(AdoTest, AWalkOfSomeFieldsGivesTheListWithItsChanges) {
  auto rows = std::make_shared<NumberRows>(conn);
  auto rs = std::make_shared<ado::Recordset>();
  rs->OpenPaged(rows->Rows(0, 0), 3000, rows, ado::adLockBatchOptimistic);
  rs->SetAbsolutePosition(2000);
  rs->SetValue("Label", Variant("changed"));
  rs->Update();
  rs->SetAbsolutePosition(21);
  rs->Delete();
  rs->AddNew();
  rs->SetValue("Number", Variant(int32_t{0}));
  rs->Update();
  rs->SetAbsolutePosition(15);
  std::vector<std::string> walked;
  rs->ReadRest({rs->FieldIndex("Label"), rs->FieldIndex("Number")}, [&](const std::vector<Variant>& values) {
    walked.push_back(values[0].ToText() + "/" + values[1].ToText());
  });
  std::vector<std::string> expected;
  for (int n = 15; n <= 3000; ++n)
    if (n != 21) expected.push_back((n == 2000 ? std::string("changed") : "row " + std::to_string(n)) + "/" +
                                    std::to_string(n));
  expected.push_back("/0");
  EXPECT_EQ(walked, expected);
  EXPECT_TRUE(rs->IsEOF());
  EXPECT_THROW(rs->ReadRest({2}, [](const std::vector<Variant>&) {}), automation::ComError);
}

}  // namespace
}  // namespace adotest
