#include "issues/release_notes.h"

#include <gtest/gtest.h>

#include "issue_lists_fixture.h"

namespace brisquel::testing {
namespace {

class ReleaseNotesTest : public IssueListsTest {
 protected:
  void SetUp() override {
    IssueListsTest::SetUp();
    sql->Exec("DELETE FROM Issues");
    Issue(1, 1, "Open", 1, "1.1", "");
    Issue(2, 1, "Open", 1, "2.0", "");
    Issue(3, 1, "Open", 0, "1.0", "");
    Issue(4, 1, "", 1, "1.0", "");
    Issue(5, 1, "Closed", 1, "1.0", "1.1");
    Issue(6, 1, "Closed", 1, "1.0", "2.0");
    Issue(7, 1, "Closed", 0, "1.0", "2.0");
    Issue(9, 1, "Open", 1, "1.0", "1.1");
    // The same build codes in another project, with another order.
    Issue(101, 2, "Open", 1, "1.0", "");
    Issue(102, 2, "Closed", 1, "1.0", "1.1");
    Issue(103, 2, "Closed", 1, "2.0", "1.0");
  }
  void Issue(int id, int project, const std::string& status, int valid, const std::string& detected,
             const std::string& verified) {
    sql->Exec("INSERT INTO Issues (IssueId, ProjectId, StatusCode, Valid, DetectedInBuildCode, VerifiedInBuildCode) "
              "VALUES (" + std::to_string(id) + ", " + std::to_string(project) + ", '" + status + "', " +
              std::to_string(valid) + ", '" + detected + "', '" + verified + "')");
  }
  std::vector<int> Known(int project, const std::string& build, const std::string& prev = "1.0") {
    return Ids(GetReleaseNotesKnownRs(*db, project, build, prev));
  }
  std::vector<int> Corrected(int project, const std::string& build, const std::string& prev) {
    return Ids(GetReleaseNotesCorrectedRs(*db, project, build, prev));
  }
};

TEST_F(ReleaseNotesTest, KnownIssuesAreOpenValidUnverifiedAndDetectedUpToTheBuild) {
  EXPECT_EQ(Known(1, "1.1"), (std::vector<int>{1}));
  EXPECT_EQ(Known(1, "2.0"), (std::vector<int>{1, 2}));
  EXPECT_EQ(Known(1, "2.0", "no such build"), (std::vector<int>{1, 2}));
  EXPECT_EQ(Known(1, ""), (std::vector<int>{}));
  // In Secret, 2.0 comes first and 1.0 last.
  EXPECT_EQ(Known(2, "2.0"), (std::vector<int>{}));
  EXPECT_EQ(Known(2, "1.0"), (std::vector<int>{101}));
  auto rs = GetReleaseNotesKnownRs(*db, 1, "2.0", "");
  EXPECT_EQ(rs->Info(0).name, "ProjectCode");
  EXPECT_EQ(rs->Value("ProjectCode").ToString(), "Demo");
  EXPECT_EQ(rs->ActiveConnection(), nullptr);
}

TEST_F(ReleaseNotesTest, CorrectedIssuesAreVerifiedAfterThePreviousReleaseUpToThisOne) {
  EXPECT_EQ(Corrected(1, "2.0", "1.1"), (std::vector<int>{6}));
  EXPECT_EQ(Corrected(1, "2.0", "1.0"), (std::vector<int>{5, 6}));
  EXPECT_EQ(Corrected(1, "1.1", "1.0"), (std::vector<int>{5}));
  EXPECT_EQ(Corrected(1, "1.1", "1.1"), (std::vector<int>{}));
  // Secret's order: 2.0 (7) < 1.1 (8) < 1.0 (9); issue 103 was detected in 2.0, verified in 1.0.
  EXPECT_EQ(Corrected(2, "1.0", "2.0"), (std::vector<int>{102, 103}));
  EXPECT_EQ(Corrected(2, "1.0", "1.1"), (std::vector<int>{103}));
}

TEST_F(ReleaseNotesTest, AnUnknownBuildFailsThroughTheErrorProtocol) {
  EXPECT_THROW(Known(1, "9.9"), automation::ComError);
  EXPECT_THROW(Corrected(1, "2.0", "0.1"), automation::ComError);
  sql->Exec("DELETE FROM IssueCodeTables WHERE TableName = 'ProjectBuilds'");
  EXPECT_THROW(Known(1, "1.1"), automation::ComError);
}

TEST_F(ReleaseNotesTest, NaturallySortedBuildsCompareAsText) {
  sql->Exec("UPDATE IssueCodeTables SET NaturalSort = 1 WHERE TableName = 'ProjectBuilds';"
            "INSERT INTO ProjectBuilds (ProjectId, BuildCode, SortOrder) VALUES (1, '9', 5), (1, '10', 6);");
  Issue(11, 1, "Open", 1, "10", "");
  Issue(12, 1, "Open", 1, "9", "");
  Issue(13, 1, "Closed", 1, "1.0", "10");
  // "10" sorts before "9", and after "1.1" ('0' comes after '.').
  EXPECT_EQ(Known(1, "9"), (std::vector<int>{1, 2, 11, 12}));
  EXPECT_EQ(Known(1, "10"), (std::vector<int>{1, 11}));
  EXPECT_EQ(Known(1, "1.1"), (std::vector<int>{1}));
  EXPECT_EQ(Corrected(1, "9", "2.0"), (std::vector<int>{}));
  EXPECT_EQ(Corrected(1, "9", "1.1"), (std::vector<int>{6, 13}));
  EXPECT_EQ(Corrected(1, "2.0", "1.0"), (std::vector<int>{5, 6, 13}));
  // Another project's issues stay out, whatever their codes.
  EXPECT_EQ(Known(2, "9"), (std::vector<int>{101}));
}

TEST_F(ReleaseNotesTest, ReleaseNotesNeedBothBuildFields) {
  EXPECT_TRUE(CanDoReleaseNotes(*db));
  sql->Exec("DELETE FROM IssueFields WHERE FieldName = 'VerifiedInBuildCode'");
  EXPECT_FALSE(CanDoReleaseNotes(*db));
  EXPECT_FALSE(db->Call("CanDoReleaseNotes").ToBool());
}

}  // namespace
}  // namespace brisquel::testing
