#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ado/ado.h"
#include "automation/automation.h"
#include "core/database.h"
#include "core/lookups.h"
#include "support/site_db.h"

namespace brisquel {
namespace {

using automation::ComError;
using automation::Variant;

std::vector<std::string> Column(ado::Recordset& rs, std::string_view name) {
  std::vector<std::string> values;
  if (rs.IsEOF() && rs.IsBOF()) return values;
  for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
    Variant v = rs.Value(name);
    values.push_back(v.IsNull() ? "<null>" : v.ToString());
  }
  return values;
}

std::vector<std::string> FieldNames(ado::Recordset& rs) {
  std::vector<std::string> names;
  for (size_t i = 0; i < rs.FieldCount(); ++i) names.push_back(rs.Info(i).name);
  return names;
}

class IssueLookupsTest : public ::testing::Test {
 protected:
  std::filesystem::path file = sitedb::FreshSite(true);
  sitedb::Db seed{file};
  std::shared_ptr<Database> db = sitedb::Open(file);
};

TEST_F(IssueLookupsTest, TheIssueRowComesBackDetachedAndWritable) {
  auto rs = GetIssueRs(*db, 3);
  ASSERT_FALSE(rs->IsEOF());
  EXPECT_EQ(rs->Value("Summary").ToString(), "Typo in the installation guide: \"databse\"");
  EXPECT_EQ(rs->Value("ResolutionCode").ToString(), "Fixed");
  EXPECT_EQ(rs->ActiveConnection(), nullptr);
  EXPECT_EQ(rs->LockType(), ado::adLockBatchOptimistic);
  EXPECT_EQ(rs->UpdateCriteria(), ado::adCriteriaTimeStamp);

  // A writer takes it back; a second copy read before the write is then stale.
  auto stale = GetIssueRs(*db, 3);
  rs->SetValue("Summary", Variant("Typo in the installation guide"));
  db->WriteBack(*rs);
  EXPECT_EQ(seed.Text("select Summary from Issues where IssueId = 3"), "Typo in the installation guide");
  stale->SetValue("Summary", Variant("Other"));
  EXPECT_THROW(db->WriteBack(*stale), ComError);
  EXPECT_TRUE(db->IsConflict());
}

TEST_F(IssueLookupsTest, NoMatchGivesAnEmptyRecordset) {
  for (auto rs : {GetIssueRs(*db, 999), GetCommentsRs(*db, 999, "Comments"), GetLastCommentRs(*db, 5, "Comments"),
                  GetAttachmentsRs(*db, 1), GetIssueHistoryRs(*db, 999)}) {
    ASSERT_NE(rs, nullptr);
    EXPECT_TRUE(rs->IsEOF());
    EXPECT_EQ(rs->RecordCount(), 0);
    EXPECT_EQ(rs->State(), ado::adStateOpen);
  }
}

TEST_F(IssueLookupsTest, CommentsOfOneFieldNewestFirstTiesByEntry) {
  // Two entries in the same millisecond, then an older one inserted last, and one in another
  // comments field of the same issue.
  seed.Exec(
      "INSERT INTO IssueComments (IssueId, FieldName, CommentAuthor, CommentText, CommentCreatedOn) VALUES "
      "(5, 'Comments', 'bob', 'first of the pair', '2024-03-02 10:00:00.000'),"
      "(5, 'Comments', 'bob', 'second of the pair', '2024-03-02 10:00:00.000'),"
      "(5, 'Comments', 'alice', 'oldest', '2024-03-01 09:00:00.000'),"
      "(5, 'Workaround', 'carol', 'restart the server', '2024-03-03 08:00:00.000');");

  auto rs = GetCommentsRs(*db, 5, "comments");
  EXPECT_EQ(Column(*rs, "CommentText"),
            (std::vector<std::string>{"second of the pair", "first of the pair", "oldest"}));
  EXPECT_EQ(rs->UpdateCriteria(), ado::adCriteriaTimeStamp);

  auto last = GetLastCommentRs(*db, 5, "COMMENTS");
  EXPECT_EQ(Column(*last, "CommentText"), std::vector<std::string>{"second of the pair"});
  EXPECT_EQ(Column(*GetLastCommentRs(*db, 5, "Workaround"), "CommentText"),
            std::vector<std::string>{"restart the server"});
  EXPECT_TRUE(GetLastCommentRs(*db, 4, "Workaround")->IsEOF());
}

TEST_F(IssueLookupsTest, AttachmentListByFileNameWithoutTheData) {
  seed.Exec(
      "INSERT INTO IssueAttachments (IssueId, AttachmentMimeType, AttachmentFilename, AttachmentData) VALUES "
      "(2, 'text/plain', 'b.txt', x'41'), (2, 'image/png', 'A.png', x'89504E47'),"
      "(2, 'application/pdf', 'C:\\Users\\carol\\c.pdf', x'25'), (3, 'text/plain', 'other.txt', x'42');");
  auto rs = GetAttachmentsRs(*db, 2);
  EXPECT_EQ(FieldNames(*rs),
            (std::vector<std::string>{"AttachmentId", "IssueId", "AttachmentMimeType", "AttachmentFilename"}));
  EXPECT_EQ(Column(*rs, "AttachmentFilename"),
            (std::vector<std::string>{"A.png", "b.txt", "C:\\Users\\carol\\c.pdf"}));
}

TEST_F(IssueLookupsTest, OneAttachmentIsDescribedFirstAndItsDataReadInPieces) {
  seed.Exec(
      "INSERT INTO IssueAttachments (AttachmentId, IssueId, AttachmentMimeType, AttachmentFilename, AttachmentData) "
      "VALUES (4, 2, 'text/plain', 'notes.txt', x'00010203040506'), (5, 2, 'text/plain', 'empty.txt', NULL);");
  auto rs = GetAttachmentRs(*db, 4);
  EXPECT_EQ(FieldNames(*rs), (std::vector<std::string>{"AttachmentId", "IssueId", "AttachmentMimeType",
                                                        "AttachmentFilename", "AttachmentSize"}));
  EXPECT_EQ(Column(*rs, "AttachmentSize"), std::vector<std::string>{"7"});
  EXPECT_EQ(Column(*GetAttachmentRs(*db, 5), "AttachmentSize"), std::vector<std::string>{"0"});
  EXPECT_TRUE(GetAttachmentRs(*db, 6)->IsEOF());
  struct Case {
    int32_t id, offset, length;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {{4, 0, 3, {0, 1, 2}}, {4, 5, 10, {5, 6}}, {4, 7, 10, {}}, {4, -1, 2, {}},
                        {5, 0, 10, {}},       {6, 0, 10, {}}};
  for (const Case& c : cases)
    EXPECT_EQ(GetAttachmentData(*db, c.id, c.offset, c.length), c.bytes) << c.id << " " << c.offset;
}

TEST_F(IssueLookupsTest, HistoryNewestFirstTiesByEntry) {
  auto rs = GetIssueHistoryRs(*db, 3);
  EXPECT_EQ(FieldNames(*rs), (std::vector<std::string>{"UserId", "CreatedOn", "NewResolutionCode",
                                                        "NewAssignedToUser", "NewStatusCode"}));
  EXPECT_EQ(Column(*rs, "UserId"), (std::vector<std::string>{"carol", "bob", "dave"}));

  // Two changes in the same millisecond: the later entry is the newer one.
  seed.Exec(
      "INSERT INTO IssueHistory (IssueId, ProjectId, UserId, CreatedOn, NewResolutionCode, NewStatusCode, "
      "NewAssignedToUser) VALUES "
      "(5, 1, 'bob', '2999-01-01 00:00:00.000', 'Fixed', 'Open', 'carol'),"
      "(5, 1, 'carol', '2999-01-01 00:00:00.000', 'Fixed', 'Closed', 'carol');");
  rs = GetIssueHistoryRs(*db, 5);
  EXPECT_EQ(Column(*rs, "NewStatusCode"), (std::vector<std::string>{"Closed", "Open", "Open"}));
}

TEST_F(IssueLookupsTest, CallableByNameWithTheErrorProtocol) {
  auto obj = automation::CreateObject("Brisquel.Database");
  obj->Put("ConnectionString", Variant(sitedb::ConnectionString(file)));
  auto rs = obj->Call("GetIssueRs", {Variant(1)}).ToObject();
  ASSERT_NE(rs, nullptr);
  EXPECT_FALSE(rs->Get("EOF").ToBool());
  EXPECT_EQ(rs->Get("Fields", {Variant("AssignedToUser")}).ToObject()->Get("Value").ToString(), "alice");
  for (const char* name : {"GetAttachmentsRs", "GetAttachmentRs", "GetIssueHistoryRs"})
    EXPECT_NE(obj->Call(name, {Variant(1)}).ToObject(), nullptr) << name;
  EXPECT_TRUE(obj->Call("GetAttachmentData", {Variant(1), Variant(0), Variant(10)}).IsBytes());
  for (const char* name : {"GetCommentsRs", "GetLastCommentRs"})
    EXPECT_FALSE(obj->Call(name, {Variant(2), Variant("Comments")}).ToObject()->Get("EOF").ToBool()) << name;

  // Without a connection the ADO error reaches the caller with this procedure in its source.
  auto unconnected = automation::CreateObject("Brisquel.Database");
  try {
    unconnected->Call("GetIssueHistoryRs", {Variant(1)});
    FAIL() << "no error";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number, ado::err::kInvalidConnection);
    EXPECT_EQ(e.source.rfind("Brisquel.dll:Database.GetIssueHistoryRs\r\n", 0), 0u) << e.source;
  }
}

}  // namespace
}  // namespace brisquel
