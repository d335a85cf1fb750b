// The typed forms the writers use answer what the readers callers receive hold.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ado/ado.h"
#include "core/database.h"
#include "core/lookups.h"
#include "core/writer.h"
#include "support/site_db.h"

namespace brisquel {
namespace {

using automation::Variant;

// The demo site, with a second project that is not public: carol and frank are its members.
class TypedLookupsTest : public ::testing::Test {
 protected:
  TypedLookupsTest() : file(sitedb::FreshSite(true)), raw(file), db(sitedb::Open(file)) {
    raw.Exec(
        "INSERT INTO Projects (ProjectId, ProjectCode, PublicAccessible) VALUES (2, 'Backend', 0);"
        "INSERT INTO ProjectUsers (ProjectId, UserId) VALUES (2, 'carol'), (2, 'frank');");
  }

  std::filesystem::path file;
  sitedb::Db raw;
  std::shared_ptr<Database> db;
};

TEST_F(TypedLookupsTest, IsUserProjectAgreesWithTheUsersProjectList) {
  for (const std::string user : {"admin", "dave", "carol", "Carol", "frank", "gina", "nobody"}) {
    std::vector<int32_t> listed;
    auto rs = GetUserProjectsRs(*db, user);
    for (; !rs->IsEOF(); rs->MoveNext()) listed.push_back(rs->Value("ProjectId").ToLong());
    std::vector<int32_t> typed;
    EachUserProject(*db, user, [&](const sql::Row& r) { typed.push_back(r.Long("ProjectId")); });
    EXPECT_EQ(typed, listed) << user;
    for (int32_t projectId : {1, 2, 3}) {
      const bool inList = std::find(listed.begin(), listed.end(), projectId) != listed.end();
      EXPECT_EQ(IsUserProject(*db, user, projectId), inList) << user << " " << projectId;
    }
  }
}

// The user lists the filter list is built from: the typed forms give the readers' rows.
TEST_F(TypedLookupsTest, UserListsAgreeWithTheirReaders) {
  raw.Exec("INSERT INTO SummaryFilters (UserId, FilterName) VALUES ('carol', 'Zeta'), ('carol', 'alpha')");
  auto column = [](RecordsetPtr rs, const char* name) {
    std::vector<std::string> out;
    for (; !rs->IsEOF(); rs->MoveNext()) out.push_back(rs->Value(name).ToString());
    return out;
  };
  auto typed = [](const char* name, auto&& each) {
    std::vector<std::string> out;
    each([&](const sql::Row& r) { out.push_back(r.Text(name)); });
    return out;
  };
  for (const std::string user : {"admin", "dave", "carol", "nobody"}) {
    EXPECT_EQ(typed("UserId", [&](const RowFn& fn) { EachUserProjectsUser(*db, user, fn); }),
              column(GetUserProjectsUsersRs(*db, user), "UserId"))
        << user;
    EXPECT_EQ(typed("FilterName", [&](const RowFn& fn) { EachSummaryFilter(*db, user, fn); }),
              column(GetSummaryFiltersRs(*db, user), "FilterName"))
        << user;
  }
  for (int32_t projectId : {1, 2, 3}) {
    const std::vector<std::string> members = column(GetProjectUsersRs(*db, projectId), "UserId");
    EXPECT_EQ(typed("UserId", [&](const RowFn& fn) { EachProjectUser(*db, projectId, fn); }), members) << projectId;
  }
  EXPECT_EQ(typed("FilterName", [&](const RowFn& fn) { EachSummaryFilter(*db, "carol", fn); }).size(), 2u);
  EXPECT_FALSE(typed("UserId", [&](const RowFn& fn) { EachProjectUser(*db, 2, fn); }).empty());
}

TEST_F(TypedLookupsTest, EntryFormFieldsAndRequiredFieldsAgreeWithTheirReaders) {
  std::vector<std::string> listed, typed;
  for (auto rs = GetDataEntryLayoutFieldsRs(*db, -1); !rs->IsEOF(); rs->MoveNext())
    listed.push_back(rs->Value("FieldName").ToString());
  EachEntryFormField(*db, [&](const sql::Row& r) { typed.push_back(r.Text("FieldName")); });
  EXPECT_FALSE(typed.empty());
  EXPECT_EQ(typed, listed);
  std::vector<std::string> fields, typedFields;
  for (auto rs = GetIssueFieldsRs(*db, ""); !rs->IsEOF(); rs->MoveNext())
    fields.push_back(rs->Value("FieldName").ToString() + "|" + rs->Value("Representation").ToString());
  EachIssueField(*db, [&](const sql::Row& r) { typedFields.push_back(r.Text("FieldName") + "|" + r.Text("Representation")); });
  EXPECT_FALSE(typedFields.empty());
  EXPECT_EQ(typedFields, fields);

  raw.Exec("INSERT INTO WorkflowStateValidations (StateId, FieldName) SELECT StateId, 'Summary' FROM WorkflowStates "
           "WHERE ResolutionCode = 'Fixed' LIMIT 1");
  raw.Exec("UPDATE IssueFields SET FieldFriendlyName = 'Short summary' WHERE FieldName = 'Summary'");
  const std::string resolution = raw.Text("SELECT ResolutionCode FROM WorkflowStates s JOIN WorkflowStateValidations v "
                                          "ON v.StateId = s.StateId LIMIT 1");
  const std::string status = raw.Text("SELECT StatusCode FROM WorkflowStates s JOIN WorkflowStateValidations v "
                                      "ON v.StateId = s.StateId LIMIT 1");
  std::vector<std::string> required;
  for (auto rs = GetIssueValidationByResolutionRs(*db, resolution, status); !rs->IsEOF(); rs->MoveNext())
    required.push_back(rs->Value("FieldName").ToString() + "|" + rs->Value("FieldFriendlyName").ToString());
  std::vector<std::string> typedRequired;
  for (const RequiredField& f : RequiredFieldsOf(*db, resolution, status))
    typedRequired.push_back(f.fieldName + "|" + f.friendlyName);
  EXPECT_EQ(typedRequired, required);
  EXPECT_NE(std::find(typedRequired.begin(), typedRequired.end(), "Summary|Short summary"), typedRequired.end());
}

TEST_F(TypedLookupsTest, IssueRowHoldsEveryColumnWithNullKeptApart) {
  const int32_t issueId = static_cast<int32_t>(raw.Int("SELECT min(IssueId) FROM Issues"));
  raw.Exec("UPDATE Issues SET DateClosed = NULL, Summary = '  ' WHERE IssueId = " + std::to_string(issueId));
  std::optional<IssueRow> row = ReadIssueRow(*db, issueId);
  ASSERT_TRUE(row.has_value());
  auto rs = GetIssueRs(*db, issueId);
  EXPECT_EQ(row->columns.size(), rs->FieldCount());
  EXPECT_EQ(row->Long("issueid"), issueId);
  EXPECT_EQ(row->Long("ProjectId"), rs->Value("ProjectId").ToLong());
  EXPECT_EQ(row->Text("AssignedToUser"), rs->Value("AssignedToUser").ToString());
  ASSERT_NE(row->Column("DateClosed"), nullptr);
  EXPECT_FALSE(row->Column("DateClosed")->has_value());
  EXPECT_EQ(row->Text("Summary"), "  ");
  EXPECT_EQ(row->Column("NoSuchColumn"), nullptr);
  EXPECT_EQ(row->Text("NoSuchColumn"), "");
  EXPECT_FALSE(ReadIssueRow(*db, 999999).has_value());

  // The values read as the recordset gives them: each column of the same kind and text.
  std::optional<IssueValues> values = ReadIssueValues(*db, issueId);
  ASSERT_TRUE(values.has_value());
  ASSERT_EQ(values->columns.size(), rs->FieldCount());
  for (size_t i = 0; i < rs->FieldCount(); ++i) {
    const auto& [name, value] = values->columns[i];
    EXPECT_EQ(name, rs->Info(i).name);
    EXPECT_EQ(value.Type(), rs->Value(i).Type()) << name;
    EXPECT_EQ(value.ToText(), rs->Value(i).ToText()) << name;
  }
  EXPECT_EQ(values->Value("dateopened").Type(), automation::VarType::Date);
  EXPECT_EQ(values->Value("Valid").Type(), automation::VarType::Boolean);
  EXPECT_TRUE(values->Value("DateClosed").IsNull());
  EXPECT_THROW(values->Value("NoSuchColumn"), automation::ComError);
  EXPECT_FALSE(ReadIssueValues(*db, 999999).has_value());
}

// A writer that answers a value: a refusal gives the refused value and the sentence; a failed
// statement gives the connection's report; the transaction is rolled back either way.
TEST_F(TypedLookupsTest, WriterStepsRefuseAndRollBack) {
  auto count = [&] { return raw.Int("SELECT count(*) FROM Groups"); };
  const int64_t before = count();
  int32_t answer = Writer(*db, "Database", "Test", int32_t{-1}, [&]() -> int32_t {
    Database::Transaction tx(*db);
    WriteStep(*db, [&] { db->Exec("INSERT INTO Groups (GroupCode) VALUES ('Temp')"); });
    Refuse("No, thank you.");
  });
  EXPECT_EQ(answer, -1);
  EXPECT_EQ(db->LastErrorMessage(), "No, thank you.");
  EXPECT_EQ(count(), before);

  bool ok = Writer(*db, "Database", "Test", [&] {
    Database::Transaction tx(*db);
    WriteStep(*db, [&] { db->Exec("INSERT INTO Groups (GroupCode) VALUES ('Temp')"); });
    WriteStep(*db, [&] { db->Exec("INSERT INTO Groups (GroupCode) VALUES ('Temp')"); });  // the same key again
    tx.Commit();
    return true;
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(db->LastErrorMessage().rfind("An unexpected error has occurred.", 0), 0u) << db->LastErrorMessage();
  EXPECT_FALSE(db->Connection().InTransaction());
  EXPECT_EQ(count(), before);

  EXPECT_EQ(Writer(*db, "Database", "Test", int32_t{-1}, [] { return int32_t{7}; }), 7);
  EXPECT_EQ(db->LastErrorMessage(), "");
}

// Project administrators of project 1 and of the private project; "ghost" has a membership row
// without a user row, as nothing stops it.
TEST_F(TypedLookupsTest, UserRolesAnswerAsTheRoleQuestionsDo) {
  raw.Exec("UPDATE ProjectUsers SET ProjectAdministrator = 1 WHERE ProjectId = 2 AND UserId = 'frank';"
           "INSERT INTO ProjectUsers (ProjectId, UserId, ProjectAdministrator) VALUES (2, 'ghost', 1);"
           "UPDATE Users SET SiteAdministrator = 1, PublicUser = 1 WHERE UserId = 'bob'");
  for (const std::string user : {"admin", "Alice", "bob", "carol", "dave", "frank", "ghost", "nobody", ""}) {
    const UserRoles roles = ReadUserRoles(*db, user);
    EXPECT_EQ(roles.siteAdmin, UserIsSiteAdmin(*db, user)) << user;
    EXPECT_EQ(roles.publicUser, UserIsPublic(*db, user)) << user;
    EXPECT_EQ(roles.projectAdmin, UserIsProjectAdmin(*db, user, -1)) << user;
    EXPECT_EQ(roles.CanAdmin(), UserCanAdmin(*db, user)) << user;
  }
  EXPECT_TRUE(ReadUserRoles(*db, "ghost").projectAdmin);
  EXPECT_TRUE(ReadUserRoles(*db, "dave").publicUser);
}

// A failed step refuses the writer with the sentence its failure gives: the one named for the
// constraint that refused it, else the connection's report.
TEST_F(TypedLookupsTest, WriteStepTakesTheSentenceOfItsFailure) {
  const std::string used = raw.Text("SELECT ResolutionCode FROM Issues LIMIT 1");
  struct Case {
    std::string statement;
    bool byDuplicate;  // the failure asks DuplicateFailure, else ReferenceFailure
    bool named;        // the named sentence is expected
  };
  const std::vector<Case> cases = {
      {"INSERT INTO Groups (GroupCode) VALUES ('Developers')", true, true},
      {"DELETE FROM Resolutions WHERE ResolutionCode = '" + used + "'", false, true},
      {"INSERT INTO Groups (GroupCode) VALUES ('Developers')", false, false},
      {"DELETE FROM Resolutions WHERE ResolutionCode = '" + used + "'", true, false},
  };
  for (const Case& c : cases) {
    const bool ok = Writer(*db, "Database", "Test", [&] {
      Database::Transaction tx(*db);
      WriteStep(*db, [&] { db->Exec(c.statement); }, [&](const automation::LastError& e) {
        return c.byDuplicate ? DuplicateFailure(*db, e, "named") : ReferenceFailure(*db, e, "named");
      });
      tx.Commit();
      return true;
    });
    EXPECT_FALSE(ok) << c.statement;
    if (c.named)
      EXPECT_EQ(db->LastErrorMessage(), "named") << c.statement;
    else
      EXPECT_EQ(db->LastErrorMessage().rfind("An unexpected error has occurred.", 0), 0u) << db->LastErrorMessage();
  }
}

}  // namespace
}  // namespace brisquel
