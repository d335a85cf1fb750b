// The trigram indexes the word search of the issues reads its candidates from: IssueCommentText
// for the comments (declared in 060_text_search.sql) and IssueText_<field>_Index for each issue
// field of the kinds "text" and "multiline". Their rowids are the comment's and the id; triggers on
// IssueComments and Issues keep them. A field's index comes and goes with the field: the writers
// of the issue fields and the upgrade call FollowTextFields.
#pragma once

#include <sqlite3.h>

#include <optional>
#include <string>
#include <string_view>

namespace ado {
class Connection;
}

namespace brisquel::schema::textsearch {

inline constexpr std::string_view kCommentIndex = "IssueCommentText";

// "IssueText_<field>_Index".
std::string FieldIndex(std::string_view field);

// Makes the indexes what the issue fields ask for: the comments' index and one per text field
// whose column Issues has, each with its triggers, created and filled where missing or declared
// otherwise; the index of a field no longer searched goes with its triggers. With `dryRun` nothing
// is changed. True when something was (or would be) changed. A failure is raised as the data
// layer raises it (on a bare handle: the library's failure, RaiseFailure, with SQLite's message).
bool FollowTextFields(ado::Connection& c, bool dryRun = false);
bool FollowTextFields(sqlite3* db, bool dryRun = false);

// The query that finds in an index every text holding `word`, as an FTS5 string; nothing when the
// index cannot find it: fewer than three characters (a trigram index holds no shorter run), a NUL
// character (the tokenizer stops there) or text that is not UTF-8.
std::optional<std::string> TrigramQuery(std::string_view word);

}  // namespace brisquel::schema::textsearch
