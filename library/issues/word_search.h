// The condition of the word search (FindIssueByTextRs): an issue matches when one of its fields of
// the text kinds or one of its comments holds the word, literally and without regard to the case
// of ASCII letters (LIKE with % and _ and the escape character escaped).
#pragma once

#include <string>
#include <vector>

#include "ado/types.h"

namespace brisquel {

class Database;

struct WordCondition {
  std::string sql;  // empty when no issue field holds text that can be searched
  ado::Params params;
  bool indexed = false;  // read through the trigram indexes
  std::vector<std::string> indexes;  // the indexes (virtual tables) the condition reads
  std::vector<std::string> reads;    // those and the tables they read, besides the list's own
};

// The condition over Issues for `word`, in the order of the fields' friendly names. With
// `useIndexes` each LIKE is asked only of the rows whose index holds the word's trigrams, so the
// same rows match without reading every text; a word the indexes cannot find (fewer than three
// characters and the like), a site whose indexes are incomplete, and a word one of the indexes
// names in more than one text in eight (the scan is cheaper then) get the LIKE alone.
WordCondition WordSearchCondition(Database& db, const std::string& word, bool useIndexes);

}  // namespace brisquel
