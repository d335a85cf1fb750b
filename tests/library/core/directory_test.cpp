#include <gtest/gtest.h>
#include <strings.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ado/ado.h"
#include "core/database.h"
#include "core/lookups.h"
#include "support/site_db.h"

namespace brisquel {
namespace {

using automation::Variant;

// The demo site: project 1 "Demo" (publicly accessible) with admin and alice (administrators), bob
// and carol; dave is a public user of no project. Each test adds what it needs.
class DirectoryTest : public ::testing::Test {
 protected:
  DirectoryTest() : file(sitedb::FreshSite(true)), raw(file), db(sitedb::Open(file)) {}

  std::filesystem::path file;
  sitedb::Db raw;
  std::shared_ptr<Database> db;
};

// One column of every row, from the first.
std::vector<std::string> Column(ado::Recordset& rs, const std::string& name) {
  std::vector<std::string> values;
  if (rs.RecordCount() == 0) return values;
  for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) values.push_back(rs.Value(name).ToString());
  return values;
}

std::vector<std::string> FieldNames(ado::Recordset& rs) {
  std::vector<std::string> names;
  for (size_t i = 0; i < rs.FieldCount(); ++i) names.push_back(rs.Info(i).name);
  return names;
}

using Ids = std::vector<std::string>;

// A second project that is not publicly accessible, with carol as member, and a public user who is
// also a member of Demo (spelled in another case on the membership row).
void AddSecondProject(sitedb::Db& raw) {
  raw.Exec(
      "INSERT INTO Projects (ProjectId, ProjectCode, PublicAccessible) VALUES (2, 'Backend', 0);"
      "INSERT INTO ProjectUsers (ProjectId, UserId) VALUES (2, 'carol'), (2, 'frank');"
      "INSERT INTO Users (UserId, UserName, PublicUser) VALUES ('frank', 'Frank', 0), ('erin', 'Erin', 1),"
      "  ('gina', 'Gina', 0);"
      "INSERT INTO ProjectUsers (ProjectId, UserId) VALUES (1, 'ERIN')");
}

TEST_F(DirectoryTest, ASiteAdministratorMarkedPublicStillSeesEverything) {
  AddSecondProject(raw);
  raw.Exec("UPDATE Users SET PublicUser = 1 WHERE UserId = 'admin'");
  auto projects = GetUserProjectsRs(*db, "admin");
  EXPECT_EQ(FieldNames(*projects), (Ids{"ProjectCode", "ProjectId"}));
  EXPECT_EQ(Column(*projects, "ProjectCode"), (Ids{"Backend", "Demo"}));
  auto users = GetUserProjectsUsersRs(*db, "ADMIN");
  EXPECT_EQ(Column(*users, "UserId"), (Ids{"admin", "alice", "bob", "carol", "dave", "erin", "frank", "gina"}));
  EXPECT_GT(users->FieldCount(), 10u);
}

TEST_F(DirectoryTest, UserProjectsByRole) {
  AddSecondProject(raw);
  // A public user: the publicly accessible projects, member or not.
  EXPECT_EQ(Column(*GetUserProjectsRs(*db, "dave"), "ProjectCode"), (Ids{"Demo"}));
  // An ordinary user: the projects of which the user is a member, by code, whatever the id's case.
  EXPECT_EQ(Column(*GetUserProjectsRs(*db, "Carol"), "ProjectCode"), (Ids{"Backend", "Demo"}));
  EXPECT_EQ(Column(*GetUserProjectsRs(*db, "frank"), "ProjectCode"), (Ids{"Backend"}));
  // No membership: an empty recordset, not nothing.
  auto none = db->Call("GetUserProjectsRs", {Variant("gina")}).ToObject();
  ASSERT_NE(none, nullptr);
  EXPECT_TRUE(none->Get("EOF").ToBool());
  EXPECT_TRUE(GetUserProjectsRs(*db, "nobody")->IsEOF());
}

TEST_F(DirectoryTest, UsersAUserMaySeeHaveNoDuplicates) {
  AddSecondProject(raw);
  // Ordinary user: members of the user's projects plus every public user, each once (erin is both;
  // carol is in both projects), by id, the id column only.
  auto forCarol = GetUserProjectsUsersRs(*db, "carol");
  EXPECT_EQ(FieldNames(*forCarol), (Ids{"UserId"}));
  auto ids = Column(*forCarol, "UserId");
  ASSERT_EQ(ids.size(), 7u);
  for (size_t i = 0; i < ids.size(); ++i) {
    static const Ids expected{"admin", "alice", "bob", "carol", "dave", "erin", "frank"};
    EXPECT_TRUE(strcasecmp(ids[i].c_str(), expected[i].c_str()) == 0) << ids[i] << " at " << i;
  }
  // Without membership: the public users only.
  EXPECT_EQ(Column(*GetUserProjectsUsersRs(*db, "gina"), "UserId"), (Ids{"dave", "erin"}));
  // Public user: the members of publicly accessible projects.
  auto forDave = Column(*GetUserProjectsUsersRs(*db, "dave"), "UserId");
  EXPECT_EQ(forDave.size(), 5u);
  EXPECT_EQ(std::count(forDave.begin(), forDave.end(), "frank"), 0);
}

TEST_F(DirectoryTest, ProjectUsersAddPublicUsersOnlyToPublicProjects) {
  AddSecondProject(raw);
  auto demo = Column(*GetProjectUsersRs(*db, 1), "UserId");
  std::sort(demo.begin(), demo.end(), [](const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
  });
  // erin is a member and a public user: listed once.
  ASSERT_EQ(demo.size(), 6u);
  EXPECT_EQ(Ids(demo.begin(), demo.begin() + 4), (Ids{"admin", "alice", "bob", "carol"}));
  EXPECT_EQ(demo[4], "dave");
  EXPECT_TRUE(strcasecmp(demo[5].c_str(), "erin") == 0);
  auto backend = Column(*GetProjectUsersRs(*db, 2), "UserId");
  std::sort(backend.begin(), backend.end());
  EXPECT_EQ(backend, (Ids{"carol", "frank"}));
  EXPECT_TRUE(GetProjectUsersRs(*db, 99)->IsEOF());
}

TEST_F(DirectoryTest, GroupUsersAndReassignTo) {
  // Testers of Demo: carol (member of the group), alice and admin (administrators of the project),
  // admin also as site administrator of the site.
  raw.Exec("INSERT INTO Users (UserId, UserName, SiteAdministrator) VALUES ('root', 'Root', 1)");
  EXPECT_EQ(Column(*GetGroupUsersRs(*db, "testers", 1), "UserId"), (Ids{"admin", "alice", "carol", "root"}));
  EXPECT_EQ(Column(*GetGroupUsersRs(*db, "Customers", 42), "UserId"), (Ids{"admin", "root"}));

  auto to = GetReassignToRs(*db, 3);
  EXPECT_EQ(FieldNames(*to), (Ids{"UserId", "UserName"}));
  EXPECT_EQ(Column(*to, "UserId"), (Ids{"admin", "alice", "bob", "carol"}));
  EXPECT_TRUE(GetReassignToRs(*db, 999)->IsEOF());
}

TEST_F(DirectoryTest, NoReaderHandsOutPasswordsOrSecretAnswers) {
  raw.Exec("UPDATE Users SET SecretQuestion = 'Pet?', SecretQuestionAnswer = Password");
  AddSecondProject(raw);
  std::vector<std::pair<std::string, RecordsetPtr>> readers{
      {"GetUsersRs", GetUsersRs(*db)},
      {"GetInternalUsersRs", GetInternalUsersRs(*db)},
      {"GetUserRs", GetUserRs(*db, "alice")},
      {"GetGroupUsersRs", GetGroupUsersRs(*db, "Developers", 1)},
      {"GetUserProjectsUsersRs", GetUserProjectsUsersRs(*db, "admin")},
      {"GetReassignToRs", GetReassignToRs(*db, 1)},
      {"GetUserGroupsRs", GetUserGroupsRs(*db, "alice")},
      {"GetProjectUsersRs", GetProjectUsersRs(*db, 1)},
  };
  for (auto& [name, rs] : readers) {
    ASSERT_FALSE(rs->IsEOF()) << name;
    for (const auto& field : FieldNames(*rs)) {
      EXPECT_NE(field, "Password") << name;
      EXPECT_NE(field, "SecretQuestionAnswer") << name;
    }
    for (rs->MoveFirst(); !rs->IsEOF(); rs->MoveNext())
      for (size_t i = 0; i < rs->FieldCount(); ++i) {
        Variant v = rs->Value(i);
        if (v.IsNull()) continue;
        EXPECT_EQ(v.ToString().find("$argon2"), std::string::npos) << name << "." << rs->Info(i).name;
      }
  }
  // The user record still has everything else, and a writer can take it back.
  auto alice = GetUserRs(*db, "ALICE");
  EXPECT_EQ(alice->Value("UserName").ToString(), "Alice Archer");
  EXPECT_EQ(alice->Value("SecretQuestion").ToString(), "Pet?");
  alice->SetValue("UserName", Variant("Alice A. Archer"));
  db->WriteBack(*alice);
  EXPECT_EQ(raw.Text("SELECT UserName FROM Users WHERE UserId = 'alice'"), "Alice A. Archer");
  EXPECT_EQ(raw.Text("SELECT substr(Password, 1, 9) FROM Users WHERE UserId = 'alice'"), "$argon2id");
  // Internal users leave the public ones out.
  auto internal = Column(*GetInternalUsersRs(*db), "UserId");
  EXPECT_EQ(std::count(internal.begin(), internal.end(), "dave"), 0);
  EXPECT_EQ(std::count(internal.begin(), internal.end(), "alice"), 1);
}

TEST_F(DirectoryTest, IdsAndCodesBindAtTheirRealWidth) {
  const std::string longId = "u" + std::string(49, 'x');        // 50 characters
  const std::string longCode = "Won't fix: works as designed";  // 28 characters
  raw.Exec("INSERT INTO Users (UserId, UserName) VALUES ('" + longId + "', 'Long');"
           "INSERT INTO UserGroups (UserId, GroupCode) VALUES ('" + longId + "', 'Testers');"
           "INSERT INTO Resolutions (ResolutionCode, SortOrder) VALUES ('Won''t fix: works as designed', 9);"
           "INSERT INTO ProjectBuilds (ProjectId, BuildCode, SortOrder) VALUES (1, '2.0.1 release candidate 3', 9)");
  EXPECT_EQ(GetUserRs(*db, longId)->Value("UserName").ToString(), "Long");
  EXPECT_EQ(Column(*GetUserGroupsRs(*db, longId), "GroupCode"), (Ids{"Testers"}));
  EXPECT_EQ(GetResolutionRs(*db, longCode)->Value("SortOrder").ToLong(), 9);
  EXPECT_FALSE(GetBuildRs(*db, 1, "2.0.1 RELEASE CANDIDATE 3")->IsEOF());
  EXPECT_TRUE(GetBuildRs(*db, 2, "1.0")->IsEOF());
}

TEST_F(DirectoryTest, PlainLookupsByName) {
  raw.Exec("INSERT INTO Projects (ProjectId, ProjectCode) VALUES (2, 'Alpha')");
  auto projects = db->Call("GetProjectsRs").ToObject();
  EXPECT_EQ(projects->Get("Fields", {Variant("ProjectCode")}).ToObject()->Get("Value").ToString(), "Alpha");
  EXPECT_EQ(GetProjectRs(*db, 1)->Value("ProjectCode").ToString(), "Demo");
  EXPECT_TRUE(GetProjectRs(*db, 7)->IsEOF());

  EXPECT_EQ(Column(*GetGroupsRs(*db), "GroupCode"), (Ids{"Customers", "Developers", "Testers"}));
  EXPECT_EQ(GetGroupRs(*db, "TESTERS")->Value("GroupCode").ToString(), "Testers");
  EXPECT_TRUE(db->Call("GetGroupRs", {Variant("Nobody")}).ToObject()->Get("EOF").ToBool());

  EXPECT_EQ(Column(*GetResolutionsRs(*db), "ResolutionCode"),
            (Ids{"", "New", "Fixed", "Will not fix", "Duplicate", "Not reproducible"}));
  auto statuses = GetStatusCodesRs(*db);
  EXPECT_EQ(FieldNames(*statuses), (Ids{"StatusCode"}));
  EXPECT_EQ(Column(*statuses, "StatusCode"), (Ids{"", "Open", "Closed"}));
  auto fixed = GetResolutionRs(*db, "fixed");
  EXPECT_EQ(FieldNames(*fixed), (Ids{"ResolutionCode", "SortOrder"}));
  EXPECT_EQ(fixed->Value("ResolutionCode").ToString(), "Fixed");
  EXPECT_EQ(fixed->ActiveConnection(), nullptr);
  EXPECT_EQ(fixed->UpdateCriteria(), ado::adCriteriaTimeStamp);
}

}  // namespace
}  // namespace brisquel
