// The word search through the trigram indexes finds exactly the issues the LIKE scan finds, on a
// site of a few thousand issues and comments of varied texts, before and after the texts change.
#include "issues/word_search.h"

#include <gtest/gtest.h>

#include <random>

#include "issues/issue_list.h"
#include "issue_lists_fixture.h"
#include "schema/text_search.h"

namespace brisquel::testing {
namespace {

// Pieces of text the generated summaries, notes and comments are made of: mixed case, accents
// and letters whose case only Unicode folds, LIKE's wildcards and escape, quotes, short words.
const std::vector<std::string> kPieces = {
    "needle",   "NEEDLE",  "NeEdLe",   "haystack", "hay",     "stack",      "école",      "ÉCOLE",
    "Straße",   "STRASSE", "ﬁle",      "\u212Aelvin", "kelvin", "Ωmega",    "ωMEGA",      "日本語",
    "100%",     "%",       "_",        "\\",       "a_b",     "a%b",        "axb",        "50%_off",
    "c:\\temp", "\"quoted\"", "o'brien", "ab",     "x",       "the",        "in the",     "İstanbul",
    "ıi",       "naïve",   "NAÏVE",    "-->",      "  ",      "tab\there",  "line\nbreak", "zz",
};

// One piece in five from the list, the others filler words: most words are in few texts, as
// searched words are, and "filler" is in most of them.
std::string Text(std::mt19937& random, int pieces) {
  std::string out;
  for (int i = 0; i < pieces; ++i) {
    const std::string piece =
        random() % 5 == 0 ? kPieces[random() % kPieces.size()] : "filler" + std::to_string(random() % 100);
    // Glued on or set apart, so that words also run across pieces.
    out += (random() % 3 == 0 ? "" : " ") + piece;
  }
  return out;
}

std::string Literal(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

class WordSearchTest : public IssueListsTest {
 protected:
  void SetUp() override {
    IssueListsTest::SetUp();
    // A multiline field of notes besides the summary, with its index as a custom field gets it.
    sql->Exec("INSERT INTO IssueFields (FieldName, FieldFriendlyName, Representation, NumLines, TextMaxLength) "
              "VALUES ('Notes', 'Notes', 'multiline', 4, 400);"
              "ALTER TABLE Issues ADD COLUMN Notes VARCHAR(400) NOT NULL COLLATE NOCASE DEFAULT ''");
    schema::textsearch::FollowTextFields(sql->handle());
    std::mt19937 random(49);
    std::string batch = "BEGIN;";
    for (int id = 1000; id < 4000; ++id) {
      batch += "INSERT INTO Issues (IssueId, ProjectId, Summary, Notes) VALUES (" + std::to_string(id) + ", " +
               std::to_string(1 + id % 3) + ", " + Literal(Text(random, 1 + random() % 4)) + ", " +
               Literal(random() % 2 ? Text(random, random() % 6) : "") + ");";
      for (int c = random() % 3; c > 0; --c)
        batch += "INSERT INTO IssueComments (IssueId, FieldName, CommentText) VALUES (" + std::to_string(id) +
                 ", 'Comments', " + Literal(Text(random, random() % 8)) + ");";
    }
    // A word across two texts of an issue is in neither.
    batch += "INSERT INTO Issues (IssueId, ProjectId, Summary, Notes) VALUES (999, 1, 'a hay', 'stack b');"
             "INSERT INTO IssueComments (IssueId, FieldName, CommentText) VALUES (999, 'Comments', 'nee'), "
             "(999, 'Comments', 'dle');";
    sql->Exec(batch + "COMMIT;");
  }

  // The issues a condition built for `word` holds, in id order.
  std::vector<int> Matches(const std::string& word, bool useIndexes, bool expectIndexed) {
    WordCondition condition = WordSearchCondition(*db, word, useIndexes);
    EXPECT_EQ(condition.indexed, expectIndexed) << word;
    std::vector<int> ids;
    db->Each("select IssueId from Issues where " + condition.sql + " order by IssueId", condition.params,
             [&](const sql::Row& r) { ids.push_back(static_cast<int>(r.Long(0))); });
    return ids;
  }

  struct Word {
    std::string text;
    bool indexed;   // the indexes can find it, among few texts
    bool matches;   // some issue holds it
  };
  const std::vector<Word> words = {
      {"needle", true, true},       {"NEEDLE", true, true},     {"eEdL", true, true},
      {"haystack", true, true},     {"stackfiller", true, true}, {"école", true, true},
      {"ÉCOLE", true, true},        {"éCOLE", true, true},      {"Straße", true, true},
      {"strasse", true, true},      {"ﬁle", true, true},        {"kelvin", true, true},
      {"\u212Aelvin", true, true},  {"ΩMEGA", true, true},      {"日本語", true, true},
      {"100%", true, true},         {"0%_", true, true},        {"a_b", true, true},
      {"a%b", true, true},          {"c:\\t", true, true},      {"\\te", true, true},
      {"\"quoted\"", true, true},   {"o'brien", true, true},    {"İst", true, true},
      {"naÏve", true, true},        {"-->", true, true},        {"tab\the", true, true},
      {"e\nb", true, true},         {"the", true, true},        {"in the", true, true},
      {"zzfiller", true, true},     {"absent word", true, false}, {"%%%", true, false},
      {"hay stack", true, false},   {"haystack b", true, false}, {"nee dle", true, false},
      {"filler", false, true},      {"FILLER1", false, true},
      {"ab", false, true},          {"x", false, true},         {"%", false, true},
      {"_", false, true},           {"\\", false, true},        {"é", false, true},
      {"日本", false, true},         {"ıi", false, true},        {"", false, true},
      {"  ", false, true},          {"q%", false, false},
  };

  void ExpectSameRows(const std::string& when) {
    for (const Word& w : words) {
      const std::vector<int> scanned = Matches(w.text, false, false);
      EXPECT_EQ(Matches(w.text, true, w.indexed), scanned) << when << ": '" << w.text << "'";
      EXPECT_EQ(!scanned.empty(), w.matches) << when << ": '" << w.text << "'";
    }
  }
};

TEST_F(WordSearchTest, IndexesFindTheRowsTheScanFinds) { ExpectSameRows("as written"); }

TEST_F(WordSearchTest, IndexesFollowEveryWrite) {
  sql->Exec("BEGIN;"
            "UPDATE Issues SET Summary = upper(Summary) WHERE IssueId % 7 = 0;"
            "UPDATE Issues SET Notes = Summary || ' needle', Summary = '' WHERE IssueId % 11 = 0;"
            "UPDATE Issues SET Summary = 'école 100% haystack' WHERE IssueId % 13 = 0;"
            "UPDATE IssueComments SET CommentText = CommentText || 'kelvin' WHERE CommentId % 5 = 0;"
            "UPDATE IssueComments SET CommentText = '' WHERE CommentId % 6 = 0;"
            "UPDATE IssueComments SET IssueId = IssueId + 1 WHERE CommentId % 9 = 0;"
            "DELETE FROM IssueComments WHERE CommentId % 4 = 0;"
            "DELETE FROM Issues WHERE IssueId % 17 = 0;"
            "REPLACE INTO Issues (IssueId, ProjectId, Summary) VALUES (1001, 1, 'replaced a_b');"
            "UPDATE Issues SET IssueId = IssueId + 10000 WHERE IssueId % 19 = 0;"
            "COMMIT;");
  ExpectSameRows("after the writes");
  for (const char* index : {"IssueCommentText", "IssueText_Summary_Index", "IssueText_Notes_Index"})
    EXPECT_EQ(sql->Run(std::string("INSERT INTO ") + index + " (" + index + ") VALUES ('integrity-check')").rc,
              SQLITE_OK)
        << index;
}

// The search's own list: the same rows in the same order as the LIKE condition lists them.
TEST_F(WordSearchTest, TheListKeepsItsRowsAndOrder) {
  for (const std::string word : {"needle", "a_b", "ab"}) {
    WordCondition scan = WordSearchCondition(*db, word, false);
    std::vector<int> expected;
    db->Each("select IssueId from Issues where StatusCode = 'Open' and " + scan.sql +
                 " order by Summary desc, IssueId desc",
             scan.params, [&](const sql::Row& r) { expected.push_back(static_cast<int>(r.Long(0))); });
    auto found = FindIssueByTextRs(*db, "admin", -1, false, "Issues.Summary", 1, word);
    ASSERT_NE(found, nullptr) << db->LastErrorMessage();
    EXPECT_EQ(Ids(found), expected) << word;
    EXPECT_GT(expected.size(), 50u) << word;
  }
}

// A site whose indexes are incomplete is searched by the scan alone.
TEST_F(WordSearchTest, AnIncompleteSiteIsScanned) {
  sql->Exec("DROP TABLE IssueText_Notes_Index");
  const std::vector<int> scanned = Matches("needle", false, false);
  EXPECT_EQ(Matches("needle", true, false), scanned);
  EXPECT_EQ(IdSet(FindIssueByTextRs(*db, "admin", -1, true, "Issues.IssueId", 0, "needle")),
            std::set<int>(scanned.begin(), scanned.end()));
}

TEST(TrigramQuery, WordsTheIndexesCanFind) {
  using schema::textsearch::TrigramQuery;
  const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
      {"abc", "\"abc\""},
      {"a\"b", "\"a\"\"b\""},
      {"%_\\", "\"%_\\\""},
      {"日本語", "\"日本語\""},
      {"ab", std::nullopt},
      {"é1", std::nullopt},
      {"", std::nullopt},
      {std::string("ab\0c", 4), std::nullopt},
      {"ab\xC3", std::nullopt},      // cut short
      {"a\xC0\xAF" "b", std::nullopt},  // overlong
      {"\xED\xA0\x80xy", std::nullopt},  // a surrogate
  };
  for (const auto& [word, query] : cases) EXPECT_EQ(TrigramQuery(word), query) << word;
}

}  // namespace
}  // namespace brisquel::testing
