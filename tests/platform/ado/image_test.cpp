#include "ado_fixture.h"
#include "automation/vbdate.h"

namespace adotest {
namespace {

using automation::ComError;
using automation::Variant;

constexpr std::string_view kKey = "0123456789abcdef0123456789abcdef";

class ImageTest : public AdoTest {
 protected:
  std::shared_ptr<ado::Recordset> Read(const std::string& sql) {
    auto rs = conn->Query(sql, {}, ado::adLockBatchOptimistic);
    rs->SetUpdateCriteria(ado::adCriteriaTimeStamp);
    rs->SetActiveConnection(nullptr);
    return rs;
  }
};

TEST_F(ImageTest, PendingChangesSurviveTheImageAndAreWrittenWithTheirVersion) {
  AddItem("Dev", "Alpha", 3);
  AddItem("Dev", "Beta", 4);
  AddItem("QA", "Gamma", 5);
  auto rs = Read("select * from Items order by ItemId");
  rs->SetValue("Quantity", Variant(30));               // modified
  rs->MoveNext();
  rs->Delete();                                        // deleted
  rs->AddNew();                                        // new
  rs->SetValue("GroupCode", Variant("Ops"));
  rs->SetValue("Name", Variant("Delta"));
  rs->SetValue("Created", Variant::FromDate(*automation::MakeDate({2020, 1, 2, 3, 4, 5, 6})));
  rs->SetValue("Data", Variant::Bytes({0, 10, 255}));
  rs->Update();

  std::vector<uint8_t> image = rs->SaveImage(kKey);
  auto back = ado::Recordset::OpenImage(image, kKey);
  EXPECT_EQ(back->ActiveConnection(), nullptr);
  EXPECT_EQ(back->RecordCount(), 3);
  EXPECT_EQ(back->LockType(), ado::adLockBatchOptimistic);
  EXPECT_EQ(back->UpdateCriteria(), ado::adCriteriaTimeStamp);
  EXPECT_EQ(back->Value("Name").ToString(), "Alpha");  // on its first row
  EXPECT_EQ(back->Value("Quantity").ToLong(), 30);
  EXPECT_EQ(back->Field("Quantity").OriginalValue().ToLong(), 3);
  EXPECT_EQ(back->Status(), ado::adRecModified);
  EXPECT_TRUE(back->Info(0).key);
  EXPECT_TRUE(back->Info(back->FieldIndex("LastUpdated")).rowVersion);
  back->MoveLast();
  EXPECT_EQ(back->Status(), ado::adRecNew);
  EXPECT_EQ(back->Value("Data").ToBytes(), (std::vector<uint8_t>{0, 10, 255}));
  // Saved again, the same image.
  EXPECT_EQ(back->SaveImage(kKey), image);

  back->SetActiveConnection(conn);
  back->UpdateBatch();
  EXPECT_EQ(One("select group_concat(Name || ':' || Quantity, ',') from Items").ToString(),
            "Alpha:30,Gamma:5,Delta:0");
  EXPECT_EQ(One("select CAST(Created AS TEXT) from Items where Name = 'Delta'").ToString(), "2020-01-02 03:04:05.006");

  // An image of the state before that write is stale now.
  auto stale = ado::Recordset::OpenImage(image, kKey);
  stale->SetActiveConnection(conn);
  EXPECT_EQ(ErrorOf([&] { stale->UpdateBatch(); }).number, ado::err::kWriteConflict);
}

TEST_F(ImageTest, AnEmptyRecordsetComesBackEmpty) {
  auto back = ado::Recordset::OpenImage(Read("select * from Items")->SaveImage(kKey), kKey);
  EXPECT_TRUE(back->IsBOF());
  EXPECT_TRUE(back->IsEOF());
  EXPECT_EQ(back->FieldCount(), 10u);
}

TEST_F(ImageTest, DamagedForgedOrForeignImagesAreRefused) {
  AddItem("Dev", "Alpha", 3);
  std::vector<uint8_t> image = Read("select * from Items")->SaveImage(kKey);
  auto refused = [&](const std::vector<uint8_t>& bytes, std::string_view key = kKey) {
    return ErrorOf([&] { ado::Recordset::OpenImage(bytes, key); });
  };
  EXPECT_EQ(refused(image, "another site's secret").number, ado::err::kFail);
  EXPECT_NE(refused(image, "another site's secret").description.find("damaged"), std::string::npos);
  for (size_t at : {size_t{10}, image.size() / 2, image.size() - 1}) {
    auto flipped = image;
    flipped[at] ^= 0x20;
    EXPECT_EQ(refused(flipped).number, ado::err::kFail) << at;
  }
  auto cut = image;
  cut.resize(image.size() - 5);
  EXPECT_EQ(refused(cut).number, ado::err::kFail);
  EXPECT_NE(refused({}).description.find("not a recordset image"), std::string::npos);
  auto other = image;
  other[4] = 9;
  EXPECT_NE(refused(other).description.find("another version"), std::string::npos);
  EXPECT_EQ(refused(image, "").number, ado::err::kFail);
}

TEST_F(ImageTest, ThroughAStreamByName) {
  AddItem("Dev", "Alpha", 3);
  auto rs = conn->Query("select * from Items", {}, ado::adLockBatchOptimistic);  // still attached
  auto stream = automation::CreateObject("ADODB.Stream");
  stream->Call("Open");
  stream->Put("Type", Variant(1));
  std::shared_ptr<automation::Object> o = rs;
  o->Call("Save", {Variant(stream), Variant(0)});
  stream->Put("Position", Variant(0));
  Variant bytes = stream->Call("Read", {Variant(-1)});
  EXPECT_EQ(bytes.ToBytes(), rs->SaveImage(conn->SiteSecret()));

  stream->Put("Position", Variant(0));
  auto back = automation::CreateObject("ADODB.Recordset");
  back->Call("Open", {Variant(stream), Variant(std::static_pointer_cast<automation::Object>(conn)), Variant(-1),
                      Variant(-1), Variant(256)});
  EXPECT_EQ(back->Get("Fields", {Variant("Name")}).ToObject()->Get("Value").ToString(), "Alpha");

  // Detached and without a key there is no secret to sign with.
  rs->SetActiveConnection(nullptr);
  auto s2 = automation::CreateObject("ADODB.Stream");
  s2->Call("Open");
  s2->Put("Type", Variant(1));
  EXPECT_EQ(ErrorOf([&] { o->Call("Save", {Variant(s2), Variant(0)}); }).number, ado::err::kInvalidConnection);
}

// A text stream reads characters, not bytes: a read never cuts a character in two.
TEST(StreamText, ReadTextCountsCharacters) {
  ado::Stream s;
  s.Open(Variant::Missing(), 0, -1, "", "");
  s.WriteText("a\xC3\xA9\xE2\x98\x83" "b");  // a, e acute, snowman, b
  s.SetPosition(0);
  const std::vector<std::pair<int32_t, std::string>> reads = {
      {0, ""}, {1, "a"}, {2, "\xC3\xA9\xE2\x98\x83"}, {-1, "b"}, {3, ""}};
  for (const auto& [chars, text] : reads) EXPECT_EQ(s.ReadText(chars), text) << chars;
  EXPECT_TRUE(s.EOS());
}

}  // namespace
}  // namespace adotest
